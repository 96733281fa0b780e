// The read side: which records to show, and the three ways to show them.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "records/flash_record.h"

struct RecordFilter {
  std::string since;    // start_utc at or after this key; "" = open
  std::string until;    // start_utc at or before this key; "" = open
  std::string device;   // exact device identifier
  std::string package;  // one folder of the package folder list
  bool failedOnly = false;  // failed or released
};

// Turns a DATE option (YYYY-MM-DD, optionally followed by "T" or a blank and
// HH:MM, HH:MM:SS or HH:MM:SS.fff, optionally "Z") into a key comparable with
// the stored times. A bare date as the end of a range covers its whole day.
// False for anything else.
bool RecordDateKey(const std::string& text, bool endOfRange, std::string* key);

// The WHERE clause of a filter (with a leading " WHERE", or "") and its
// parameters in order; placeholder(n) spells the n-th parameter (from 1).
struct WhereClause {
  std::string sql;
  std::vector<std::string> params;
};
// findFunction is the engine's substring search returning a position from 1
// ("instr(haystack, needle)" in SQLite, "strpos(haystack, needle)" in PostgreSQL).
WhereClause BuildWhere(const RecordFilter& filter, std::string (*placeholder)(int n), const char* findFunction);

// "total N, succeeded N, failed N, released N; by package: DIR N, ..."
std::string RecordSummaryLine(const std::vector<FlashRecord>& records);
// A fixed-width table, one row per record, in the order given.
std::string RecordTable(const std::vector<FlashRecord>& records);
