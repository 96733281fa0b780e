// The polling loop of a run: every 100 ms each started job is read into its
// row and shown, until every row has reached its final state, a time limit
// has released a job, or a termination signal or lost output has ended the
// run.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "cli/job_view.h"
#include "jobs/device_report.h"

// One phone of the run, with the job started for it.
struct RunEntry {
  JobRow row;  // device and index filled in by the caller
  ComPtr<IDeviceReport> job;
  std::string newest;  // the newest status message read from the job
};

struct RunOptions {
  // A job still running after this many seconds is released and its row
  // fails with HRESULT_FROM_WIN32(ERROR_TIMEOUT); 0 for no limit.
  double timeoutSeconds = 0;
};

// Points where a caller can add its own work to the loop.
struct RunHooks {
  // Once per row, when it has reached its final state (completed, timed out
  // or interrupted); row.result is then final.
  std::function<void(const JobRow& row)> rowFinished;
};

// Polls the entries until each has finished. Returns 0 when every row
// succeeded, 1 when one failed, 128 plus the signal's number when a
// termination signal ended the run, or OutputFailureStatus when the view's
// output failed (a closed pipe, a full disk). Those two end the run at once:
// its unfinished jobs are released and their rows fail with
// HRESULT_FROM_WIN32(ERROR_CANCELLED).
int RunJobs(std::vector<RunEntry>* entries, const RunOptions& options, const RunHooks& hooks, JobView* view);
