// The record schema, the same on both engines, as numbered migrations. A
// store's schema_version table holds the number of the last one applied;
// opening a store applies the missing ones in order, in one transaction.
#pragma once
#include <string>
#include <vector>

enum class SqlDialect { Sqlite, Postgres };

// Migration n (from 1) is element n - 1: the statements that take a store
// from version n - 1 to n.
std::vector<std::vector<std::string>> RecordMigrations(SqlDialect dialect);

// The record columns in the order every insert and select uses.
inline constexpr char kRecordColumns[] =
    "uid, start_utc, end_utc, elapsed_s, host, version, user_name, location_index, device_id, type_code, method, "
    "imei, package, files, result, result_text, outcome, last_status, log_file";
inline constexpr int kRecordColumnCount = 19;
