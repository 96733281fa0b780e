#include "records/local_records.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

#include "platform/format.h"
#include "platform/home_folder.h"
#include "platform/path_name.h"
#include "records/schema.h"
#include "shell/log.h"

namespace {

std::string Placeholder(int n) { return Format("?%d", n); }

std::string CompactUtcStamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
  return text;
}

void BindRecord(SqliteStatement& s, const FlashRecord& r) {
  int c = 1;
  s.BindText(c++, r.uid);
  s.BindText(c++, r.startUtc);
  s.BindText(c++, r.endUtc);
  s.BindReal(c++, r.elapsedSeconds);
  s.BindText(c++, r.host);
  s.BindText(c++, r.version);
  s.BindText(c++, r.user);
  s.BindInt(c++, r.locationIndex);
  s.BindText(c++, r.deviceId);
  s.BindInt(c++, r.typeCode);
  s.BindText(c++, r.method);
  s.BindText(c++, r.imei);
  s.BindText(c++, r.package);
  s.BindText(c++, FilesToJson(r.files));
  s.BindInt(c++, static_cast<std::uint32_t>(r.result));
  s.BindText(c++, r.resultText);
  s.BindText(c++, r.outcome);
  s.BindText(c++, r.lastStatus);
  s.BindText(c++, r.logFile);
}

// The record in columns first .. first + kRecordColumnCount - 1.
FlashRecord ReadRecord(const SqliteStatement& s, int first) {
  FlashRecord r;
  int c = first;
  r.uid = s.Text(c++);
  r.startUtc = s.Text(c++);
  r.endUtc = s.Text(c++);
  r.elapsedSeconds = s.Real(c++);
  r.host = s.Text(c++);
  r.version = s.Text(c++);
  r.user = s.Text(c++);
  r.locationIndex = static_cast<std::uint32_t>(s.Int(c++));
  r.deviceId = s.Text(c++);
  r.typeCode = static_cast<std::uint32_t>(s.Int(c++));
  r.method = s.Text(c++);
  r.imei = s.Text(c++);
  r.package = s.Text(c++);
  FilesFromJson(s.Text(c++), &r.files);
  r.result = static_cast<HRESULT>(static_cast<std::uint32_t>(s.Int(c++)));
  r.resultText = s.Text(c++);
  r.outcome = s.Text(c++);
  r.lastStatus = s.Text(c++);
  r.logFile = s.Text(c++);
  return r;
}

// Steps a statement to its end; the raw SQLite code of the last step.
int StepToEnd(SqliteStatement& s) {
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
  }
  return rc;
}

}  // namespace

std::string DefaultRecordsPath() {
  if (const char* db = std::getenv("VANTOR_RECORDS_DB"); db && *db) return db;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return std::string(state) + "/vantor/records.db";
  std::string home = HomeFolder();
  if (home.empty()) return std::string();
  return home + "/.local/state/vantor/records.db";
}

HRESULT CLocalRecords::Open(const std::string& path, int busyTimeoutMs) {
  constexpr const char* kName = "CLocalRecords::Open";
  path_ = path;
  busyTimeoutMs_ = busyTimeoutMs;
  movedAside_.clear();
  if (path.empty()) {
    TraceResult(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), kName, __LINE__);
    return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  std::error_code ignored;  // a folder that cannot be made fails the open below
  std::filesystem::create_directories(ParentFolder(path), ignored);
  bool damaged = false;
  HRESULT hr = OpenWaitingForOthers(&damaged);
  if (damaged) {
    TraceResult(hr, kName, __LINE__);
    hr = MoveAside();
    if (TraceResult(hr, kName, __LINE__)) hr = OpenWaitingForOthers(&damaged);
  }
  if (!TraceResult(hr, kName, __LINE__)) db_.Close();
  return hr;
}

// SQLite refuses a connection at once, without its busy time-out, where
// waiting could deadlock: two connections that set up one new file at the
// same moment each hold a lock the other needs. The one refused lets go of
// the file and tries again, until the busy time-out has passed.
HRESULT CLocalRecords::OpenWaitingForOthers(bool* damaged) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busyTimeoutMs_);
  for (;;) {
    HRESULT hr = OpenOnce(damaged);
    if (hr != HRESULT_FROM_WIN32(ERROR_BUSY) || std::chrono::steady_clock::now() >= deadline) return hr;
    db_.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// One attempt; *damaged when the file is not a usable record store.
HRESULT CLocalRecords::OpenOnce(bool* damaged) {
  *damaged = false;
  int rc = db_.Open(path_);
  if (rc != SQLITE_OK) return SqliteResult(rc);
  db_.SetBusyTimeout(busyTimeoutMs_);
  // WAL lets readers and one writer of several processes work at once;
  // NORMAL syncing keeps every committed transaction across a killed process.
  SqliteStatement mode;
  rc = db_.Prepare("PRAGMA journal_mode=WAL", &mode);
  if (rc == SQLITE_OK) rc = StepToEnd(mode);
  if (rc == SQLITE_DONE) rc = db_.Exec("PRAGMA synchronous=NORMAL");
  bool foreign = false;
  HRESULT hr = rc == SQLITE_OK ? Migrate(&foreign) : SqliteResult(rc);
  *damaged = IsSqliteDamage(rc) || foreign || hr == HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  if (*damaged) {
    db_.Close();
    return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  }
  return hr;
}

int CLocalRecords::SchemaVersion() {
  SqliteStatement s;
  if (db_.Prepare("SELECT version FROM schema_version", &s) != SQLITE_OK || sqlite3_step(s.get()) != SQLITE_ROW) return -1;
  return static_cast<int>(s.Int(0));
}

// Applies the missing migrations in one write transaction, so two processes
// that open a new file at once do it once. A file with tables of its own but
// no schema_version, or with a version newer than this program knows, is
// someone else's.
HRESULT CLocalRecords::Migrate(bool* foreign) {
  int rc = db_.Exec("BEGIN IMMEDIATE");
  if (rc != SQLITE_OK) return SqliteResult(rc);
  auto fail = [&](int code) {
    db_.Exec("ROLLBACK");
    return SqliteResult(code);
  };
  SqliteStatement tables;
  rc = db_.Prepare("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'", &tables);
  if (rc != SQLITE_OK) return fail(rc);
  bool any = false, versioned = false;
  while ((rc = sqlite3_step(tables.get())) == SQLITE_ROW) {
    any = true;
    versioned = versioned || tables.Text(0) == "schema_version";
  }
  if (rc != SQLITE_DONE) return fail(rc);
  if (any && !versioned) {
    *foreign = true;
    return fail(SQLITE_NOTADB);
  }
  if (!versioned) {
    rc = db_.Exec("CREATE TABLE schema_version (version INTEGER NOT NULL); INSERT INTO schema_version VALUES (0)");
    if (rc != SQLITE_OK) return fail(rc);
  }
  int version = SchemaVersion();
  auto migrations = RecordMigrations(SqlDialect::Sqlite);
  if (version < 0 || version > static_cast<int>(migrations.size())) {
    *foreign = true;
    return fail(SQLITE_NOTADB);
  }
  for (size_t n = static_cast<size_t>(version); n < migrations.size(); ++n) {
    for (const std::string& sql : migrations[n])
      if ((rc = db_.Exec(sql)) != SQLITE_OK) return fail(rc);
    if ((rc = db_.Exec(Format("UPDATE schema_version SET version = %zu", n + 1))) != SQLITE_OK) return fail(rc);
  }
  rc = db_.Exec("COMMIT");
  return rc == SQLITE_OK ? S_OK : fail(rc);
}

HRESULT CLocalRecords::MoveAside() {
  std::string target = path_ + ".damaged-" + CompactUtcStamp();
  for (int n = 2; ::access(target.c_str(), F_OK) == 0; ++n) target = path_ + ".damaged-" + CompactUtcStamp() + Format("-%d", n);
  if (::rename(path_.c_str(), target.c_str()) != 0) return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
  // The journal files belong to the moved file; a new store must not read them.
  for (const char* suffix : {"-wal", "-shm"}) ::rename((path_ + suffix).c_str(), (target + suffix).c_str());
  movedAside_ = target;
  WriteLog("CLocalRecords::Open: \"%s\" is not a record store; moved aside to \"%s\"", path_.c_str(), target.c_str());
  return S_OK;
}

HRESULT CLocalRecords::Insert(const std::vector<FlashRecord>& records) {
  constexpr const char* kName = "CLocalRecords::Insert";
  int rc = db_.Exec("BEGIN IMMEDIATE");
  SqliteStatement insert;
  if (rc == SQLITE_OK)
    rc = db_.Prepare(std::string("INSERT OR IGNORE INTO flash_records (") + kRecordColumns +
                         ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19)",
                     &insert);
  for (size_t i = 0; rc == SQLITE_OK && i < records.size(); ++i) {
    sqlite3_reset(insert.get());
    BindRecord(insert, records[i]);
    rc = sqlite3_step(insert.get());
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc == SQLITE_OK) rc = db_.Exec("COMMIT");
  if (rc != SQLITE_OK) db_.Exec("ROLLBACK");
  HRESULT hr = SqliteResult(rc);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT CLocalRecords::Waiting(size_t limit, std::vector<WaitingRecord>* out) {
  out->clear();
  SqliteStatement s;
  int rc = db_.Prepare(std::string("SELECT id, ") + kRecordColumns +
                           " FROM flash_records WHERE delivered = 0 ORDER BY id LIMIT ?1",
                       &s);
  if (rc == SQLITE_OK) {
    s.BindInt(1, static_cast<std::int64_t>(limit));
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out->push_back({s.Int(0), ReadRecord(s, 1)});
  }
  HRESULT hr = SqliteResult(rc);
  TraceResult(hr, "CLocalRecords::Waiting", __LINE__);
  return hr;
}

HRESULT CLocalRecords::MarkDelivered(const std::vector<std::int64_t>& ids) {
  int rc = db_.Exec("BEGIN IMMEDIATE");
  SqliteStatement mark;
  if (rc == SQLITE_OK) rc = db_.Prepare("UPDATE flash_records SET delivered = 1 WHERE id = ?1", &mark);
  for (size_t i = 0; rc == SQLITE_OK && i < ids.size(); ++i) {
    sqlite3_reset(mark.get());
    mark.BindInt(1, ids[i]);
    rc = sqlite3_step(mark.get());
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc == SQLITE_OK) rc = db_.Exec("COMMIT");
  if (rc != SQLITE_OK) db_.Exec("ROLLBACK");
  HRESULT hr = SqliteResult(rc);
  TraceResult(hr, "CLocalRecords::MarkDelivered", __LINE__);
  return hr;
}

HRESULT CLocalRecords::Query(const RecordFilter& filter, std::vector<FlashRecord>* out) {
  out->clear();
  WhereClause where = BuildWhere(filter, Placeholder, "instr");
  SqliteStatement s;
  int rc = db_.Prepare(std::string("SELECT ") + kRecordColumns + " FROM flash_records" + where.sql +
                           " ORDER BY start_utc DESC, id DESC",
                       &s);
  if (rc == SQLITE_OK) {
    for (size_t i = 0; i < where.params.size(); ++i) s.BindText(static_cast<int>(i + 1), where.params[i]);
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out->push_back(ReadRecord(s, 0));
  }
  HRESULT hr = SqliteResult(rc);
  TraceResult(hr, "CLocalRecords::Query", __LINE__);
  return hr;
}
