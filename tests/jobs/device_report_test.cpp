#include "jobs/device_report.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <condition_variable>
#include <functional>
#include <regex>

#include "jobs/forced_termination.h"
#include "jobs/phone_lock.h"
#include "jobs/refused_job.h"
#include "jobs/status_report.h"
#include "jobs/status_text.h"
#include "platform/error_text.h"
#include "platform/ticks.h"
#include "platform/timing.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "shell/log.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/user_locale.h"

namespace {

std::atomic<int> g_jobsDestroyed{0};

// A job whose work is given by the test.
class CTestJob : public CDeviceReport {
 public:
  ~CTestJob() override { ++g_jobsDestroyed; }
  HRESULT DoWork() override {
    ++runs;
    return work ? work(this) : S_OK;
  }
  void SetLastEvent() { lastEvent = true; }

  std::function<HRESULT(CTestJob*)> work;
  std::atomic<int> runs{0};
  std::atomic<bool> lastEvent{false};
};

// Opens and closes once; waiters block until it is open.
class Gate {
 public:
  void Open() {
    std::lock_guard l(m_);
    open_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock l(m_);
    cv_.wait(l, [&] { return open_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
};

ComPtr<CComObject<CTestJob>> NewJob(std::function<HRESULT(CTestJob*)> work = nullptr) {
  CComObject<CTestJob>* p = nullptr;
  EXPECT_EQ(CComObject<CTestJob>::CreateInstance(&p), S_OK);
  p->work = std::move(work);
  return ComPtr<CComObject<CTestJob>>(p);
}

std::string Status(IDeviceReport* job) {
  Bstr text;
  EXPECT_EQ(job->GetStatus(&text), S_OK);
  return text.str();
}

class JobTest : public ::testing::Test {
 protected:
  std::string Log() { return log_.Text(); }
  LogCapture log_;
};

}  // namespace

template <>
struct StatusReportTraits<CTestJob> {
  static constexpr double kStep = 0.0078125;  // exact in binary, so sums are exact
  static constexpr const char* kCreateName = "CStatusReport<class CTestJob>::CreateInstance";
  static constexpr bool kRecordsLastEvent = true;
};

TEST_F(JobTest, ANeverStartedJobReadsAsFailedWithOutOfMemory) {
  auto job = NewJob();
  EXPECT_TRUE(job->IsCompleted());
  EXPECT_TRUE(job->HasError());
  EXPECT_EQ(job->GetPercent(), 0);
  EXPECT_EQ(job->GetResult(), E_OUTOFMEMORY);
  EXPECT_EQ(job->GetElapsedTime(), 0.0);
  EXPECT_EQ(Status(job.Get()), GetErrorText(E_OUTOFMEMORY) + "(0x8007000e)");
  EXPECT_EQ(job->GetStatus(nullptr), E_POINTER);
  // The failure is traced once, by the first poll; the window's later
  // polls, every 100 ms, are silent.
  for (int tick = 0; tick < 10; ++tick) {
    job->GetPercent();
    job->HasError();
    Status(job.Get());
  }
  std::string log = Log();
  size_t first = log.find("CDeviceReport::HasError(");
  EXPECT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find("CDeviceReport::", first + 1), std::string::npos) << log;
}

TEST_F(JobTest, TheNewestMessageStaysAndABacklogDrainsOnePerCall) {
  Gate gate;
  auto job = NewJob([&](CTestJob*) {
    gate.Wait();
    return S_OK;
  });
  job->StartWork("COM7");
  EXPECT_FALSE(job->IsCompleted());
  EXPECT_EQ(Status(job.Get()), "");
  job->ReportStatus("only %d", 1);
  EXPECT_EQ(Status(job.Get()), "only 1");
  EXPECT_EQ(Status(job.Get()), "only 1");
  job->ReportStatus("second");
  job->ReportStatus("third");
  EXPECT_EQ(Status(job.Get()), "only 1");
  EXPECT_EQ(Status(job.Get()), "second");
  EXPECT_EQ(Status(job.Get()), "third");
  EXPECT_EQ(Status(job.Get()), "third");
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }));
  EXPECT_TRUE(std::regex_search(Log(), std::regex("COM7\t[0-9]+\\.[0-9]{2}\tonly 1\r\n")));
}

TEST_F(JobTest, ASuccessfulJobShowsFullProgressAndOnlyTheSystemText) {
  auto job = NewJob([](CTestJob* self) {
    self->AddProgress(12.5);
    self->ReportStatus("half way");
    return S_OK;
  });
  job->StartWork("disk0");
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }));
  EXPECT_FALSE(job->HasError());
  EXPECT_EQ(job->GetPercent(), 100);
  EXPECT_EQ(Status(job.Get()), GetErrorText(S_OK));
  EXPECT_EQ(job->GetDeviceId(), "disk0");
}

TEST_F(JobTest, AFailedJobClampsOrTruncatesItsProgressAndNamesTheLastMessage) {
  auto over = NewJob([](CTestJob* self) {
    self->AddProgress(250.0);
    return E_FAIL;
  });
  auto partial = NewJob([](CTestJob* self) {
    self->AddProgress(37.9);
    self->ReportStatus("Write32 address 0x2a000000, size 1024");
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  });
  auto negative = NewJob([](CTestJob* self) {
    self->AddProgress(-5.0);
    return E_FAIL;
  });
  over->StartWork("a");
  partial->StartWork("b");
  negative->StartWork("c");
  ASSERT_TRUE(WaitUntil([&] { return over->IsCompleted() && partial->IsCompleted() && negative->IsCompleted(); }));
  EXPECT_EQ(over->GetPercent(), 100);
  EXPECT_EQ(partial->GetPercent(), 37);
  EXPECT_EQ(negative->GetPercent(), 0);
  EXPECT_EQ(Status(over.Get()), GetErrorText(E_FAIL) + "(0x80004005)");
  EXPECT_EQ(Status(partial.Get()),
            GetErrorText(HRESULT_FROM_WIN32(ERROR_INVALID_DATA)) + "(0x8007000d: Write32 address 0x2a000000, size 1024)");
}

TEST_F(JobTest, StartingTwiceRunsOneThreadAndKeepsTheFirstRun) {
  Gate gate;
  auto job = NewJob([&](CTestJob*) {
    gate.Wait();
    return S_OK;
  });
  job->StartWork("first");
  job->ReportStatus("kept");
  job->AddProgress(40.0);
  job->StartWork("second");
  EXPECT_EQ(job->GetDeviceId(), "first");
  EXPECT_EQ(Status(job.Get()), "kept");
  EXPECT_EQ(job->GetPercent(), 40);
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }));
  job->StartWork("third");
  EXPECT_EQ(job->runs, 1);
  EXPECT_TRUE(job->IsCompleted());
}

TEST_F(JobTest, ElapsedTimeGrowsWhileRunningAndFreezesAtCompletion) {
  Gate gate;
  auto job = NewJob([&](CTestJob*) {
    gate.Wait();
    return S_OK;
  });
  job->StartWork("x");
  double first = job->GetElapsedTime();
  ASSERT_TRUE(WaitUntil([&] { return job->GetElapsedTime() >= first + 0.02; }));
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }));
  double frozen = job->GetElapsedTime();
  EXPECT_GE(frozen, first + 0.02);
  DWORD now = GetTickCount();
  ASSERT_TRUE(WaitUntil([&] { return GetTickCount() - now >= 20; }));
  EXPECT_EQ(job->GetElapsedTime(), frozen);
}

TEST_F(JobTest, ReleasingARunningJobStopsAWorkerThatHonoursTheStopRequest) {
  int destroyedBefore = g_jobsDestroyed;
  bool forcedBefore = ForcedTermination();
  auto job = NewJob([](CTestJob* self) {
    std::stop_token stop = self->StopToken();
    while (WaitUnlessStopped(stop, 10)) {
    }
    return E_ABORT;
  });
  job->StartWork("x");
  job.Reset();
  EXPECT_EQ(g_jobsDestroyed, destroyedBefore + 1);
  EXPECT_EQ(ForcedTermination(), forcedBefore);
}

TEST_F(JobTest, AWorkerThatDoesNotStopIsLeftRunningAndOwnsItsJob) {
  ScopedTimeScale fast(0.05);  // the 1000 ms grace period becomes 50 ms
  int destroyedBefore = g_jobsDestroyed;
  Gate gate;
  std::atomic<bool> touchedAfterRelease{false};
  auto job = NewJob([&](CTestJob* self) {
    gate.Wait();
    // The object must still be whole: this touches its lock and queue.
    self->ReportStatus("still here");
    self->AddProgress(1.0);
    touchedAfterRelease = true;
    return S_OK;
  });
  job->StartWork("stuck");
  job.Reset();
  EXPECT_TRUE(ForcedTermination());
  EXPECT_EQ(g_jobsDestroyed, destroyedBefore);  // not destroyed under its worker
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return g_jobsDestroyed == destroyedBefore + 1; }));
  EXPECT_TRUE(touchedAfterRelease);
}

TEST_F(JobTest, SinksAddTheClassStepRecordTheTextAndAreDetachedWhenWorkEnds) {
  ComPtr<IQStatusReport> kept;
  auto job = NewJob([&](CTestJob* self) {
    IQStatusReport* sink = nullptr;
    HRESULT hr = CStatusReport<CTestJob>::CreateInstance(self, &sink);
    if (FAILED(hr)) return hr;
    kept.Attach(sink);  // a server that keeps its sink after the work ends
    for (int i = 0; i < 128; ++i) sink->NewStatus(i, "ignored", "step " + std::to_string(i));
    sink->NewStatus(kLastStatusEvent, "", "done");
    return E_FAIL;  // a failed job shows its progress
  });
  job->StartWork("COM3");
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }));
  EXPECT_EQ(job->GetPercent(), 1);  // 129 * 0.0078125 = 1.0078125
  EXPECT_TRUE(job->lastEvent);
  EXPECT_EQ(Status(job.Get()), GetErrorText(E_FAIL) + "(0x80004005: done)");

  ComPtr<IMarshal> marshal;
  EXPECT_EQ(kept.As(&marshal), S_OK);
  // Detached: later messages change nothing, even once the job is gone.
  EXPECT_EQ(kept->NewStatus(1, "", "late"), S_OK);
  EXPECT_EQ(Status(job.Get()), GetErrorText(E_FAIL) + "(0x80004005: done)");
  job.Reset();
  EXPECT_EQ(kept->NewStatus(1, "", "after the job"), S_OK);
  EXPECT_EQ(Log().find("after the job"), std::string::npos);
}

TEST_F(JobTest, PlaceholderJobsAreNeverDeletedAndReadAsOutOfMemory) {
  static CComObjectGlobal<COOMReport> placeholder;
  ASSERT_EQ(placeholder.ConstructResult(), S_OK);
  IDeviceReport* report = &placeholder;
  report->AddRef();
  report->Release();
  report->Release();
  ModuleLock();
  EXPECT_TRUE(report->IsCompleted());
  EXPECT_TRUE(report->HasError());
  EXPECT_EQ(report->GetResult(), E_OUTOFMEMORY);
  ComPtr<IDeviceReport> again;
  ASSERT_EQ(report->QueryInterface(IDeviceReport::kIid, again.ReleaseAndGetVoidAddress()), S_OK);
  EXPECT_EQ(again.Get(), report);
}

TEST(JobStress, EightWorkersSendingThroughSinksWhileEverythingIsPolled) {
  // The log goes to /dev/null: this is about the job's locking, not the disk.
  ProcessLog().Redirect(LogPlacement{[](const std::string&) { return std::string("/dev/null"); }, "",
                                     [] { return std::optional<std::string>("h"); }});
  constexpr int kJobs = 8, kMessages = 10000;
  std::vector<ComPtr<CComObject<CTestJob>>> jobs;
  for (int j = 0; j < kJobs; ++j) {
    jobs.push_back(NewJob([](CTestJob* self) {
      ComPtr<IQStatusReport> sink;
      HRESULT hr = CStatusReport<CTestJob>::CreateInstance(self, sink.ReleaseAndGetAddressOf());
      if (FAILED(hr)) return hr;
      for (int i = 0; i < kMessages; ++i) sink->NewStatus(i, "", "message " + std::to_string(i));
      return E_FAIL;
    }));
    jobs.back()->StartWork("stress" + std::to_string(j));
  }
  bool all = false;
  while (!all) {
    all = true;
    for (auto& job : jobs) {
      IDeviceReport* r = job.Get();
      Bstr text;
      r->GetStatus(&text);
      r->GetPercent();
      r->GetElapsedTime();
      r->GetResult();
      r->HasError();
      all = r->IsCompleted() && all;
    }
  }
  for (auto& job : jobs) {
    EXPECT_EQ(job->GetPercent(), 78);  // 10000 * 0.0078125 = 78.125
    EXPECT_EQ(job->GetResult(), E_FAIL);
    EXPECT_EQ(Status(job.Get()), GetErrorText(E_FAIL) + "(0x80004005: message 9999)");
  }
  jobs.clear();
  ProcessLog().Redirect(LogPlacement::Default());
}

// One job per phone: a second job for a phone that a job of this process or
// of another holds ends at once with ERROR_BUSY and never runs its work.
TEST_F(JobTest, ASecondJobForABusyPhoneEndsAtOnceWithoutTouchingIt) {
  Gate gate;
  auto first = NewJob([&](CTestJob*) {
    gate.Wait();
    return S_OK;
  });
  first->StartWork("/dev/ttyUSB9");
  ASSERT_TRUE(WaitUntil([&] { return first->runs == 1; }));
  auto second = NewJob();
  second->StartWork("/dev/ttyUSB9");
  ASSERT_TRUE(WaitUntil([&] { return second->IsCompleted() != 0; }));
  EXPECT_EQ(second->GetResult(), HRESULT_FROM_WIN32(ERROR_BUSY));
  EXPECT_EQ(Status(second.Get()), "The resource is busy.(0x800700aa)");
  EXPECT_EQ(second->runs, 0);
  auto other = NewJob();
  other->StartWork("/dev/ttyUSB10");  // another phone is not held up
  ASSERT_TRUE(WaitUntil([&] { return other->IsCompleted() != 0; }));
  EXPECT_EQ(other->GetResult(), S_OK);
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return first->IsCompleted() != 0; }));
  auto third = NewJob();  // the phone is free once the first job has completed
  third->StartWork("/dev/ttyUSB9");
  ASSERT_TRUE(WaitUntil([&] { return third->IsCompleted() != 0; }));
  EXPECT_EQ(third->GetResult(), S_OK);
  EXPECT_EQ(third->runs, 1);

  // Held by another process: busy until that process dies.
  TempDir dir;
  ChildProcess holder;
  ASSERT_EQ(StartProcess("flock -o " + QuoteArgument(PhoneLockPath("/dev/ttyUSB9")) + " sh -c " +
                             QuoteArgument("echo $$ > " + dir / "held" + "; exec sleep 3301"),
                         false, &holder),
            S_OK);
  ASSERT_TRUE(WaitUntil([&] { return !ReadFile(dir / "held").empty(); }));
  pid_t sleeper = std::stoi(ReadFile(dir / "held"));
  auto fourth = NewJob();
  fourth->StartWork("/dev/ttyUSB9");
  ASSERT_TRUE(WaitUntil([&] { return fourth->IsCompleted() != 0; }));
  EXPECT_EQ(fourth->GetResult(), HRESULT_FROM_WIN32(ERROR_BUSY));
  ::kill(holder.process.pid(), SIGKILL);  // flock dies; its command never held the lock
  ::waitpid(holder.process.pid(), nullptr, 0);
  ::kill(sleeper, SIGKILL);
  auto fifth = NewJob();
  fifth->StartWork("/dev/ttyUSB9");
  ASSERT_TRUE(WaitUntil([&] { return fifth->IsCompleted() != 0; }));
  EXPECT_EQ(fifth->GetResult(), S_OK);
}

TEST(PhoneLock, AnIdentifierNamesOneFileInTheRuntimeFolder) {
  TempDir runtime;
  ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
  EXPECT_EQ(PhoneLockPath("tcp:127.0.0.1:5555"), runtime / "vantor-phone-tcp%3A127.0.0.1%3A5555.lock");
  EXPECT_EQ(PhoneLockPath("../../etc/x y"), runtime / "vantor-phone-..%2F..%2Fetc%2Fx%20y.lock");
  // A disk named by two paths is one phone.
  WriteFile(runtime / "disk.img", "");
  EXPECT_EQ(PhoneLockPath(runtime / "disk.img"), PhoneLockPath(runtime / "./disk.img"));
  // Long identifiers stay within a file name and apart from each other.
  std::string a = PhoneLockPath(std::string(300, 'a') + "1"), b = PhoneLockPath(std::string(300, 'a') + "2");
  EXPECT_NE(a, b);
  EXPECT_LT(std::filesystem::path(a).filename().string().size(), 255u);
  CPhoneLock one, two;
  EXPECT_EQ(one.TryAcquire("COM3"), S_OK);
  EXPECT_EQ(one.TryAcquire("COM3"), S_OK);  // held already
  EXPECT_EQ(two.TryAcquire("COM3"), HRESULT_FROM_WIN32(ERROR_BUSY));
  one.Release();
  EXPECT_EQ(two.TryAcquire("COM3"), S_OK);
  // The location index's lock: another identifier at the same USB port is
  // the same phone; a failed attempt keeps nothing.
  CPhoneLock edl, disk, other;
  EXPECT_EQ(edl.TryAcquire("COM7", 4), S_OK);
  EXPECT_EQ(disk.TryAcquire("/dev/sdc", 4), HRESULT_FROM_WIN32(ERROR_BUSY));
  EXPECT_FALSE(disk.held());
  EXPECT_EQ(other.TryAcquire("/dev/sdc", 5), S_OK);  // the identifier was left free
  edl.Release();
  other.Release();
  EXPECT_EQ(disk.TryAcquire("/dev/sdc", 4), S_OK);
  ScopedEnv gone("XDG_RUNTIME_DIR", (runtime / "missing").c_str());
  CPhoneLock three;
  EXPECT_EQ(three.TryAcquire("COM4"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

// A reader of the backlog sees each message once, in order, whatever the
// window's own GetStatus calls took meanwhile; the newest stays for GetStatus.
TEST_F(JobTest, TheBacklogHandsOutEachMessageOnceBesideGetStatus) {
  Gate gate;
  auto job = NewJob([&](CTestJob*) {
    gate.Wait();
    return E_FAIL;
  });
  job->StartWork("COM9");
  ComPtr<IStatusBacklog> backlog;
  ASSERT_EQ(job->QueryInterface(IStatusBacklog::kIid, reinterpret_cast<void**>(backlog.ReleaseAndGetAddressOf())), S_OK);
  std::vector<std::string> seen;
  EXPECT_EQ(backlog->TakeStatusBacklog(&seen), S_OK);
  EXPECT_TRUE(seen.empty());
  job->ReportStatus("m1");
  job->ReportStatus("m2");
  job->ReportStatus("m3");
  backlog->TakeStatusBacklog(&seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"m1", "m2", "m3"}));
  EXPECT_EQ(Status(job.Get()), "m3");  // still shown
  backlog->TakeStatusBacklog(&seen);
  EXPECT_EQ(seen.size(), 3u);  // nothing new, nothing twice
  job->ReportStatus("m4");
  job->ReportStatus("m5");
  EXPECT_EQ(Status(job.Get()), "m3");  // the window drains m3 ...
  EXPECT_EQ(Status(job.Get()), "m4");  // ... and m4 while the reader was away
  job->ReportStatus("m6");
  backlog->TakeStatusBacklog(&seen);
  EXPECT_EQ(seen, (std::vector<std::string>{"m1", "m2", "m3", "m4", "m5", "m6"}));
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }));
  EXPECT_EQ(Status(job.Get()), GetErrorText(E_FAIL) + "(0x80004005: m6)");
  EXPECT_EQ(backlog->TakeStatusBacklog(nullptr), E_POINTER);
}

TEST_F(JobTest, ARefusedJobTookNoTime) {
  ComPtr<IDeviceReport> refused;
  ASSERT_EQ(CRefusedJob::Create(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), refused.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_TRUE(refused->IsCompleted());
  EXPECT_LT(refused->GetElapsedTime(), 0.5);  // not the time since the machine started
  EXPECT_GE(refused->GetElapsedTime(), 0.0);
}

// What the story window shows: every message in order with its time, the
// trace lines of the job's own worker and of its failure, nothing traced by
// other threads; the row's text in the user's language, the story's parts
// composing the English one.
TEST_F(JobTest, AJobKeepsItsWholeStoryAndItsRowFollowsTheLocale) {
  ScopedUserLocale chinese("zh_CN.UTF-8");
  Gate gate;
  auto job = NewJob([&](CTestJob* self) {
    self->ReportStatus("Open disk \"%s\"", "/dev/sdz");
    gate.Wait();
    self->ReportStatus("Write sector %d", 16);
    TraceResult(E_ACCESSDENIED, "WriteFileToDiskDrive", 88);
    return E_ACCESSDENIED;
  });
  job->StartWork("disk-7");
  ComPtr<IJobStory> story;
  ASSERT_EQ(job->QueryInterface(IJobStory::kIid, reinterpret_cast<void**>(story.ReleaseAndGetAddressOf())), S_OK);
  JobStory told;
  ASSERT_TRUE(WaitUntil([&] {
    story->GetStory(&told);
    return told.statuses.size() == 1;
  }));
  EXPECT_FALSE(told.completed());
  TraceResult(E_FAIL, "SomebodyElse", 1);  // another thread's trace is not this job's
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }));
  EXPECT_EQ(Status(job.Get()), "拒绝访问。(0x80070005: Write sector 16)");

  ASSERT_EQ(story->GetStory(&told), S_OK);
  EXPECT_EQ(told.result, E_ACCESSDENIED);
  ASSERT_EQ(told.statuses.size(), 2u);
  EXPECT_EQ(told.statuses[0].text, "Open disk \"/dev/sdz\"");
  EXPECT_EQ(told.statuses[1].text, "Write sector 16");
  EXPECT_LE(told.statuses[0].elapsed, told.statuses[1].elapsed);
  EXPECT_EQ(FinalStatusText(told.result, GetEnglishErrorText(told.result), told.Newest()),
            "Access is denied.(0x80070005: Write sector 16)");
  // The worker's own traces (looking its phone up may leave some first),
  // never another thread's.
  std::string traces;
  for (const std::string& t : told.traces) traces += t + "\n";
  ASSERT_GE(told.traces.size(), 2u) << traces;
  EXPECT_EQ(traces.find("SomebodyElse"), std::string::npos) << traces;
  EXPECT_NE(traces.find("WriteFileToDiskDrive(88): Access is denied.(0x80070005)\n"), std::string::npos) << traces;
  EXPECT_EQ(told.traces.back().rfind("CDeviceReport::GetStatus(", 0), 0u) << traces;
  EXPECT_EQ(story->GetStory(nullptr), E_POINTER);
  // The log has the same lines, in English.
  EXPECT_NE(Log().find("WriteFileToDiskDrive(88): Access is denied.(0x80070005)"), std::string::npos);
}

TEST(JobStoryKeeper, KeepsTheNewestMessagesAndCountsTheOnesItDropped) {
  CJobStoryKeeper keeper;
  size_t extra = 5;
  for (size_t i = 0; i < CJobStoryKeeper::kMaxStatuses + extra; ++i) keeper.AddStatus(0, std::to_string(i));
  for (size_t i = 0; i < CJobStoryKeeper::kMaxTraces + 1; ++i) keeper.TraceLine("t" + std::to_string(i));
  JobStory story;
  keeper.CopyTo(&story);
  EXPECT_EQ(story.statuses.size(), CJobStoryKeeper::kMaxStatuses);
  EXPECT_EQ(story.statusesDropped, extra);
  EXPECT_EQ(story.statuses.front().text, std::to_string(extra));
  EXPECT_EQ(story.Newest(), std::to_string(CJobStoryKeeper::kMaxStatuses + extra - 1));
  EXPECT_EQ(story.traces.size(), CJobStoryKeeper::kMaxTraces);
  EXPECT_EQ(story.traces.front(), "t1");
  keeper.Clear();
  keeper.CopyTo(&story);
  EXPECT_TRUE(story.statuses.empty());
  EXPECT_EQ(story.statusesDropped, 0u);
}
