#include "records/server_records.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>

#include "platform/format.h"
#include "records/schema.h"
#include "shell/log.h"

namespace {

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;
using Clock = std::chrono::steady_clock;

constexpr int kPollSliceMs = 100;  // how often a wait looks at the cut-off

std::string Placeholder(int n) { return Format("$%d", n); }

// libpq tells a refused login only in its message.
bool IsLoginRefused(const std::string& message) {
  for (const char* words : {"authentication failed", "pg_hba.conf", "password", "role \"", "database \"",
                            "permission denied"})
    if (message.find(words) != std::string::npos) return true;
  return false;
}

bool ResultOk(const Result& r) {
  ExecStatusType status = PQresultStatus(r.get());
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string Text(const PGresult* r, int row, int column) {
  return std::string(PQgetvalue(r, row, column), static_cast<size_t>(PQgetlength(r, row, column)));
}

FlashRecord ReadRecord(const PGresult* r, int row) {
  FlashRecord rec;
  int c = 0;
  rec.uid = Text(r, row, c++);
  rec.startUtc = Text(r, row, c++);
  rec.endUtc = Text(r, row, c++);
  rec.elapsedSeconds = std::strtod(PQgetvalue(r, row, c++), nullptr);
  rec.host = Text(r, row, c++);
  rec.version = Text(r, row, c++);
  rec.user = Text(r, row, c++);
  rec.locationIndex = static_cast<std::uint32_t>(std::strtoull(PQgetvalue(r, row, c++), nullptr, 10));
  rec.deviceId = Text(r, row, c++);
  rec.typeCode = static_cast<std::uint32_t>(std::strtoull(PQgetvalue(r, row, c++), nullptr, 10));
  rec.method = Text(r, row, c++);
  rec.imei = Text(r, row, c++);
  rec.package = Text(r, row, c++);
  FilesFromJson(Text(r, row, c++), &rec.files);
  rec.result = static_cast<HRESULT>(static_cast<std::uint32_t>(std::strtoull(PQgetvalue(r, row, c++), nullptr, 10)));
  rec.resultText = Text(r, row, c++);
  rec.outcome = Text(r, row, c++);
  rec.lastStatus = Text(r, row, c++);
  rec.logFile = Text(r, row, c++);
  return rec;
}

}  // namespace

HRESULT CServerRecords::Connect(const std::string& url, std::string* message) {
  constexpr const char* kName = "CServerRecords::Connect";
  conn_.reset();
  char* parseError = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &parseError);
  if (!options) {
    if (message) *message = parseError ? parseError : "the connection string cannot be parsed";
    PQfreemem(parseError);
    TraceResult(E_INVALIDARG, kName, __LINE__);
    return E_INVALIDARG;
  }
  PQconninfoFree(options);
  // The connection string comes first; the time-out is added only where it
  // sets none itself.
  // A server that stops answering mid-transaction fails the call instead of
  // holding the store thread (and the program's exit) forever.
  // The server also ends a statement that waits for a lock too long.
  const char* keys[] = {"connect_timeout", "tcp_user_timeout", "keepalives_idle", "options", "dbname", nullptr};
  std::string timeout = std::to_string(kConnectTimeoutSeconds);
  std::string limits = Format("-c statement_timeout=%d -c lock_timeout=%d", kStatementTimeoutMs, kStatementTimeoutMs);
  const char* values[] = {timeout.c_str(), "15000", "10", limits.c_str(), url.c_str(), nullptr};
  conn_.reset(PQconnectdbParams(keys, values, 1));
  if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK) {
    std::string text = conn_ ? PQerrorMessage(conn_.get()) : "out of memory";
    if (message) *message = text;
    conn_.reset();
    HRESULT hr = IsLoginRefused(text) ? E_ACCESSDENIED : HRESULT_FROM_WIN32(ERROR_NOT_READY);
    TraceResult(hr, kName, __LINE__);
    return hr;
  }
  Exec("SET client_min_messages TO WARNING");
  HRESULT hr = Migrate();
  if (SUCCEEDED(hr)) {
    std::string sql = std::string("INSERT INTO flash_records (") + kRecordColumns +
                      ") VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, $18, $19)"
                      " ON CONFLICT (uid) DO NOTHING";
    Result r = Execute([&](PGconn* c) {
      return PQsendPrepare(c, "insert_record", sql.c_str(), kRecordColumnCount, nullptr);
    });
    if (!ResultOk(r)) hr = conn_ ? E_FAIL : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  }
  if (!TraceResult(hr, kName, __LINE__)) {
    if (message) *message = conn_ ? PQerrorMessage(conn_.get()) : "the server did not answer in time";
    conn_.reset();
  }
  return hr;
}

void CServerRecords::CutOffAt(Clock::time_point when) {
  cutOff_ = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
}

CServerRecords::Result CServerRecords::Execute(const std::function<int(PGconn*)>& send, bool* timedOut) {
  if (timedOut) *timedOut = false;
  if (!conn_ || send(conn_.get()) != 1) return Result(nullptr, &PQclear);
  const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(kStatementTimeoutMs);
  for (;;) {
    if (PQconsumeInput(conn_.get()) != 1) break;  // the connection broke: PQgetResult says so
    if (!PQisBusy(conn_.get())) break;
    Clock::time_point end = std::min(limit, Clock::time_point(std::chrono::nanoseconds(cutOff_.load())));
    if (Clock::now() >= end) {
      conn_.reset();  // nothing more is waited for on this connection
      if (timedOut) *timedOut = true;
      return Result(nullptr, &PQclear);
    }
    pollfd p{PQsocket(conn_.get()), POLLIN, 0};
    ::poll(&p, 1, kPollSliceMs);
  }
  Result last(nullptr, &PQclear);
  while (PGresult* r = PQgetResult(conn_.get())) last.reset(r);
  return last;
}

HRESULT CServerRecords::Exec(const char* sql) {
  bool timedOut = false;
  Result r = Execute([sql](PGconn* c) { return PQsendQuery(c, sql); }, &timedOut);
  if (timedOut) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  return ResultOk(r) ? S_OK : E_FAIL;
}

// Benches that connect at once migrate one after the other: an advisory lock
// held to the end of the transaction.
HRESULT CServerRecords::Migrate() {
  constexpr const char* kName = "CServerRecords::Migrate";
  HRESULT hr = Exec("BEGIN");
  if (SUCCEEDED(hr)) hr = Exec("SELECT pg_advisory_xact_lock(7617460)");
  if (SUCCEEDED(hr)) hr = Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)");
  if (SUCCEEDED(hr)) hr = Exec("INSERT INTO schema_version SELECT 0 WHERE NOT EXISTS (SELECT 1 FROM schema_version)");
  int version = -1;
  if (SUCCEEDED(hr)) {
    Result r = Execute([](PGconn* c) { return PQsendQuery(c, "SELECT version FROM schema_version"); });
    if (ResultOk(r) && PQntuples(r.get()) == 1) version = std::atoi(PQgetvalue(r.get(), 0, 0));
  }
  auto migrations = RecordMigrations(SqlDialect::Postgres);
  if (SUCCEEDED(hr) && (version < 0 || version > static_cast<int>(migrations.size())))
    hr = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  for (size_t n = static_cast<size_t>(version < 0 ? 0 : version); SUCCEEDED(hr) && n < migrations.size(); ++n) {
    for (const std::string& sql : migrations[n])
      if (SUCCEEDED(hr)) hr = Exec(sql.c_str());
    if (SUCCEEDED(hr)) hr = Exec(Format("UPDATE schema_version SET version = %zu", n + 1).c_str());
  }
  if (SUCCEEDED(hr)) hr = Exec("COMMIT");
  if (FAILED(hr) && conn_) Exec("ROLLBACK");
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT CServerRecords::Insert(const std::vector<FlashRecord>& records) {
  constexpr const char* kName = "CServerRecords::Insert";
  if (!conn_) return HRESULT_FROM_WIN32(ERROR_NOT_READY);
  HRESULT hr = Exec("BEGIN");
  for (size_t i = 0; SUCCEEDED(hr) && i < records.size(); ++i) {
    const FlashRecord& r = records[i];
    std::string values[kRecordColumnCount] = {
        r.uid, r.startUtc, r.endUtc, Format("%.17g", r.elapsedSeconds), r.host, r.version, r.user,
        std::to_string(r.locationIndex), r.deviceId, std::to_string(r.typeCode), r.method, r.imei, r.package,
        FilesToJson(r.files), std::to_string(static_cast<std::uint32_t>(r.result)), r.resultText, r.outcome,
        r.lastStatus, r.logFile};
    const char* params[kRecordColumnCount];
    for (int c = 0; c < kRecordColumnCount; ++c) params[c] = values[c].c_str();
    bool timedOut = false;
    Result res = Execute(
        [&](PGconn* c) {
          return PQsendQueryPrepared(c, "insert_record", kRecordColumnCount, params, nullptr, nullptr, 0);
        },
        &timedOut);
    if (timedOut) {
      lastError_ = "the server did not answer in time";
      hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    } else if (!ResultOk(res)) {
      lastError_ = res ? PQresultErrorMessage(res.get()) : "the connection was lost";
      hr = E_FAIL;
    }
  }
  if (SUCCEEDED(hr)) hr = Exec("COMMIT");
  if (FAILED(hr)) {
    // A lost connection is the usual cause: the next attempt connects again.
    // (A statement that took too long has dropped it already.)
    if (conn_ && PQstatus(conn_.get()) != CONNECTION_OK) hr = HRESULT_FROM_WIN32(ERROR_NOT_READY);
    else if (conn_) Exec("ROLLBACK");
    conn_.reset();
  }
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT CServerRecords::Query(const RecordFilter& filter, std::vector<FlashRecord>* out) {
  out->clear();
  if (!conn_) return HRESULT_FROM_WIN32(ERROR_NOT_READY);
  WhereClause where = BuildWhere(filter, Placeholder, "strpos");
  std::string sql = std::string("SELECT ") + kRecordColumns + " FROM flash_records" + where.sql +
                    " ORDER BY start_utc DESC, id DESC";
  std::vector<const char*> params;
  for (const std::string& p : where.params) params.push_back(p.c_str());
  Result r = Execute([&](PGconn* c) {
    return PQsendQueryParams(c, sql.c_str(), static_cast<int>(params.size()), nullptr, params.data(), nullptr, nullptr,
                             0);
  });
  if (!ResultOk(r)) {
    TraceResult(E_FAIL, "CServerRecords::Query", __LINE__);
    return E_FAIL;
  }
  for (int row = 0; row < PQntuples(r.get()); ++row) out->push_back(ReadRecord(r.get(), row));
  return S_OK;
}

HRESULT CServerRecords::Count(long long* count) {
  if (!conn_) return HRESULT_FROM_WIN32(ERROR_NOT_READY);
  Result r = Execute([](PGconn* c) { return PQsendQuery(c, "SELECT count(*) FROM flash_records"); });
  if (!ResultOk(r)) return E_FAIL;
  *count = std::atoll(PQgetvalue(r.get(), 0, 0));
  return S_OK;
}
