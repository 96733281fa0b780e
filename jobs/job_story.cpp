#include "jobs/job_story.h"

void CJobStoryKeeper::AddStatus(double elapsed, const std::string& text) {
  std::lock_guard guard(lock_);
  story_.statuses.push_back({elapsed, text});
  if (story_.statuses.size() > kMaxStatuses) {
    story_.statuses.pop_front();
    ++story_.statusesDropped;
  }
}

void CJobStoryKeeper::TraceLine(const std::string& line) {
  std::lock_guard guard(lock_);
  story_.traces.push_back(line);
  if (story_.traces.size() > kMaxTraces) story_.traces.pop_front();
}

void CJobStoryKeeper::Clear() {
  std::lock_guard guard(lock_);
  story_ = JobStory();
}

void CJobStoryKeeper::CopyTo(JobStory* story) const {
  std::lock_guard guard(lock_);
  story->statuses = story_.statuses;
  story->statusesDropped = story_.statusesDropped;
  story->traces = story_.traces;
}
