#include "jobs/device_report.h"

#include <cstdarg>
#include <system_error>
#include <utility>

#include "jobs/discovery.h"
#include "jobs/forced_termination.h"
#include "jobs/phone_lock.h"
#include "jobs/job_record.h"
#include "jobs/status_text.h"
#include "platform/com/apartment.h"
#include "platform/com/marshal.h"
#include "platform/error_text.h"
#include "platform/format.h"
#include "platform/ticks.h"
#include "platform/timing.h"
#include "shell/log.h"

namespace {
constexpr DWORD kStopWaitMs = 1000;
}

HRESULT CDeviceReport::FinalConstruct() {
  // A job that is never started (a refused row) reads an elapsed time of 0.
  startTick_ = endTick_ = GetTickCount();
  return marshaler_.Create(GetControllingUnknown());
}

bool CDeviceReport::FinalRelease() {
  // The releasing thread hands over the record of a job no poll saw end.
  RecordReleasedJob(static_cast<IDeviceReport*>(this));
  return StopWork();
}

CDeviceReport::~CDeviceReport() {
  DetachSinks();
  statusQueue_.clear();
}

IUnknown* CDeviceReport::GetControllingUnknown() { return static_cast<IDeviceReport*>(this); }

HRESULT CDeviceReport::InternalQueryInterface(REFIID iid, void** object) {
  if (iid == IUnknown::kIid || iid == IDeviceReport::kIid)
    return ReturnInterface(static_cast<IDeviceReport*>(this), object);
  if (iid == IStatusBacklog::kIid) return ReturnInterface(static_cast<IStatusBacklog*>(this), object);
  if (iid == IJobStory::kIid) return ReturnInterface(static_cast<IJobStory*>(this), object);
  return marshaler_.QueryInterface(iid, object);
}

HRESULT CDeviceReport::DoWork() { return S_OK; }

BOOL CDeviceReport::IsCompleted() {
  std::lock_guard guard(lock_);
  return result_ != S_FALSE;
}

BOOL CDeviceReport::HasError() {
  std::lock_guard guard(lock_);
  if (FAILED(result_)) TraceFailureOnce("CDeviceReport::HasError", __LINE__);
  return FAILED(result_);
}

void CDeviceReport::TraceFailureOnce(const char* operation, int line) {
  if (std::exchange(failureTraced_, true)) return;
  ScopedTraceCapture capture(&story_);
  TraceResult(result_, operation, line);
}

double CDeviceReport::GetElapsedTime() {
  std::lock_guard guard(lock_);
  DWORD end = IsCompleted() ? endTick_ : GetTickCount();
  return static_cast<std::int32_t>(end - startTick_) / 1000.0;
}

int CDeviceReport::GetPercent() {
  std::lock_guard guard(lock_);
  if (IsCompleted() && !HasError()) return 100;
  if (progress_ >= 100.0) return 100;
  if (progress_ < 0.0) return 0;
  return static_cast<int>(progress_);
}

HRESULT CDeviceReport::GetResult() {
  std::lock_guard guard(lock_);
  return result_;
}

HRESULT CDeviceReport::GetStatus(Bstr* status) {
  if (!status) return E_POINTER;
  std::lock_guard guard(lock_);
  std::string text;
  if (!IsCompleted()) {
    // The newest message stays visible; a backlog drains one per call.
    if (!statusQueue_.empty()) {
      text = statusQueue_.front();
      if (statusQueue_.size() > 1) {
        // A message the backlog's reader has not taken yet waits for it.
        if (backlogTaken_ > 0) --backlogTaken_;
        else if (backlogReader_) backlogOnly_.push_back(statusQueue_.front());
        statusQueue_.pop_front();
      }
    }
  } else {
    if (FAILED(result_)) TraceFailureOnce("CDeviceReport::GetStatus", __LINE__);
    text = FinalStatusText(result_, GetErrorText(result_), statusQueue_.empty() ? std::string() : statusQueue_.back());
  }
  *status = Bstr(std::move(text));
  return S_OK;
}

HRESULT CDeviceReport::GetStory(JobStory* story) {
  if (!story) return E_POINTER;
  std::lock_guard guard(lock_);
  *story = JobStory();
  story_.CopyTo(story);
  story->result = result_;
  return S_OK;
}

HRESULT CDeviceReport::TakeStatusBacklog(std::vector<std::string>* messages) {
  if (!messages) return E_POINTER;
  std::lock_guard guard(lock_);
  backlogReader_ = true;
  messages->insert(messages->end(), backlogOnly_.begin(), backlogOnly_.end());
  backlogOnly_.clear();
  for (size_t i = backlogTaken_; i < statusQueue_.size(); ++i) messages->push_back(statusQueue_[i]);
  while (statusQueue_.size() > 1) statusQueue_.pop_front();
  backlogTaken_ = statusQueue_.size();
  return S_OK;
}

void CDeviceReport::StartWork(const std::string& deviceId) {
  std::lock_guard guard(lock_);
  if (worker_.joinable()) return;
  startTick_ = endTick_ = GetTickCount();
  result_ = S_FALSE;
  failureTraced_ = false;
  deviceId_ = deviceId;
  progress_ = 0.0;
  statusQueue_.clear();
  backlogTaken_ = 0;
  backlogOnly_.clear();
  story_.Clear();
  {
    std::lock_guard run(runMutex_);
    running_ = true;
  }
  try {
    worker_ = std::thread(&CDeviceReport::ThreadProc, this);
  } catch (const std::system_error& e) {
    {
      std::lock_guard run(runMutex_);
      running_ = false;
    }
    SetResult(HresultFromErrno(e.code().value()));
  }
}

void CDeviceReport::ThreadProc(CDeviceReport* job) {
  ScopedStopToken stop(job->StopToken());
  ScopedTraceCapture capture(&job->story_);
  HRESULT hr;
  {
    // One job per phone: a phone another job works on is not touched, in
    // whatever mode it is attached now.
    const std::string deviceId = job->GetDeviceId();
    CPhoneLock phone;
    hr = phone.TryAcquire(deviceId, GetDeviceIndex(deviceId));
    if (TraceResult(hr, "CDeviceReport::ThreadProc", __LINE__)) {
      hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      if (TraceResult(hr, "CDeviceReport::ThreadProc", __LINE__)) {
        hr = job->DoWork();
        CoUninitialize();
      }
    }
  }  // the phone is free before the job reads as completed
  job->DetachSinks();
  job->SetResult(hr);

  bool orphaned;
  {
    std::lock_guard run(job->runMutex_);
    job->running_ = false;
    orphaned = job->orphaned_;
    job->runEnded_.notify_all();
  }
  // Nobody waits for an abandoned worker: it owns the object now.
  if (orphaned) job->DeleteThis();
}

bool CDeviceReport::StopWork() {
  if (!worker_.joinable()) return true;
  stop_.request_stop();
  std::unique_lock run(runMutex_);
  auto wait = std::chrono::milliseconds(ScaledMilliseconds(kStopWaitMs));
  if (runEnded_.wait_for(run, wait, [this] { return !running_; })) {
    run.unlock();
    worker_.join();
    return true;
  }
  // Still running: leave it to finish and delete the object itself. Nothing
  // of the object is touched after `run` is unlocked.
  orphaned_ = true;
  worker_.detach();
  SetForcedTermination();
  return false;
}

void CDeviceReport::SetResult(HRESULT hr) {
  std::lock_guard guard(lock_);
  result_ = hr;
  if (IsCompleted()) endTick_ = GetTickCount();
}

void CDeviceReport::ReportStatus(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = FormatV(format, args);
  va_end(args);
  std::lock_guard guard(lock_);
  double elapsed = GetElapsedTime();
  std::string line = Format("%s\t%.2f\t", deviceId_.c_str(), elapsed) + message;
  story_.AddStatus(elapsed, message);
  statusQueue_.push_back(std::move(message));
  WriteLog("%s", line.c_str());
}

std::string CDeviceReport::GetDeviceId() {
  std::lock_guard guard(lock_);
  return deviceId_;
}

void CDeviceReport::AddProgress(double step) {
  std::lock_guard guard(lock_);
  progress_ += step;
}

void CDeviceReport::KeepSinkUntilWorkEnds(CJobSink* sink) {
  std::lock_guard guard(lock_);
  sinks_.emplace_back(sink);
}

void CDeviceReport::DetachSinks() {
  std::vector<ComPtr<CJobSink>> sinks;
  {
    std::lock_guard guard(lock_);
    sinks.swap(sinks_);
  }
  // Outside the job's lock: a sink holds its own lock while it calls the job.
  for (auto& sink : sinks) sink->DetachJob();
}
