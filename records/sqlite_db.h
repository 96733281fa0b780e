// A thin owner of an SQLite connection and its prepared statements, with
// SQLite's codes turned into HRESULTs.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "platform/hresult.h"

// SQLITE_BUSY -> ERROR_BUSY, read-only or unopenable -> ERROR_ACCESS_DENIED,
// full -> ERROR_DISK_FULL, not a database or corrupt -> ERROR_BAD_FORMAT,
// anything else E_FAIL.
HRESULT SqliteResult(int code);
bool IsSqliteDamage(int code);

class SqliteStatement {
 public:
  SqliteStatement() = default;
  ~SqliteStatement() { sqlite3_finalize(stmt_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  sqlite3_stmt* get() const { return stmt_; }
  sqlite3_stmt** put() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return &stmt_;
  }
  void BindText(int column, const std::string& text) {
    sqlite3_bind_text(stmt_, column, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void BindInt(int column, std::int64_t value) { sqlite3_bind_int64(stmt_, column, value); }
  void BindReal(int column, double value) { sqlite3_bind_double(stmt_, column, value); }
  std::string Text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt_, column)))
                : std::string();
  }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  double Real(int column) const { return sqlite3_column_double(stmt_, column); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteDb {
 public:
  SqliteDb() = default;
  ~SqliteDb() { Close(); }
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Opens (creating) the file; the raw SQLite code.
  int Open(const std::string& path);
  void Close();
  void SetBusyTimeout(int ms) { sqlite3_busy_timeout(db_, ms); }
  bool is_open() const { return db_ != nullptr; }
  // Runs statements that return nothing; the raw SQLite code.
  int Exec(const std::string& sql);
  int Prepare(const std::string& sql, SqliteStatement* statement);
  std::string LastError() const { return db_ ? sqlite3_errmsg(db_) : "not open"; }

 private:
  sqlite3* db_ = nullptr;
};
