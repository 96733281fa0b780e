// One job's outcome, as it is stored and shown.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hresult.h"

struct RecordFile {
  std::string path;    // as the job used it
  std::uint64_t size = 0;
  std::string sha256;  // lowercase hex; empty when the file could not be read
};

// How a job ended: its result, or released while it still ran.
inline constexpr char kOutcomeSucceeded[] = "succeeded";
inline constexpr char kOutcomeFailed[] = "failed";
inline constexpr char kOutcomeReleased[] = "released";

struct FlashRecord {
  std::string uid;         // unique across benches; a server keeps each uid once
  std::string startUtc;    // ISO 8601, "2026-12-08T11:27:56.123Z"
  std::string endUtc;
  double elapsedSeconds = 0;
  std::string host;
  std::string version;     // the program's version
  std::string user;
  std::uint32_t locationIndex = 0;
  std::string deviceId;
  std::uint32_t typeCode = 0;
  std::string method;
  // The identity an NV job named its file after: an IMEI's digits, or
  // "MEID " / "ESN " and the hexadecimal value; empty for other jobs.
  std::string imei;
  std::string package;     // the package folder list of the start
  std::vector<RecordFile> files;
  HRESULT result = S_OK;
  std::string resultText;
  std::string outcome;     // kOutcomeSucceeded, kOutcomeFailed or kOutcomeReleased
  std::string lastStatus;
  std::string logFile;     // the log file's name
};

// Every text of the record made storable on both engines: each byte that is
// not part of valid UTF-8, and each NUL, becomes "?".
void MakeStorable(FlashRecord* record);
std::string StorableText(std::string_view text);

// The current time in ISO 8601 UTC with milliseconds.
std::string UtcNow();
// A fresh 128-bit random uid in hex.
std::string NewRecordUid();

// A JSON string literal of text (quotes, backslashes and control characters escaped).
std::string JsonQuote(const std::string& text);
// The files as a JSON array of {"path","size","sha256"} objects, and back.
// The reader accepts only what the writer writes; false on anything else.
std::string FilesToJson(const std::vector<RecordFile>& files);
bool FilesFromJson(const std::string& json, std::vector<RecordFile>* files);

// The record as one JSON object on one line.
std::string RecordToJsonLine(const FlashRecord& r);
// The CSV header and one row (RFC 4180 quoting); files as "path:size:sha256"
// joined by ";".
std::string RecordCsvHeader();
std::string RecordToCsvRow(const FlashRecord& r);
