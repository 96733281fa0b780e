#include "ui/application.h"

#include "shell/server_module.h"
#include "ui/progress_wnd.h"

std::unique_ptr<IProgressWindow> CVantorApplication::CreateProgressWindow() {
  return std::make_unique<CSHProgressWnd>();
}

int CVantorApplication::RunMainWindow(CServerAppModule* module) {
  CMainDlg window;
  window_ = &window;
  QObject::connect(&window, &CMainDlg::Closed, app_, [] { QCoreApplication::exit(0); });
  // The session is ending: the window closes without asking.
  QObject::connect(app_, &QGuiApplication::commitDataRequest, &window, &CMainDlg::CloseForSystem);
  window.SetModule(module);
  if (FAILED(startupError_)) window.ReportError(startupError_);
  module->Lock();
  hasWindow_ = true;
  window.show();
  int code = app_->exec();
  hasWindow_ = false;
  window_ = nullptr;
  return code;
}

int CVantorApplication::RunMessageLoop() { return app_->exec(); }

void CVantorApplication::PostQuit(int code) {
  QMetaObject::invokeMethod(app_, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

bool CVantorApplication::RaiseMainWindow() {
  if (!hasWindow_) return false;
  QMetaObject::invokeMethod(
      app_,
      [this] {
        if (!window_) return;
        window_->showNormal();
        window_->raise();
        window_->activateWindow();
      },
      Qt::QueuedConnection);
  return true;
}

void CVantorApplication::RequestClose() {
  if (window_) window_->CloseForSystem();
  else QCoreApplication::exit(0);
}
