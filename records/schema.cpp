#include "records/schema.h"

std::vector<std::vector<std::string>> RecordMigrations(SqlDialect dialect) {
  bool pg = dialect == SqlDialect::Postgres;
  std::string id = pg ? "id BIGSERIAL PRIMARY KEY" : "id INTEGER PRIMARY KEY AUTOINCREMENT";
  std::string real = pg ? "DOUBLE PRECISION" : "REAL";
  std::string big = pg ? "BIGINT" : "INTEGER";
  return {
      // 1: the records.
      {"CREATE TABLE flash_records (" + id +
       ", uid TEXT NOT NULL UNIQUE, start_utc TEXT NOT NULL, end_utc TEXT NOT NULL, elapsed_s " + real +
       " NOT NULL, host TEXT NOT NULL, version TEXT NOT NULL, user_name TEXT NOT NULL, location_index " + big +
       " NOT NULL, device_id TEXT NOT NULL, type_code " + big +
       " NOT NULL, method TEXT NOT NULL, imei TEXT NOT NULL, package TEXT NOT NULL, files TEXT NOT NULL, result " +
       big +
       " NOT NULL, result_text TEXT NOT NULL, outcome TEXT NOT NULL, last_status TEXT NOT NULL, log_file TEXT NOT "
       "NULL)",
       "CREATE INDEX flash_records_start ON flash_records (start_utc)"},
      // 2: which local records a server already holds.
      {"ALTER TABLE flash_records ADD COLUMN delivered INTEGER NOT NULL DEFAULT 0",
       "CREATE INDEX flash_records_waiting ON flash_records (delivered, id)"},
  };
}
