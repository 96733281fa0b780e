// The one timing seam: every protocol timeout and wait goes through
// ScaledMilliseconds, so tests (in-process via ScopedTimeScale, or from
// outside via VANTOR_TIME_SCALE, for example 0.01) can shorten them without
// touching the constants.
#pragma once
#include <chrono>
#include <stop_token>
#include <vector>

#include "platform/types.h"

// The factor in force: VANTOR_TIME_SCALE when it holds a positive number,
// else 1.0, unless a ScopedTimeScale is active.
double TimeScale();

// ms times the factor, rounded, at least 1 for a non-zero ms.
DWORD ScaledMilliseconds(DWORD ms);
std::chrono::milliseconds Scaled(std::chrono::milliseconds ms);

class ScopedTimeScale {
 public:
  explicit ScopedTimeScale(double factor);
  ~ScopedTimeScale();
  ScopedTimeScale(const ScopedTimeScale&) = delete;
  ScopedTimeScale& operator=(const ScopedTimeScale&) = delete;

 private:
  double previous_;
};

// Waits ScaledMilliseconds(ms) unless a stop is requested first. Returns false
// when it ended because of the stop request.
bool WaitUnlessStopped(std::stop_token stop, DWORD ms);

// The stop request of the work running on this thread: a job's worker sets
// it for its whole run, so every protocol stage below it ends at its next
// wait once the job is released. Threads without one never see a stop.
std::stop_token CurrentStopToken();
bool StopRequested();
// WaitUnlessStopped with the calling thread's stop request.
bool WaitUnlessStopped(DWORD ms);

// For the life of this object, the length of every WaitUnlessStopped of the
// process is noted (as asked for, before scaling), so a test can check which
// waits a protocol made without spending them.
class ScopedWaitRecorder {
 public:
  ScopedWaitRecorder();
  ~ScopedWaitRecorder();
  ScopedWaitRecorder(const ScopedWaitRecorder&) = delete;
  ScopedWaitRecorder& operator=(const ScopedWaitRecorder&) = delete;
  std::vector<DWORD> waits() const;

 private:
  friend void NoteWait(DWORD ms);
  ScopedWaitRecorder* previous_;
  std::vector<DWORD> waits_;
};

class ScopedStopToken {
 public:
  explicit ScopedStopToken(std::stop_token token);
  ~ScopedStopToken();
  ScopedStopToken(const ScopedStopToken&) = delete;
  ScopedStopToken& operator=(const ScopedStopToken&) = delete;

 private:
  std::stop_token previous_;
};
