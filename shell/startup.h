// The program's start and orderly end: one instance, leftover server
// processes ended, the command line's switches, the first-run installation,
// the device monitor, the program's own server objects when "NoQPST" is set,
// the main window (or, started for automation, no window until the clients
// have gone), and the exit sequence.
//
// The windows are reached through IApplication, so this sequence builds and
// runs without the windowing toolkit.
#pragma once
#include <memory>
#include <string>

#include "installer/progress_window.h"
#include "platform/hresult.h"

class CServerAppModule;

class IApplication {
 public:
  virtual ~IApplication() = default;
  virtual std::unique_ptr<IProgressWindow> CreateProgressWindow() = 0;
  // An error of the start (the installation as root failed), shown in the
  // main window's message pane when the window opens.
  virtual void ShowStartupError(HRESULT hr) = 0;
  // Creates and shows the main window, holding one lock on module for it,
  // and runs the main loop until it ends; the loop's exit code. A window
  // that cannot be created gives 0 without running the loop.
  virtual int RunMainWindow(CServerAppModule* module) = 0;
  // Runs the main loop without a window.
  virtual int RunMessageLoop() = 0;
  // Ends the main loop with code; callable from any thread.
  virtual void PostQuit(int code) = 0;
  // Brings the main window to the front; false when there is none (yet).
  // Callable from any thread.
  virtual bool RaiseMainWindow() = 0;
};

// The whole run; the process's exit code: 1, said on standard error, when
// the instance lock cannot be taken or a forced installation failed.
int RunVantor(const std::string& commandLine, IApplication* app);
