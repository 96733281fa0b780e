// The records of a line of benches on a PostgreSQL server, with the schema of
// the local file. Each record is inserted once by its uid, so a batch sent
// again after a lost answer adds nothing twice.
#pragma once
#include <libpq-fe.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "records/flash_record.h"
#include "records/record_query.h"

class CServerRecords {
 public:
  // Seconds a connection attempt may take before the server counts as away.
  static constexpr int kConnectTimeoutSeconds = 3;
  // Milliseconds one statement may take, waiting for a lock included, before
  // the connection is dropped: a server that holds a lock or whose process
  // is stopped never holds the store thread.
  static constexpr int kStatementTimeoutMs = 10000;

  // Connects and brings the schema up to date. A connection string that
  // cannot be parsed is E_INVALIDARG; a server that refuses the login is
  // E_ACCESSDENIED; one that cannot be reached is
  // HRESULT_FROM_WIN32(ERROR_NOT_READY). *message gets the server's words.
  HRESULT Connect(const std::string& url, std::string* message = nullptr);
  bool connected() const { return conn_ != nullptr; }
  void Disconnect() { conn_.reset(); }

  // Inserts the records in one transaction, skipping uids the server holds.
  HRESULT Insert(const std::vector<FlashRecord>& records);
  HRESULT Query(const RecordFilter& filter, std::vector<FlashRecord>* out);
  // How many records the server holds.
  HRESULT Count(long long* count);
  // The server's words about the last failed insert.
  const std::string& lastError() const { return lastError_; }
  // From any thread: no statement runs past this moment; one under way then
  // ends with HRESULT_FROM_WIN32(ERROR_TIMEOUT) and the connection is dropped.
  void CutOffAt(std::chrono::steady_clock::time_point when);

 private:
  using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;
  // Sends with send and waits for the last result, at most the statement's
  // time and never past the cut-off; null (the connection dropped) when the
  // wait ended first, *timedOut then true.
  Result Execute(const std::function<int(PGconn*)>& send, bool* timedOut = nullptr);
  HRESULT Exec(const char* sql);
  HRESULT Migrate();

  std::unique_ptr<PGconn, decltype(&PQfinish)> conn_{nullptr, &PQfinish};
  std::string lastError_;
  std::atomic<std::int64_t> cutOff_{INT64_MAX};  // steady clock, nanoseconds
};
