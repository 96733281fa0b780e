// What one job went through, for the window that tells a row's story: every
// status message in the order posted with the job's elapsed time at that
// moment, the trace lines of its failing steps, and its result. The job
// keeps it as it runs; nothing is read back from the shared log.
#pragma once
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "platform/com/object.h"
#include "platform/hresult.h"
#include "shell/log.h"

struct StoryEntry {
  double elapsed = 0;  // seconds since the job's start
  std::string text;
};

struct JobStory {
  std::deque<StoryEntry> statuses;
  // Status messages not kept, the oldest first, once a job has posted more
  // than CJobStoryKeeper::kMaxStatuses.
  size_t statusesDropped = 0;
  std::deque<std::string> traces;
  HRESULT result = S_FALSE;  // S_FALSE while the job runs
  bool completed() const { return result != S_FALSE; }
  // The newest status message; "" when there is none.
  std::string Newest() const { return statuses.empty() ? std::string() : statuses.back().text; }
};

// A job's story, read by the windows. A plain vtable interface of this
// program's own.
struct IJobStory : IUnknown {
  static constexpr IID kIid = MakeGuid("{3B8F5A21-94C6-4E0D-A7B2-5C1E8D3F6A40}");
  // A copy of the story as it stands now.
  virtual HRESULT GetStory(JobStory* story) = 0;

 protected:
  ~IJobStory() = default;
};

// The story of one job as it is told: status messages and trace lines,
// each list bounded (the oldest give way), under a lock of its own that
// nothing else is taken under.
class CJobStoryKeeper : public ITraceSink {
 public:
  static constexpr size_t kMaxStatuses = 10000;
  static constexpr size_t kMaxTraces = 1000;

  void AddStatus(double elapsed, const std::string& text);
  void TraceLine(const std::string& line) override;
  void Clear();
  // Copies the lists into story (its result is left to the caller).
  void CopyTo(JobStory* story) const;

 private:
  mutable std::mutex lock_;
  JobStory story_;
};
