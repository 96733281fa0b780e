// The application module of a program that also serves class objects: the
// shutdown time-out and exit pause, and the shutdown monitor, a thread that
// ends the main loop once the module's lock count has stayed 0 for a whole
// time-out without new activity.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/types.h"

class CServerAppModule {
 public:
  static constexpr DWORD kShutdownTimeoutMs = 5000;
  static constexpr DWORD kExitPauseMs = 1000;

  // quit is called once, on the monitor's thread, to end the main loop.
  // suspend takes the class objects out of reach before the module quits
  // (CoSuspendClassObjects when none is given).
  explicit CServerAppModule(std::function<void()> quit, std::function<void()> suspend = nullptr);
  ~CServerAppModule();
  CServerAppModule(const CServerAppModule&) = delete;
  CServerAppModule& operator=(const CServerAppModule&) = delete;

  // Starts the monitor thread.
  void StartMonitor();
  // The count fell to 0 (or, in automation mode, nobody has come yet).
  void SignalIdle();

  // The main window's hold on the module.
  void Lock();
  // Releases it; when it is the last lock, the time-out and the exit pause
  // become 0 first so that the window's close ends the process at once.
  void Unlock();

  DWORD ShutdownTimeoutMs() const;
  DWORD ExitPauseMs() const;
  void SetTimeouts(DWORD shutdownMs, DWORD exitPauseMs);

 private:
  void MonitorShutdown();

  std::function<void()> quit_;
  std::function<void()> suspend_;
  mutable std::mutex mutex_;
  std::condition_variable event_;
  bool signalled_ = false;
  bool activity_ = false;
  bool stopping_ = false;
  DWORD timeoutMs_ = kShutdownTimeoutMs;
  DWORD exitPauseMs_ = kExitPauseMs;
  std::thread monitor_;
};
