#include "shell/server_module.h"

#include <atomic>
#include <chrono>

#include "platform/com/class_registry.h"
#include "platform/com/module.h"
#include "platform/timing.h"

namespace {

std::atomic<CServerAppModule*> g_module{nullptr};

void OnModuleIdle() {
  if (CServerAppModule* module = g_module.load()) module->SignalIdle();
}

}  // namespace

CServerAppModule::CServerAppModule(std::function<void()> quit, std::function<void()> suspend)
    : quit_(std::move(quit)),
      suspend_(suspend ? std::move(suspend) : [] { CoSuspendClassObjects(); }) {
  g_module.store(this);
  SetModuleIdleHandler(&OnModuleIdle);
}

CServerAppModule::~CServerAppModule() {
  SetModuleIdleHandler(nullptr);
  g_module.store(nullptr);
  {
    std::lock_guard guard(mutex_);
    stopping_ = true;
  }
  event_.notify_all();
  if (monitor_.joinable()) monitor_.join();
}

void CServerAppModule::StartMonitor() {
  if (!monitor_.joinable()) monitor_ = std::thread(&CServerAppModule::MonitorShutdown, this);
}

void CServerAppModule::SignalIdle() {
  {
    std::lock_guard guard(mutex_);
    activity_ = true;
    signalled_ = true;
  }
  event_.notify_all();
}

void CServerAppModule::Lock() { ModuleLock(); }

void CServerAppModule::Unlock() {
  if (ModuleLockCount() == 1) SetTimeouts(0, 0);
  ModuleUnlock();
}

DWORD CServerAppModule::ShutdownTimeoutMs() const {
  std::lock_guard guard(mutex_);
  return timeoutMs_;
}

DWORD CServerAppModule::ExitPauseMs() const {
  std::lock_guard guard(mutex_);
  return exitPauseMs_;
}

void CServerAppModule::SetTimeouts(DWORD shutdownMs, DWORD exitPauseMs) {
  std::lock_guard guard(mutex_);
  timeoutMs_ = shutdownMs;
  exitPauseMs_ = exitPauseMs;
}

// Waits for the count to fall to 0, then for a whole time-out without a new
// signal; quits when the module is then still idle, else waits again.
void CServerAppModule::MonitorShutdown() {
  std::unique_lock lock(mutex_);
  for (;;) {
    event_.wait(lock, [this] { return signalled_ || stopping_; });
    if (stopping_) return;
    signalled_ = false;
    bool again;
    do {
      activity_ = false;
      auto timeout = std::chrono::milliseconds(ScaledMilliseconds(timeoutMs_));
      again = event_.wait_for(lock, timeout, [this] { return signalled_ || stopping_; });
      if (stopping_) return;
      signalled_ = false;
    } while (again);
    if (activity_ || ModuleLockCount() != 0) continue;
    // A client that got a class object just before may still take a lock.
    lock.unlock();
    suspend_();
    lock.lock();
    if (!activity_ && ModuleLockCount() == 0) break;
  }
  lock.unlock();
  quit_();
}
