#include "shell/startup.h"

#include <cstdio>
#include <vector>

#include "download/server_objects.h"
#include "installer/installer.h"
#include "jobs/discovery.h"
#include "jobs/forced_termination.h"
#include "platform/com/class_registry.h"
#include "platform/error_text.h"
#include "platform/executable.h"
#include "platform/open_file_limit.h"
#include "platform/path_name.h"
#include "platform/registry/registry.h"
#include "platform/timing.h"
#include "process/executor.h"
#include "process/process_kill.h"
#include "shell/command_line_switch.h"
#include "shell/elevation.h"
#include "shell/log.h"
#include "shell/program.h"
#include "shell/server_module.h"
#include "shell/settings.h"
#include "shell/single_instance.h"

namespace {

// S_OK, or the installation's first failure.
HRESULT RunInstaller(IApplication* app, bool install, bool forced) {
  std::unique_ptr<IProgressWindow> window = app->CreateProgressWindow();
  CInstaller installer(install, forced, window.get());
  return installer.Result();
}

// Everything from the single instance to the exit pause; the exit code.
int Serve(const std::string& commandLine, IApplication* app) {
  CSingleInstance instance;
  HRESULT locked = instance.Acquire();
  if (locked == S_FALSE) return 0;  // the running instance raised its window
  if (FAILED(locked)) {
    // No window will open: the reason goes where the person who started
    // the program sees it, besides the log.
    std::fprintf(stderr, "vantor: the instance lock %s cannot be taken: %s(0x%08x)\n",
                 CSingleInstance::LockPath().c_str(), GetErrorText(locked).c_str(), static_cast<unsigned>(locked));
    return 1;
  }
  KillProcessTrees(kServerImageNames);

  CServerAppModule module([app] { app->PostQuit(0); });
  StartSwitch start = ScanCommandLine(commandLine);
  // A person or a package script must be able to tell a failed install.
  if (start == StartSwitch::RegServer || start == StartSwitch::UnregServer) {
    HRESULT hr = RunInstaller(app, start == StartSwitch::RegServer, true);
    if (FAILED(hr)) app->ShowStartupError(hr);
    return FAILED(hr) ? 1 : 0;
  }
  bool automation = start == StartSwitch::Automation;
  HRESULT startError = S_OK;
  if (!automation) startError = InstallAsRootWhenNeeded();
  HRESULT installed = RunInstaller(app, true, false);
  if (SUCCEEDED(startError)) startError = installed;
  if (FAILED(startError)) app->ShowStartupError(startError);
  std::unique_ptr<CAutoExecutor> monitor = MonitorDevice();
  module.StartMonitor();

  std::vector<DWORD> cookies;
  if (SHRegGetBoolUSValue(kSettingsKey, "NoQPST", true, false)) {
    RegisterServerObjects(&cookies);
    CoResumeClassObjects();
  }
  instance.Serve([app] { return app->RaiseMainWindow(); });
  int exitCode;
  if (automation) {
    // Without a client the module would never be woken: it ends after one
    // shutdown time-out unless a client comes first.
    module.SignalIdle();
    exitCode = app->RunMessageLoop();
  } else {
    exitCode = app->RunMainWindow(&module);
  }
  instance.StopServing();

  RevokeServerObjects(&cookies);
  if (DWORD pause = module.ExitPauseMs()) WaitUnlessStopped(pause);
  monitor.reset();
  return exitCode;
}

}  // namespace

int RunVantor(const std::string& commandLine, IApplication* app) {
  RaiseOpenFileLimit();  // dozens of phones, each with its port, disk and files
  int exitCode = Serve(commandLine, app);
  // A job's worker had to be abandoned: end the servers and every process of
  // this program's own executable name (whatever the file is called), this
  // one last (it exits with code 0 there).
  if (ForcedTermination()) {
    static_assert(std::size(kServerImageNames) == 4, "three server names and the end");
    std::string self = FileName(ExecutablePath());
    const char* names[] = {kServerImageNames[0], kServerImageNames[1], kServerImageNames[2], self.c_str(), nullptr};
    KillProcessTrees(names);
  }
  return exitCode;
}
