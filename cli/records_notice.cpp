#include "cli/records_notice.h"

#include <chrono>
#include <cstdio>

#include "jobs/job_record.h"
#include "platform/error_text.h"
#include "records/local_records.h"

namespace {

// A store held by another program is waited for this long before it counts
// as failed; the run waits a little longer for that answer.
constexpr auto kRecordsWait = std::chrono::milliseconds(CLocalRecords::kBusyTimeoutMs + 2000);

}  // namespace

void ReportRecordsFault() {
  bool notKept = false;
  HRESULT hr = TakeRecordsFaultOfRun(kRecordsWait, &notKept);
  if (SUCCEEDED(hr) || !notKept) return;  // records waiting for a server are kept
  std::fprintf(stderr, "vantor-cli: the flash records of this run could not be kept: %s(0x%08x); see the log\n",
               GetErrorText(hr).c_str(), static_cast<unsigned>(hr));
}
