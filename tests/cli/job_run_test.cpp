// The polling loop against jobs whose work the test gives.
#include "cli/job_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#include "jobs/job_record.h"
#include "platform/error_text.h"
#include "records/local_records.h"
#include "records/recorder.h"
#include "platform/timing.h"
#include "tests/support/memory_output.h"
#include "tests/support/temp_dir.h"
#include "tests/support/user_locale.h"

namespace {

class CScriptedJob : public CDeviceReport {
 public:
  HRESULT DoWork() override { return work(this); }
  std::function<HRESULT(CScriptedJob*)> work;
};

RunEntry Start(const std::string& device, std::function<HRESULT(CScriptedJob*)> work) {
  CComObject<CScriptedJob>* job = nullptr;
  EXPECT_EQ(CComObject<CScriptedJob>::CreateInstance(&job), S_OK);
  job->work = std::move(work);
  RunEntry entry;
  entry.job = static_cast<IDeviceReport*>(job);
  entry.row.device = device;
  job->StartWork(device);
  return entry;
}


// A job that waits for its phone until it is released; *stopped is set then.
RunEntry StartStuck(std::atomic<bool>* stopped) {
  return Start("stuck", [stopped](CScriptedJob* self) {
    self->ReportStatus("waiting for the phone");
    std::stop_token stop = self->StopToken();
    while (!stop.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    *stopped = true;
    return S_OK;
  });
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

}  // namespace

// A job posts far more messages than polls happen; each is shown once, in
// order, and those still queued at completion come before the final object.
TEST(JobRun, EveryMessageAppearsOnceInOrderBeforeTheFinalObject) {
  std::atomic<bool> go{false};
  std::vector<RunEntry> entries;
  entries.push_back(Start("A", [&](CScriptedJob* self) {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < 500; ++i) self->ReportStatus("a%d", i);
    return S_OK;
  }));
  entries.push_back(Start("B", [&](CScriptedJob* self) {
    while (!go) std::this_thread::yield();
    for (int i = 0; i < 300; ++i) {
      self->ReportStatus("b%d", i);
      if (i % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return E_FAIL;
  }));
  MemoryOutput out;
  JobView view(ViewMode::Json, out.file());
  std::vector<JobRow> finished;
  RunHooks hooks;
  hooks.rowFinished = [&](const JobRow& row) { finished.push_back(row); };
  go = true;
  EXPECT_EQ(RunJobs(&entries, RunOptions{}, hooks, &view), 1);

  int nextA = 0, nextB = 0;
  bool finalA = false, finalB = false;
  for (const std::string& line : Lines(out.Text())) {
    if (line.rfind("{\"device\":\"A\"", 0) == 0) {
      ASSERT_FALSE(finalA) << "a message after the final object";
      if (line.find("\"done\":true") != std::string::npos) finalA = true;
      else EXPECT_NE(line.find("\"status\":\"a" + std::to_string(nextA++) + "\""), std::string::npos) << line;
    } else if (line.rfind("{\"device\":\"B\"", 0) == 0) {
      ASSERT_FALSE(finalB) << "a message after the final object";
      if (line.find("\"done\":true") != std::string::npos) {
        finalB = true;
        EXPECT_NE(line.find("\"error\":true,\"done\":true,\"result\":\"0x80004005\""), std::string::npos) << line;
      } else {
        EXPECT_NE(line.find("\"status\":\"b" + std::to_string(nextB++) + "\""), std::string::npos) << line;
      }
    }
  }
  EXPECT_EQ(nextA, 500);
  EXPECT_EQ(nextB, 300);
  EXPECT_TRUE(finalA && finalB);
  ASSERT_EQ(finished.size(), 2u);  // once per row
  EXPECT_NE(finished[0].device, finished[1].device);
  for (const JobRow& row : finished) EXPECT_EQ(row.result, row.device == "A" ? S_OK : E_FAIL);
}

TEST(JobRun, AJobPastTheTimeLimitIsReleasedAndItsRowFailsWithTimeout) {
  ScopedTimeScale fast(0.05);
  std::atomic<bool> stopped{false};
  std::vector<RunEntry> entries;
  entries.push_back(StartStuck(&stopped));
  entries.push_back(Start("quick", [](CScriptedJob*) { return S_OK; }));
  MemoryOutput out;
  JobView view(ViewMode::Lines, out.file());
  std::vector<JobRow> finished;
  RunHooks hooks;
  hooks.rowFinished = [&](const JobRow& row) { finished.push_back(row); };
  RunOptions options;
  options.timeoutSeconds = 0.3;
  auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(RunJobs(&entries, options, hooks, &view), 1);
  double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
  EXPECT_GE(took, 0.3);
  EXPECT_LT(took, 5.0);
  EXPECT_TRUE(stopped) << "the job was not released";
  EXPECT_FALSE(entries[0].job) << "the loop still holds the job";
  ASSERT_EQ(finished.size(), 2u);
  const JobRow& timedOut = finished[0].device == "stuck" ? finished[0] : finished[1];
  EXPECT_EQ(timedOut.result, HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_TRUE(timedOut.error && timedOut.done);
  EXPECT_EQ(timedOut.status, GetErrorText(HRESULT_FROM_WIN32(ERROR_TIMEOUT)) + "(0x800705b4: waiting for the phone)");
  EXPECT_NE(out.Text().find("stuck 0% 0s " + timedOut.status + " [failed]"), std::string::npos) << out.Text();
}

// The record of a row the time limit failed says so: failed, with the
// timeout's code and the row's text, not "released" while still in progress.
TEST(JobRun, ARowFailedByTheTimeLimitIsRecordedAsFailed) {
  ScopedTimeScale fast(0.05);
  TempDir dir;
  RecorderConfig config;
  config.localPath = dir / "records.db";
  CRecorder recorder(config);
  ScopedJobRecorder scope(&recorder);
  std::vector<RunEntry> entries;
  entries.push_back(Start("stuck", [](CScriptedJob* self) {
    self->ReportStatus("waiting for the phone");
    while (!self->StopToken().stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return S_OK;
  }));
  NoteJobStarted(entries[0].job.Get(), "stuck", false, "/pkg", JobSettings{});
  MemoryOutput out;
  JobView view(ViewMode::Lines, out.file());
  std::string status;
  RunHooks hooks;
  hooks.rowFinished = [&](const JobRow& row) { status = row.status; };
  RunOptions options;
  options.timeoutSeconds = 0.2;
  EXPECT_EQ(RunJobs(&entries, options, hooks, &view), 1);
  ASSERT_TRUE(recorder.Flush(std::chrono::seconds(10)));
  CLocalRecords store;
  std::vector<FlashRecord> records;
  ASSERT_EQ(store.Open(dir / "records.db"), S_OK);
  ASSERT_EQ(store.Query({}, &records), S_OK);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].outcome, kOutcomeFailed);
  EXPECT_EQ(records[0].result, HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_EQ(records[0].resultText, GetErrorText(HRESULT_FROM_WIN32(ERROR_TIMEOUT)));
  EXPECT_EQ(records[0].lastStatus, status);
}

// Under a zh_CN locale the lines a technician reads carry the Chinese texts;
// --json keeps the English ones, for a job's own failure and for a row the
// time limit failed.
TEST(JobRun, RowTextsFollowTheLocaleAndJsonStaysEnglish) {
  ScopedUserLocale chinese("zh_CN.UTF-8");
  ScopedTimeScale fast(0.05);
  for (ViewMode mode : {ViewMode::Lines, ViewMode::Json}) {
    std::vector<RunEntry> entries;
    entries.push_back(Start("denied", [](CScriptedJob* self) {
      self->ReportStatus("Open disk");
      return E_ACCESSDENIED;
    }));
    entries.push_back(Start("stuck", [](CScriptedJob* self) {
      self->ReportStatus("waiting");
      std::stop_token stop = self->StopToken();
      while (!stop.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return S_OK;
    }));
    MemoryOutput out;
    JobView view(mode, out.file());
    RunOptions options;
    options.timeoutSeconds = 0.3;
    EXPECT_EQ(RunJobs(&entries, options, RunHooks{}, &view), 1);
    std::string text = out.Text();
    if (mode == ViewMode::Lines) {
      EXPECT_NE(text.find("拒绝访问。(0x80070005: Open disk) [failed]"), std::string::npos) << text;
      EXPECT_NE(text.find("操作超时。(0x800705b4: waiting) [failed]"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find("\"status\":\"Access is denied.(0x80070005: Open disk)\""), std::string::npos) << text;
      EXPECT_NE(text.find("\"status\":\"The operation timed out.(0x800705b4: waiting)\""), std::string::npos) << text;
      EXPECT_EQ(text.find("拒绝"), std::string::npos) << text;
    }
  }
}

// A full disk (or a closed pipe) under the output ends the run as a
// termination signal does: the jobs are released, their rows fail as
// cancelled, and the status tells what happened.
TEST(JobRun, OutputThatCannotBeWrittenReleasesTheJobsAndEndsTheRun) {
  std::atomic<bool> stopped{false};
  std::vector<RunEntry> entries;
  entries.push_back(StartStuck(&stopped));
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  JobView view(ViewMode::Json, full);
  std::vector<JobRow> finished;
  RunHooks hooks;
  hooks.rowFinished = [&](const JobRow& row) { finished.push_back(row); };
  auto begun = std::chrono::steady_clock::now();
  EXPECT_EQ(RunJobs(&entries, RunOptions{}, hooks, &view), 74);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
  std::fclose(full);
  EXPECT_TRUE(stopped) << "the job was not released";
  ASSERT_EQ(finished.size(), 1u);
  EXPECT_EQ(finished[0].result, HRESULT_FROM_WIN32(ERROR_CANCELLED));
}
