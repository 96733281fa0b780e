// The job model: one job object per phone, with its own worker thread and a
// lock-protected status record that the windows poll.
#pragma once
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_story.h"
#include "jobs/status_sink.h"
#include "platform/com/bstr.h"
#include "platform/com/comptr.h"
#include "platform/com/marshal.h"
#include "platform/com/object.h"

// The interface the windows poll. A plain vtable interface; slots after
// IUnknown's in declaration order.
struct IDeviceReport : IUnknown {
  static constexpr IID kIid = MakeGuid("{E11924BE-C176-42B5-8311-E242324A15AB}");
  virtual BOOL IsCompleted() = 0;       // the result is not S_FALSE
  virtual BOOL HasError() = 0;          // the result is a failure
  virtual double GetElapsedTime() = 0;  // seconds since the start
  virtual int GetPercent() = 0;         // 0 to 100
  virtual HRESULT GetResult() = 0;
  virtual HRESULT GetStatus(Bstr* status) = 0;

 protected:
  ~IDeviceReport() = default;
};

// Every status message a job has queued, for a reader that must see each
// one (a log, a stream of JSON objects) rather than what GetStatus shows.
// A plain vtable interface of this program's own.
struct IStatusBacklog : IUnknown {
  static constexpr IID kIid = MakeGuid("{6D1C2E7A-3F44-4B8E-9C05-8A1F2B7D4E19}");
  // Appends the messages queued since the last call, oldest first. The
  // newest stays queued, so GetStatus still shows it.
  virtual HRESULT TakeStatusBacklog(std::vector<std::string>* messages) = 0;

 protected:
  ~IStatusBacklog() = default;
};

// The base of every job. Result E_OUTOFMEMORY until started, S_FALSE while
// running, the final result afterwards. Every operation takes the job's
// re-entrant lock.
//
// GetStatus reads in the user's language (GetErrorText); the story gives
// what the English text is composed of.
//
// A job is stopped only by releasing its last reference: the worker is asked
// to stop (StopToken), given 1000 ms (scaled by the timing seam), and when it
// is still running it is left to finish on its own. The object then stays
// alive until the worker ends and deletes it, and the forced-termination flag
// is set; nothing the worker touches is ever freed under it.
class CDeviceReport : public IDeviceReport, public IStatusBacklog, public IJobStory, public CComObjectRoot {
 public:
  // IDeviceReport
  BOOL IsCompleted() override;
  // A failure is traced once, by the first poll that sees it (HasError or
  // GetStatus); the window polls every 100 ms, and later polls are silent.
  BOOL HasError() override;
  double GetElapsedTime() override;
  int GetPercent() override;
  HRESULT GetResult() override;
  HRESULT GetStatus(Bstr* status) override;
  // IStatusBacklog
  HRESULT TakeStatusBacklog(std::vector<std::string>* messages) override;
  // IJobStory: every status message, the trace lines its worker wrote (and
  // the one of its failure), and the result.
  HRESULT GetStory(JobStory* story) override;

  virtual IUnknown* GetControllingUnknown();
  ~CDeviceReport() override;
  // The method's work, on the worker thread. The base does nothing.
  virtual HRESULT DoWork();

  // Object framework hooks.
  HRESULT FinalConstruct();
  bool FinalRelease();
  HRESULT InternalQueryInterface(REFIID iid, void** object);

  // Starts the worker for the given device; does nothing when a worker was
  // already started. The worker holds the phone's lock (CPhoneLock) while
  // DoWork runs; a phone that another job holds ends the job at once with
  // HRESULT_FROM_WIN32(ERROR_BUSY).
  void StartWork(const std::string& deviceId);
  void SetResult(HRESULT hr);
  // Queues a status message and writes the status line to the log.
  void ReportStatus(const char* format, ...) __attribute__((format(printf, 2, 3)));
  std::string GetDeviceId();
  void AddProgress(double step);
  // Requested when the job is released; stages check it at every wait.
  std::stop_token StopToken() const { return stop_.get_token(); }
  // Keeps a sink until the work ends, then detaches it from this job.
  void KeepSinkUntilWorkEnds(CJobSink* sink);
  std::recursive_mutex& ObjectLock() { return lock_; }

 protected:
  CDeviceReport() = default;

 private:
  static void ThreadProc(CDeviceReport* job);
  // Stops and reaps the worker; false when it had to be left running (the
  // worker then owns the object).
  bool StopWork();
  void DetachSinks();
  // Under the object lock.
  void TraceFailureOnce(const char* operation, int line);

  std::recursive_mutex lock_;
  DWORD startTick_ = 0;
  DWORD endTick_ = 0;
  std::thread worker_;
  HRESULT result_ = E_OUTOFMEMORY;
  bool failureTraced_ = false;
  std::string deviceId_;
  double progress_ = 0.0;
  CAggregatedMarshaler marshaler_;
  std::deque<std::string> statusQueue_;
  // How many messages at the front of the queue TakeStatusBacklog has
  // already handed out (0 or 1: it leaves only the newest queued).
  size_t backlogTaken_ = 0;
  // Once the backlog has a reader: messages GetStatus drained before the
  // reader took them.
  bool backlogReader_ = false;
  std::deque<std::string> backlogOnly_;
  std::vector<ComPtr<CJobSink>> sinks_;
  CJobStoryKeeper story_;

  // The worker's lifetime, apart from the object lock so that waiting for
  // the worker never holds the lock the worker needs.
  std::stop_source stop_;
  std::mutex runMutex_;
  std::condition_variable runEnded_;
  bool running_ = false;
  bool orphaned_ = false;
};

// The placeholder handed out when a job cannot be created: never started, it
// reads as completed with E_OUTOFMEMORY. Used only as CComObjectGlobal
// instances, which reference counting never deletes.
class COOMReport : public CDeviceReport {};
