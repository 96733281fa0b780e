#include "cli/records_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/error_text.h"
#include "records/local_records.h"
#include "records/record_query.h"
#include "records/recorder.h"
#include "records/server_records.h"

namespace {

// The filter of the options; false (with a message) for a date that is none.
bool ReadFilter(const ParsedOptions& parsed, RecordFilter* filter) {
  for (const char* name : {"since", "until"}) {
    if (!parsed.Has(name)) continue;
    std::string value = parsed.Value(name);
    std::string* key = std::string(name) == "since" ? &filter->since : &filter->until;
    if (!RecordDateKey(value, std::string(name) == "until", key)) {
      std::fprintf(stderr, "vantor-cli: \"%s\" is not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], UTC)\n",
                   value.c_str());
      return false;
    }
  }
  filter->device = parsed.Value("device");
  filter->package = parsed.Value("package");
  filter->failedOnly = parsed.Has("failed");
  return true;
}

// The server's records when one is set and answers; else this bench's file.
HRESULT ReadRecords(const RecordFilter& filter, std::vector<FlashRecord>* records) {
  RecorderConfig config = DefaultRecorderConfig();
  if (!config.serverUrl.empty()) {
    CServerRecords server;
    std::string message;
    HRESULT hr = server.Connect(config.serverUrl, &message);
    if (SUCCEEDED(hr)) return server.Query(filter, records);
    std::fprintf(stderr, "vantor-cli: the records server cannot be read: %s(0x%08x) %s\n", GetErrorText(hr).c_str(),
                 static_cast<unsigned>(hr), message.c_str());
    std::fprintf(stderr, "vantor-cli: showing this bench's records from \"%s\"\n", config.localPath.c_str());
  }
  CLocalRecords local;
  HRESULT hr = local.Open(config.localPath);
  if (SUCCEEDED(hr)) hr = local.Query(filter, records);
  if (FAILED(hr))
    std::fprintf(stderr, "vantor-cli: \"%s\" cannot be read: %s(0x%08x)\n", config.localPath.c_str(),
                 GetErrorText(hr).c_str(), static_cast<unsigned>(hr));
  return hr;
}

int RunRecords(const ParsedOptions& parsed) {
  RecordFilter filter;
  if (!ReadFilter(parsed, &filter)) return 2;
  if (parsed.Has("json") && parsed.Has("csv")) {
    std::fprintf(stderr, "vantor-cli: --json and --csv exclude each other\n");
    return 2;
  }
  std::vector<FlashRecord> records;
  if (FAILED(ReadRecords(filter, &records))) return 1;
  if (parsed.Has("json")) {
    for (const FlashRecord& r : records) std::printf("%s\n", RecordToJsonLine(r).c_str());
  } else if (parsed.Has("csv")) {
    std::printf("%s\r\n", RecordCsvHeader().c_str());
    for (const FlashRecord& r : records) std::printf("%s\r\n", RecordToCsvRow(r).c_str());
  } else {
    std::fputs(RecordTable(records).c_str(), stdout);
    std::printf("%s\n", RecordSummaryLine(records).c_str());
  }
  return 0;
}

}  // namespace

const CommandSpec kRecordsCommand{
    "records",
    "the flash records, newest first, with a summary line (the server's when one is set)",
    {{"since", 0, "DATE", "records started at or after DATE (YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS], UTC)"},
     {"until", 0, "DATE", "records started at or before DATE (a bare date covers its whole day)"},
     {"device", 'd', "ID", "the records of one device identifier"},
     {"package", 'p', "DIR", "the records whose package folder list holds DIR"},
     {"failed", 0, nullptr, "only jobs that failed or were released"},
     {"json", 0, nullptr, "one JSON object per record"},
     {"csv", 0, nullptr, "CSV with a header line"}},
    RunRecords};
