#include "cli/job_run.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "cli/output_status.h"
#include "cli/run_signals.h"
#include "jobs/job_record.h"
#include "jobs/status_text.h"
#include "platform/error_text.h"
#include "process/process_kill.h"
#include "shell/log.h"

namespace {

constexpr int kPollPeriodMs = 100;

void TakeBacklog(IDeviceReport* job, std::vector<std::string>* messages) {
  ComPtr<IStatusBacklog> backlog;
  if (SUCCEEDED(job->QueryInterface(IStatusBacklog::kIid, reinterpret_cast<void**>(backlog.ReleaseAndGetAddressOf()))))
    backlog->TakeStatusBacklog(messages);
}

// Reads one row's job: every message it queued since the last poll goes to
// the view first, then the row's state. True when the job has completed.
bool PollRow(RunEntry* entry, JobView* view) {
  IDeviceReport* job = entry->job.Get();
  bool completed = job->IsCompleted();  // before the backlog, so no message can follow it
  std::vector<std::string> messages;
  TakeBacklog(job, &messages);
  JobRow& row = entry->row;
  row.percent = job->GetPercent();
  row.elapsed = job->GetElapsedTime();
  for (const std::string& message : messages) view->Message(row, message);
  if (!messages.empty()) entry->newest = messages.back();
  Bstr status;
  job->GetStatus(&status);
  row.status = status.str();
  RecordJobIfEnded(job, row.device, row.index, row.status);
  row.error = completed && job->HasError();
  row.done = completed;
  row.result = completed ? job->GetResult() : S_FALSE;
  row.englishStatus = completed ? FinalStatusText(row.result, GetEnglishErrorText(row.result), entry->newest) : row.status;
  return completed;
}

// Releases a job that is still running and fails its row with hr.
void ReleaseRow(RunEntry* entry, HRESULT hr, JobView* view) {
  JobRow& row = entry->row;
  TraceResult(hr, "RunJobs", __LINE__);
  WriteLog("%s\t%.2f\t%s", row.device.c_str(), row.elapsed, GetEnglishErrorText(hr).c_str());
  row.done = true;
  row.error = true;
  row.result = hr;
  row.status = FinalStatusText(hr, GetErrorText(hr), entry->newest);
  row.englishStatus = FinalStatusText(hr, GetEnglishErrorText(hr), entry->newest);
  RecordStoppedJob(entry->job.Get(), row.device, hr, row.englishStatus);  // failed with hr, not released
  entry->job.Reset();
  view->Finished(row);
}

// Collects the children that have ended. With a deadline, waits until no
// child is left or the deadline passes; without, takes only those ended.
void ReapChildren(std::chrono::steady_clock::time_point deadline = {}) {
  for (;;) {
    pid_t pid = ::waitpid(-1, nullptr, WNOHANG);
    if (pid > 0) continue;
    if (pid < 0 && errno == EINTR) continue;
    if (pid < 0 || std::chrono::steady_clock::now() >= deadline) return;  // none left, or time is up
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Whatever the run's scripts left behind: every process below this one is
// ended with its descendants. The program is a child subreaper for the run,
// so a script's children that left their parent (a background job whose
// shell was ended, a double fork) are still found here. A few rounds catch
// what was started while the previous round ran. Then the ended children
// are collected, so none outlives the program as a process of its own.
void EndLeftoverProcesses() {
  pid_t self = ::getpid();
  for (int round = 0; round < 3; ++round) {
    ReapChildren();
    CProcessList list;
    if (!list.Snapshot()) break;
    bool any = false;
    for (const ProcessRecord& p : list.processes()) {
      ProcessHandle child;
      if (p.parent != self || FAILED(child.Open(p.pid))) continue;
      any = true;
      KillProcessTree(list, child);
    }
    if (!any) break;
  }
  ReapChildren(std::chrono::steady_clock::now() + std::chrono::seconds(2));
}

}  // namespace

int RunJobs(std::vector<RunEntry>* entries, const RunOptions& options, const RunHooks& hooks, JobView* view) {
  InstallRunSignals();
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::vector<JobRow> rows(entries->size());
  std::vector<bool> finished(entries->size(), false);
  for (;;) {
    // A termination signal, or output that can no longer be written, ends
    // the run: its unfinished jobs are released.
    int signal = PendingStopSignal();
    bool stopping = signal != 0 || view->outputError() != 0;
    size_t left = 0;
    for (size_t i = 0; i < entries->size(); ++i) {
      RunEntry& entry = (*entries)[i];
      if (!finished[i]) {
        if (PollRow(&entry, view)) {
          finished[i] = true;
          view->Finished(entry.row);
        } else if (stopping) {
          ReleaseRow(&entry, HRESULT_FROM_WIN32(ERROR_CANCELLED), view);
          finished[i] = true;
        } else if (options.timeoutSeconds > 0 && entry.row.elapsed >= options.timeoutSeconds) {
          ReleaseRow(&entry, HRESULT_FROM_WIN32(ERROR_TIMEOUT), view);
          finished[i] = true;
        }
        if (finished[i] && hooks.rowFinished) hooks.rowFinished(entry.row);
      }
      rows[i] = entry.row;
      left += !finished[i];
    }
    if (left == 0) {
      EndLeftoverProcesses();
      view->Finish(rows);
      if (signal != 0) return 128 + signal;
      if (view->outputError() != 0) return OutputFailureStatus(view->outputError());
      for (const JobRow& r : rows)
        if (r.error) return 1;
      return 0;
    }
    view->Update(rows);  // a SIGWINCH wakes the wait, so a resize redraws at once
    WaitForSignal(kPollPeriodMs);
  }
}
