#include "installer/installer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "jobs/discovery.h"
#include "platform/durable_file.h"
#include "platform/executable.h"
#include "platform/format.h"
#include "platform/path_name.h"
#include "platform/registry/registry.h"
#include "platform/unique_fd.h"
#include "process/executor.h"
#include "process/search_file.h"
#include "shell/log.h"
#include "shell/program.h"
#include "shell/settings.h"

namespace {

constexpr char kInstallText[] = "安装相关刷机组件";    // string 170
constexpr char kUninstallText[] = "卸载相关刷机组件";  // string 171
constexpr char kRuntimePackage[] = "Qualcomm/QPST/vcredist.msi";
constexpr const char* kQpstModules[] = {
    "AtmnServer.exe", "ConfigAgentLib.dll", "ConfigAgentMarshal.dll", "DownloadAgentLib.dll",
    "PhoneLib.dll",   "PhoneMarshal.dll",   "QpstMarshal.dll",        "QPSTools.dll",
    "QPSTProxyComponents.dll", "QPSTServer.exe", "SerialPortLib.dll",
};
constexpr size_t kMaxRulesFileBytes = 1 << 20;
// The devices the rules match, by the vendors they name (the USB devices and,
// through the properties udev copies to them, their ports and disks) and by
// the fastboot and adb interfaces of any vendor. Property matches add up.
constexpr char kTriggerPhones[] =
    "trigger --property-match=ID_VENDOR_ID=05c6 --property-match=ID_VENDOR_ID=18d1 "
    "--property-match=ID_USB_INTERFACES=*:ff42??:*";
constexpr size_t kMaxPathChars = 260;

// The type descriptions the program carries, recorded under
// HKEY_CLASSES_ROOT so that other tools can name its interfaces.
struct TypeDescription {
  const char* key;
  const char* name;
};
constexpr TypeDescription kTypeDescriptions[] = {
    {"TypeLib\\VantorLib\\1.0", "Vantor 1.0 Type Library"},
    {"TypeLib\\AtmnServerLib\\1.0", "AtmnServer 1.0 Type Library"},
    {"TypeLib\\QPSTProxyComponents\\1.0", "QPSTProxyComponents 1.0 Type Library"},
    {"Interface\\{0F18F6D6-FE31-4CD7-A71A-3C69B2B97E9A}", "IQStatusReport"},
    {"Interface\\{0328EE19-9850-4FB1-AFB0-9A8A54DF0605}", "IAtmnServer"},
    {"Interface\\{64F72B9C-B290-40C8-AF2F-AD28F0814017}", "IQPortProxy"},
    {"Interface\\{18674743-B41F-43ED-AF4E-D4AC63041243}", "IQSoftwareDownload"},
    {"Interface\\{55166E48-38AE-4F8C-847C-E4699D5228C0}", "IDownloadSettings"},
};

// Stands in when the installer runs without a window.
class NoWindow final : public IProgressWindow {
 public:
  void SetTitle(const std::string&) override {}
  void SetAnimation(int) override {}
  void SetTimeDisplay(bool) override {}
  void SetMinimizeButton(bool) override {}
  void SetProgressBar(bool) override {}
  void SetRange(unsigned, unsigned) override {}
  void SetPosition(unsigned) override {}
  bool ShowModeless() override { return true; }
  void SetLine(int, const std::string&, bool) override {}
  bool HasUserCancelled() override { return false; }
  void Stop() override {}
};

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

HRESULT FromRegistry(LSTATUS rc) { return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc); }

HKEY RootByName(std::string_view name) {
  if (name == "HKEY_CLASSES_ROOT") return HKEY_CLASSES_ROOT;
  if (name == "HKEY_CURRENT_USER") return HKEY_CURRENT_USER;
  return HKEY_LOCAL_MACHINE;
}

// Removing what is not there is not a failure.
LSTATUS DeleteTreeIfPresent(HKEY root, std::string_view key) {
  LSTATUS rc = RegDeleteTree(root, key);
  return rc == ERROR_FILE_NOT_FOUND ? static_cast<LSTATUS>(ERROR_SUCCESS) : rc;
}

// The registration script: in register mode the value entries are created
// and the settings keys wiped and created empty; in unregister mode all of
// them are removed.
HRESULT ApplyRegistrationScript(bool registering) {
  HRESULT first = S_OK;
  for (const RegistrationEntry& e : kRegistrationScript) {
    HKEY root = RootByName(e.root);
    LSTATUS rc;
    if (!registering) {
      rc = DeleteTreeIfPresent(root, e.key);
    } else if (e.wipeOnRegister) {
      rc = DeleteTreeIfPresent(root, e.key);
      CRegKey key;
      if (rc == ERROR_SUCCESS) rc = key.Create(root, e.key);
    } else {
      CRegKey key;
      rc = key.Create(root, e.key);
      if (rc == ERROR_SUCCESS && e.valueName) rc = RegSetString(key.get(), e.valueName, e.value);
    }
    if (SUCCEEDED(first)) first = FromRegistry(rc);
  }
  return first;
}

// Whether this process may change the machine hives that the registration
// script and the type descriptions go to.
HRESULT MachineHivesWritable() {
  HRESULT hr = FromRegistry(RegCheckWritable(HKEY_LOCAL_MACHINE));
  return SUCCEEDED(hr) ? FromRegistry(RegCheckWritable(HKEY_CLASSES_ROOT)) : hr;
}

HRESULT RecordTypeDescriptions(bool registering) {
  HRESULT first = S_OK;
  for (const TypeDescription& d : kTypeDescriptions) {
    LSTATUS rc;
    if (registering) {
      CRegKey key;
      rc = key.Create(HKEY_CLASSES_ROOT, d.key);
      if (rc == ERROR_SUCCESS) rc = RegSetString(key.get(), "", d.name);
    } else {
      rc = DeleteTreeIfPresent(HKEY_CLASSES_ROOT, d.key);
    }
    if (SUCCEEDED(first)) first = FromRegistry(rc);
  }
  return first;
}

// A rules file of at most kMaxRulesFileBytes. The current folder may be one
// another user can write: a link planted there is never followed, and only
// a regular file is read, so nothing else is ever published.
HRESULT ReadRulesFile(const std::string& path, std::string* data) {
  UniqueFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!in.valid()) return HresultFromLastErrno();
  struct stat st{};
  if (::fstat(in.get(), &st) != 0) return HresultFromLastErrno();
  if (!S_ISREG(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_FILE_INVALID);
  data->assign(kMaxRulesFileBytes + 1, '\0');
  ssize_t n = ::read(in.get(), data->data(), data->size());
  if (n < 0) return HresultFromLastErrno();
  if (static_cast<size_t>(n) > kMaxRulesFileBytes) return HRESULT_FROM_WIN32(ERROR_FILE_INVALID);
  data->resize(static_cast<size_t>(n));
  return S_OK;
}

// Copies a rules file into the rules folder durably: a reader never sees
// half a file. A file already in place with the same rules (the system's
// package installs them) is left as it is.
HRESULT CopyRulesFile(const std::string& source, const std::string& target) {
  std::string data, present;
  HRESULT hr = ReadRulesFile(source, &data);
  if (FAILED(hr)) return hr;
  if (SUCCEEDED(ReadRulesFile(target, &present)) && present == data) return S_OK;
  int err = ReplaceFileDurably(target, data, 0644);
  return err == 0 ? S_OK : HresultFromErrno(err);
}

HRESULT WriteNoQpst() {
  CRegKey key;
  LSTATUS rc = key.Create(HKEY_LOCAL_MACHINE, kSettingsKey);
  if (rc == ERROR_SUCCESS) rc = RegSetDword(key.get(), "NoQPST", 1);
  return FromRegistry(rc);
}

}  // namespace

std::string RulesFolder() {
  const char* dir = std::getenv("VANTOR_RULES_DIR");
  return dir && *dir ? dir : "/etc/udev/rules.d";
}

std::string InstalledRulesName(const std::string& driverFile) { return "60-vantor-" + driverFile; }

CInstaller::CInstaller(bool install, bool forced, IProgressWindow* window) {
  static NoWindow noWindow;
  window_ = window ? window : &noWindow;
  window_->SetAnimation(kAnimation);
  window_->SetTimeDisplay(true);
  window_->SetMinimizeButton(false);
  window_->SetProgressBar(true);
  window_->SetTitle(kProgramCaption);
  window_->SetRange(0, kSteps);
  if (install) Install(forced);
  else Uninstall();
}

CInstaller::~CInstaller() { window_->Stop(); }

void CInstaller::Install(bool forced) {
  if (!forced && IsInstalled()) {
    succeeded_ = true;
    return;
  }
  window_->ShowModeless();
  window_->SetLine(1, kInstallText, false);
  bool ok = Run(&CInstaller::RegisterModule, true);
  ok = Run(&CInstaller::InstallDriver, true) && ok;
  ok = Run(&CInstaller::InstallVcRedist, true) && ok;
  ok = Run(&CInstaller::RegisterServer, true) && ok;
  if (ok) {
    HRESULT hr = FromRegistry(MarkInstalled());
    ok = TraceResult(hr, "CInstaller::CInstaller", __LINE__);
    if (!ok) NoteFailure("mark installed " + ExecutablePath(), hr);
  }
  Finish(ok);
}

void CInstaller::Uninstall() {
  window_->ShowModeless();
  window_->SetLine(1, kUninstallText, false);
  bool ok = Run(&CInstaller::RegisterServer, false);
  ok = Run(&CInstaller::InstallVcRedist, false) && ok;
  ok = Run(&CInstaller::InstallDriver, false) && ok;
  ok = Run(&CInstaller::RegisterModule, false) && ok;
  Finish(ok);
}

bool CInstaller::Run(bool (CInstaller::*step)(bool), bool install) {
  if (window_->HasUserCancelled()) {
    NoteFailure("cancelled", HRESULT_FROM_WIN32(ERROR_CANCELLED));
    return false;
  }
  return (this->*step)(install);
}

// A failed sequence always has a failure to show, also when its step only
// traced it (a registration call before the last).
void CInstaller::Finish(bool ok) {
  succeeded_ = ok;
  if (!ok && SUCCEEDED(failure_)) failure_ = E_FAIL;
  window_->Stop();
}

void CInstaller::LogStep(const char* verb, const std::string& path, HRESULT hr) {
  WriteLog("%s %s(0x%08x)", verb, path.c_str(), static_cast<unsigned>(hr));
  if (FAILED(hr)) NoteFailure(std::string(verb) + " " + path, hr);
}

void CInstaller::NoteFailure(const std::string& step, HRESULT hr) {
  if (SUCCEEDED(failure_)) failure_ = hr;
  window_->ShowFailedStep(Format("%s(0x%08x)", step.c_str(), static_cast<unsigned>(hr)));
}

void CInstaller::Advance() { window_->SetPosition(++counter_); }

HRESULT CInstaller::Execute(const std::string& command) {
  return window_->Await([&command] { return ExecuteCommand(command); });
}

// udevadm tells failure by a positive exit status, which as an HRESULT would
// read as success.
HRESULT CInstaller::RunUdevadm(const char* arguments) {
  HRESULT status = Execute(std::string("udevadm ") + arguments);
  return status > 0 ? E_FAIL : status;
}

bool CInstaller::UdevRunning() {
  if (RunUdevadm("control --ping") == S_OK) return true;
  WriteLog("%s", "udev is not running: the rules take effect when it starts");
  return false;
}

bool CInstaller::InstallDriver(bool install) {
  constexpr const char* kName = "CInstaller::InstallDriver";
  const std::string drivers[] = {"Google/Driver/51-android.rules",
                                 Format("Qualcomm/Driver/%s/qcser.rules", GetNativeArchitecture().c_str())};
  // Without a running udev (a chroot, a container, a system still being
  // set up) there is nothing to reload: udev reads the rules when it starts.
  bool udevRunning = install && UdevRunning();
  bool ok = true;
  for (const std::string& path : drivers) {
    window_->SetLine(2, path, true);
    std::string driverFile = FileName(path);
    HRESULT hr;
    if (install) {
      UninstallDriver(driverFile);
      hr = CopyDriver(path, driverFile);
      if (SUCCEEDED(hr) && path.find("qcser.rules") != std::string::npos) {
        if (udevRunning) hr = RunUdevadm("control --reload");
        if (TraceResult(hr, kName, __LINE__)) {
          hr = window_->Await([] { return InitializeSetting(); });
          TraceResult(hr, kName, __LINE__);
        }
      }
    } else {
      hr = UninstallDriver(driverFile);
    }
    Advance();
    ok = TraceResult(hr, kName, __LINE__) && ok;
    LogStep(install ? "install" : "uninstall", path, hr);
  }
  // The phones already attached get the new rules now; no other device of
  // the machine is touched.
  if (udevRunning) TraceResult(RunUdevadm(kTriggerPhones), kName, __LINE__);
  return ok;
}

HRESULT CInstaller::CopyDriver(const std::string& path, const std::string& driverFile) {
  std::string installedName = InstalledRulesName(driverFile);
  HRESULT hr = CopyRulesFile(path, RulesFolder() + "/" + installedName);
  if (FAILED(hr)) return hr;
  CRegKey key;
  LSTATUS rc = key.Create(HKEY_LOCAL_MACHINE, kSettingsKey);
  if (rc == ERROR_SUCCESS) rc = RegSetString(key.get(), driverFile, installedName);
  return FromRegistry(rc);
}

// Removes the copy recorded under the driver file's name; the value stays.
HRESULT CInstaller::UninstallDriver(const std::string& driverFile) {
  CRegKey key;
  LSTATUS rc = key.Open(HKEY_LOCAL_MACHINE, kSettingsKey);
  std::string installedName;
  if (rc == ERROR_SUCCESS) rc = RegGetString(key.get(), driverFile, kMaxPathChars, &installedName);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  // The registry is writable by whoever owns the machine hive: never follow
  // a recorded name out of the rules folder.
  if (installedName.empty() || installedName.find('/') != std::string::npos || installedName == "." ||
      installedName == "..")
    return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  if (::unlink((RulesFolder() + "/" + installedName).c_str()) != 0) return HresultFromLastErrno();
  return S_OK;
}

// The runtime package is a Windows installer package: this platform has no
// installer to hand it to, and nothing here needs it. The step keeps its
// place, its progress step and its log line, and starts nothing.
bool CInstaller::InstallVcRedist(bool install) {
  if (!Exists(kRuntimePackage)) return true;
  window_->SetLine(2, kRuntimePackage, true);
  Advance();
  LogStep(install ? "install" : "uninstall", kRuntimePackage, S_OK);
  return true;
}

bool CInstaller::RegisterModule(bool install) {
  constexpr const char* kName = "CInstaller::RegisterModule";
  std::string exe = ExecutablePath();
  window_->SetLine(2, exe, true);
  // The script wipes the user's settings before it writes the machine
  // hives: it runs only when those can be written, so that a start without
  // the rights to install leaves the user's settings as they are.
  HRESULT hr = MachineHivesWritable();
  if (!TraceResult(hr, kName, __LINE__)) {
    Advance();
    LogStep(install ? "register" : "unregister", exe, hr);
    return false;
  }
  hr = ApplyRegistrationScript(true);
  bool ok = TraceResult(hr, kName, __LINE__);
  if (!install) {
    hr = ApplyRegistrationScript(false);
    ok = TraceResult(hr, kName, __LINE__) && ok;
  }
  hr = RecordTypeDescriptions(install);
  ok = TraceResult(hr, kName, __LINE__) && ok;
  Advance();
  LogStep(install ? "register" : "unregister", exe, hr);
  return ok;
}

bool CInstaller::RegisterServer(bool install) {
  constexpr const char* kName = "CInstaller::RegisterServer";
  bool ok = true;
  for (const char* module : kQpstModules) {
    std::string path = std::string("Qualcomm/QPST/") + module;
    if (!Exists(path)) {
      HRESULT hr = WriteNoQpst();
      if (!TraceResult(hr, kName, __LINE__)) NoteFailure("NoQPST " + path, hr);
      ok = SUCCEEDED(hr) && ok;
      continue;
    }
    // The modules are Windows programs and libraries, which this platform
    // cannot start: each keeps its progress step and log line, and nothing
    // is run.
    window_->SetLine(2, path, true);
    Advance();
    LogStep(install ? "register" : "unregister", path, S_OK);
  }
  return ok;
}
