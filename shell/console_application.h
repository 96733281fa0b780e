// The start-up sequence's application for the switches that install or
// uninstall and end ("/RegServer", "/UnregServer"): no windowing toolkit and
// no display, the installer's progress on standard output. It has no main
// window to show; its loop without a window waits for PostQuit.
#pragma once
#include <condition_variable>
#include <mutex>
#include <optional>

#include "shell/startup.h"

class CConsoleApplication final : public IApplication {
 public:
  std::unique_ptr<IProgressWindow> CreateProgressWindow() override;
  // Printed to standard error.
  void ShowStartupError(HRESULT hr) override;
  // There is no window: 0 without running a loop.
  int RunMainWindow(CServerAppModule*) override { return 0; }
  int RunMessageLoop() override;
  void PostQuit(int code) override;
  bool RaiseMainWindow() override { return false; }

 private:
  std::mutex mutex_;
  std::condition_variable quit_;
  std::optional<int> quitCode_;
};
