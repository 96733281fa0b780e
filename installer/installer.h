// The components flashing needs beside the program, installed in one pass on
// the first start of each new executable (or when forced), and removed on
// request:
//   - the udev rules that give the logged-in user the phones' USB devices and
//     keep ModemManager away from them ("Google/Driver/51-android.rules",
//     "Qualcomm/Driver/<architecture>/qcser.rules"), copied into the rules
//     folder (the driver store);
//   - the runtime package "Qualcomm/QPST/vcredist.msi" and the eleven
//     automation-server modules under "Qualcomm/QPST/": Windows files that
//     nothing here can run, so each present one is only counted and logged;
//     each module missing sets the machine switch "NoQPST";
//   - the program's own registration: the registration script and the type
//     descriptions under HKEY_CLASSES_ROOT.
// Component paths are relative to the current folder. Failures are logged
// ("%s %s(0x%08x)") and traced, and never stop the pass; the installation
// marker is written only when every step succeeded.
#pragma once
#include <string>

#include "installer/progress_window.h"
#include "platform/hresult.h"

// Where the rules files go: VANTOR_RULES_DIR when set, else /etc/udev/rules.d.
std::string RulesFolder();
// The name an installed rules file gets in the rules folder: sorted before
// the rules that hand devices to the seat (73) and to ModemManager (77).
std::string InstalledRulesName(const std::string& driverFile);

class CInstaller {
 public:
  static constexpr unsigned kSteps = 15;  // 2 rules, 1 runtime, 11 modules, 1 program
  static constexpr int kAnimation = 201;

  // Runs the install (install true) or uninstall sequence with window as
  // its progress window; returns when it is done.
  CInstaller(bool install, bool forced, IProgressWindow* window);
  ~CInstaller();
  CInstaller(const CInstaller&) = delete;
  CInstaller& operator=(const CInstaller&) = delete;

  unsigned Counter() const { return counter_; }
  // Whether every step that ran succeeded (and none was cancelled).
  bool Succeeded() const { return succeeded_; }
  // S_OK after a sequence that succeeded, else the first failure.
  HRESULT Result() const { return succeeded_ ? S_OK : failure_; }

  bool InstallDriver(bool install);
  bool InstallVcRedist(bool install);
  bool RegisterModule(bool install);
  bool RegisterServer(bool install);

 private:
  void Install(bool forced);
  void Uninstall();
  // One step unless the user has cancelled.
  bool Run(bool (CInstaller::*step)(bool), bool install);
  void Advance();
  void Finish(bool ok);
  // The step's log line, "%s %s(0x%08x)"; a failure is also noted.
  void LogStep(const char* verb, const std::string& path, HRESULT hr);
  // Keeps the first failure and shows the failed step in the window.
  void NoteFailure(const std::string& step, HRESULT hr);
  // An outside command's exit code, run while the window keeps answering.
  HRESULT Execute(const std::string& command);
  HRESULT RunUdevadm(const char* arguments);
  // Whether a udev daemon answers; nothing is to be reloaded without one
  // (a chroot, a container): it reads the rules when it starts.
  bool UdevRunning();
  HRESULT UninstallDriver(const std::string& driverFile);
  HRESULT CopyDriver(const std::string& path, const std::string& driverFile);

  IProgressWindow* window_;
  unsigned counter_ = 0;
  bool succeeded_ = false;
  HRESULT failure_ = S_OK;
};
