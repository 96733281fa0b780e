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

enum class Output { Table, Json, Csv };

void Usage() {
  std::fprintf(stderr,
               "usage: vantor-cli records [--since DATE] [--until DATE] [--device ID] [--package DIR] [--failed]\n"
               "                          [--json|--csv]\n"
               "  DATE: YYYY-MM-DD or YYYY-MM-DDTHH:MM[:SS] in UTC\n");
}

bool Parse(int argc, char** argv, RecordFilter* filter, Output* output) {
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--failed") {
      filter->failedOnly = true;
    } else if (arg == "--json" || arg == "--csv") {
      if (*output != Output::Table) return false;
      *output = arg == "--json" ? Output::Json : Output::Csv;
    } else if (i + 1 < argc && (arg == "--since" || arg == "--until")) {
      if (!RecordDateKey(argv[++i], arg == "--until", arg == "--since" ? &filter->since : &filter->until)) {
        std::fprintf(stderr, "vantor-cli: \"%s\" is not a date\n", argv[i]);
        return false;
      }
    } else if (i + 1 < argc && arg == "--device") {
      filter->device = argv[++i];
    } else if (i + 1 < argc && arg == "--package") {
      filter->package = argv[++i];
    } else {
      return false;
    }
  }
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

}  // namespace

int RunRecordsCommand(int argc, char** argv) {
  RecordFilter filter;
  Output output = Output::Table;
  if (!Parse(argc, argv, &filter, &output)) {
    Usage();
    return 2;
  }
  std::vector<FlashRecord> records;
  if (FAILED(ReadRecords(filter, &records))) return 1;
  if (output == Output::Json) {
    for (const FlashRecord& r : records) std::printf("%s\n", RecordToJsonLine(r).c_str());
  } else if (output == Output::Csv) {
    std::printf("%s\r\n", RecordCsvHeader().c_str());
    for (const FlashRecord& r : records) std::printf("%s\r\n", RecordToCsvRow(r).c_str());
  } else {
    std::fputs(RecordTable(records).c_str(), stdout);
    std::printf("%s\n", RecordSummaryLine(records).c_str());
  }
  return 0;
}
