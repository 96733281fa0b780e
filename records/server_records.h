// The records of a line of benches on a PostgreSQL server, with the schema of
// the local file. Each record is inserted once by its uid, so a batch sent
// again after a lost answer adds nothing twice.
#pragma once
#include <libpq-fe.h>

#include <memory>
#include <string>
#include <vector>

#include "records/flash_record.h"
#include "records/record_query.h"

class CServerRecords {
 public:
  // Seconds a connection attempt may take before the server counts as away.
  static constexpr int kConnectTimeoutSeconds = 3;

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

 private:
  HRESULT Exec(const char* sql);
  HRESULT Migrate();

  std::unique_ptr<PGconn, decltype(&PQfinish)> conn_{nullptr, &PQfinish};
  std::string lastError_;
};
