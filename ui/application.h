// The windows behind the start-up sequence: the progress window, the main
// window on the Qt event loop, and the requests other threads make of it.
#pragma once
#include <QApplication>
#include <QPointer>
#include <atomic>

#include "shell/startup.h"
#include "ui/main_dlg.h"

class CVantorApplication : public IApplication {
 public:
  explicit CVantorApplication(QApplication* app) : app_(app) {}

  std::unique_ptr<IProgressWindow> CreateProgressWindow() override;
  void ShowStartupError(HRESULT hr) override { startupError_ = hr; }
  int RunMainWindow(CServerAppModule* module) override;
  int RunMessageLoop() override;
  void PostQuit(int code) override;
  bool RaiseMainWindow() override;
  // The polite close request (SIGTERM): closes the main window without
  // asking, or ends a loop without one.
  void RequestClose();

 private:
  QApplication* app_;
  QPointer<CMainDlg> window_;
  std::atomic<bool> hasWindow_{false};
  HRESULT startupError_ = S_OK;
};
