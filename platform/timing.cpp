#include "platform/timing.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace {

double FactorFromEnvironment() {
  const char* text = std::getenv("VANTOR_TIME_SCALE");
  if (text == nullptr || *text == '\0') return 1.0;
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value > 0.0) || !std::isfinite(value)) return 1.0;
  return value;
}

std::atomic<double>& Factor() {
  static std::atomic<double> factor{FactorFromEnvironment()};
  return factor;
}

}  // namespace

double TimeScale() { return Factor().load(std::memory_order_relaxed); }

DWORD ScaledMilliseconds(DWORD ms) {
  if (ms == 0) return 0;
  double scaled = std::round(static_cast<double>(ms) * TimeScale());
  if (scaled < 1.0) return 1;
  if (scaled > 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<DWORD>(scaled);
}

std::chrono::milliseconds Scaled(std::chrono::milliseconds ms) {
  if (ms.count() <= 0) return ms;
  double scaled = std::round(static_cast<double>(ms.count()) * TimeScale());
  return std::chrono::milliseconds(scaled < 1.0 ? 1 : static_cast<long long>(scaled));
}

ScopedTimeScale::ScopedTimeScale(double factor) : previous_(Factor().exchange(factor)) {}
ScopedTimeScale::~ScopedTimeScale() { Factor().store(previous_); }

namespace {

std::mutex& RecorderLock() {
  static std::mutex lock;
  return lock;
}
ScopedWaitRecorder* g_recorder = nullptr;

}  // namespace

void NoteWait(DWORD ms) {
  std::lock_guard lock(RecorderLock());
  if (g_recorder) g_recorder->waits_.push_back(ms);
}

ScopedWaitRecorder::ScopedWaitRecorder() {
  std::lock_guard lock(RecorderLock());
  previous_ = std::exchange(g_recorder, this);
}

ScopedWaitRecorder::~ScopedWaitRecorder() {
  std::lock_guard lock(RecorderLock());
  g_recorder = previous_;
}

std::vector<DWORD> ScopedWaitRecorder::waits() const {
  std::lock_guard lock(RecorderLock());
  return waits_;
}

bool WaitUnlessStopped(std::stop_token stop, DWORD ms) {
  NoteWait(ms);
  std::mutex mutex;
  std::condition_variable_any cv;
  std::unique_lock lock(mutex);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMilliseconds(ms));
  cv.wait_until(lock, stop, deadline, [] { return false; });
  return !stop.stop_requested();
}

namespace {
thread_local std::stop_token t_stop;
}

std::stop_token CurrentStopToken() { return t_stop; }
bool StopRequested() { return t_stop.stop_requested(); }
bool WaitUnlessStopped(DWORD ms) { return WaitUnlessStopped(t_stop, ms); }

ScopedStopToken::ScopedStopToken(std::stop_token token) : previous_(std::exchange(t_stop, std::move(token))) {}
ScopedStopToken::~ScopedStopToken() { t_stop = std::move(previous_); }
