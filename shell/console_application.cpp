#include "shell/console_application.h"

#include <cstdio>

#include "installer/console_progress.h"
#include "platform/error_text.h"

std::unique_ptr<IProgressWindow> CConsoleApplication::CreateProgressWindow() {
  return std::make_unique<CConsoleProgress>(stdout);
}

void CConsoleApplication::ShowStartupError(HRESULT hr) {
  std::fprintf(stderr, "vantor: %s(0x%08x)\n", GetErrorText(hr).c_str(), static_cast<unsigned>(hr));
}

int CConsoleApplication::RunMessageLoop() {
  std::unique_lock lock(mutex_);
  quit_.wait(lock, [this] { return quitCode_.has_value(); });
  return *quitCode_;
}

void CConsoleApplication::PostQuit(int code) {
  std::lock_guard lock(mutex_);
  quitCode_ = code;
  quit_.notify_all();
}
