#include "records/sqlite_db.h"

HRESULT SqliteResult(int code) {
  switch (code & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return S_OK;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return HRESULT_FROM_WIN32(ERROR_BUSY);
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case SQLITE_FULL: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
    case SQLITE_NOMEM: return E_OUTOFMEMORY;
    default: return E_FAIL;
  }
}

bool IsSqliteDamage(int code) { return (code & 0xff) == SQLITE_NOTADB || (code & 0xff) == SQLITE_CORRUPT; }

int SqliteDb::Open(const std::string& path) {
  Close();
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Close();
    return rc;
  }
  sqlite3_extended_result_codes(db_, 0);
  return SQLITE_OK;
}

void SqliteDb::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

int SqliteDb::Exec(const std::string& sql) {
  if (!db_) return SQLITE_MISUSE;
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
}

int SqliteDb::Prepare(const std::string& sql, SqliteStatement* statement) {
  if (!db_) return SQLITE_MISUSE;
  return sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), statement->put(), nullptr);
}
