// The component installer on a package tree of the test's own, with the
// rules folder, the registry and the outside commands redirected.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "installer/installer.h"
#include "platform/executable.h"
#include "platform/registry/registry.h"
#include "process/search_file.h"
#include "shell/settings.h"
#include "tests/support/log_capture.h"

namespace {

// Records what the installer asked of its window.
class FakeWindow : public IProgressWindow {
 public:
  void SetTitle(const std::string& t) override { title = t; }
  void SetAnimation(int r) override { animation = r; }
  void SetTimeDisplay(bool) override {}
  void SetMinimizeButton(bool) override {}
  void SetProgressBar(bool) override {}
  void SetRange(unsigned start, unsigned t) override {
    position = start;
    total = t;
  }
  void SetPosition(unsigned v) override { position = v; }
  bool ShowModeless() override { return ++shows, true; }
  void SetLine(int line, const std::string& text, bool) override {
    if (line == 1) headings.push_back(text);
    if (line == 2) paths.push_back(text);
  }
  bool HasUserCancelled() override { return ++asked > cancelAfter; }
  void Stop() override { ++stops; }

  std::string title;
  int animation = 0;
  unsigned position = 0, total = 0;
  int shows = 0, stops = 0, asked = 0, cancelAfter = 100;
  std::vector<std::string> headings, paths;
};

// A package tree as the current folder, a rules folder, a registry and fake
// udevadm and regsvr32 that note their arguments.
class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    fs::create_directories(dir / "pkg/Google/Driver");
    fs::create_directories(dir / ("pkg/Qualcomm/Driver/" + GetNativeArchitecture()));
    fs::create_directories(dir / "pkg/Qualcomm/QPST");
    fs::create_directories(dir / "rules");
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "bench");
    WriteFile(dir / "pkg/Google/Driver/51-android.rules", "# android\n");
    WriteFile(dir / ("pkg/Qualcomm/Driver/" + GetNativeArchitecture() + "/qcser.rules"), "# qualcomm\n");
    for (const char* tool : {"udevadm", "regsvr32.exe"}) {
      WriteFile(dir / ("bin/" + std::string(tool)), "#!/bin/sh\necho \"$0 $*\" >> \"" + dir / "commands" + "\"\n");
      fs::permissions(dir / ("bin/" + std::string(tool)), fs::perms::owner_all);
    }
    oldFolder = fs::current_path();
    fs::current_path(dir / "pkg");
  }
  void TearDown() override { std::filesystem::current_path(oldFolder); }

  std::string Machine(const char* name) {
    CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSettingsKey) != ERROR_SUCCESS) return "<no key>";
    char data[300] = {};
    DWORD type = 0, size = sizeof data - 1;
    if (RegQueryValueEx(key.get(), name, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
      return "<none>";
    return type == REG_DWORD ? std::to_string(static_cast<unsigned char>(data[0])) : std::string(data);
  }
  // The log lines of the installer's steps, in order.
  std::vector<std::string> StepLines(const LogCapture& log) {
    std::vector<std::string> lines;
    std::istringstream text(log.Text());
    for (std::string line; std::getline(text, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      for (const char* verb : {"install ", "uninstall ", "register ", "unregister "})
        if (line.rfind(verb, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  TempDir dir;
  std::filesystem::path oldFolder;
  ScopedEnv registry{"VANTOR_REGISTRY_DIR", (dir / "registry").c_str()};
  ScopedEnv rules{"VANTOR_RULES_DIR", (dir / "rules").c_str()};
  ScopedEnv path{"PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str()};
  ScopedEnv bench{"VANTOR_BENCH_DIR", (dir / "bench").c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
};

}  // namespace

TEST_F(Installer, FirstRunWithoutQpstModulesInstallsTheRulesAndMarksTheExecutable) {
  LogCapture log;
  FakeWindow window;
  CInstaller installer(true, false, &window);
  EXPECT_TRUE(installer.Succeeded());
  EXPECT_EQ(window.title, "Vantor 6.0.0.1");
  EXPECT_EQ(window.animation, 201);
  EXPECT_EQ(window.total, 15u);
  EXPECT_EQ(window.position, 3u);  // the program and the two rules files
  EXPECT_EQ(window.shows, 1);
  std::string arch = GetNativeArchitecture();
  EXPECT_EQ(StepLines(log), (std::vector<std::string>{
                                "register " + ExecutablePath() + "(0x00000000)",
                                "install Google/Driver/51-android.rules(0x00000000)",
                                "install Qualcomm/Driver/" + arch + "/qcser.rules(0x00000000)",
                            }));
  EXPECT_EQ(ReadFile(dir / "rules/60-vantor-51-android.rules"), "# android\n");
  EXPECT_EQ(ReadFile(dir / "rules/60-vantor-qcser.rules"), "# qualcomm\n");
  EXPECT_EQ(Machine("qcser.rules"), "60-vantor-qcser.rules");
  EXPECT_EQ(Machine("NoQPST"), "1");
  EXPECT_EQ(ReadFile(dir / "commands"), dir / "bin/udevadm control --ping\n" + dir / "bin/udevadm control --reload\n" +
                                           dir / "bin/udevadm trigger --property-match=ID_VENDOR_ID=05c6 "
                                                 "--property-match=ID_VENDOR_ID=18d1 "
                                                 "--property-match=ID_USB_INTERFACES=*:ff42??:*\n");
  EXPECT_TRUE(IsInstalled());

  // The same executable again: nothing shown, nothing done.
  FakeWindow second;
  CInstaller again(true, false, &second);
  EXPECT_EQ(second.shows, 0);
  EXPECT_EQ(second.position, 0u);
  // Forced: installs again, the earlier copies replaced.
  FakeWindow forced;
  CInstaller force(true, true, &forced);
  EXPECT_EQ(forced.position, 3u);
  EXPECT_TRUE(force.Succeeded());
}

TEST_F(Installer, WithoutARunningUdevTheRulesAreInstalledAndNothingIsReloaded) {
  WriteFile(dir / "bin/udevadm", "#!/bin/sh\necho \"$0 $*\" >> \"" + dir / "commands" +
                                     "\"\n[ \"$2\" = --ping ] && exit 1\nexit 0\n");
  LogCapture log;
  CInstaller installer(true, false, nullptr);
  EXPECT_TRUE(installer.Succeeded());
  EXPECT_TRUE(IsInstalled());
  EXPECT_EQ(ReadFile(dir / "rules/60-vantor-qcser.rules"), "# qualcomm\n");
  EXPECT_EQ(ReadFile(dir / "commands"), dir / "bin/udevadm control --ping\n");
  EXPECT_EQ(log.Count("udev is not running"), 1);
}

// The current folder may be writable by another user: a rules file that is
// a link (here to a file only its owner may read) is never followed, and
// nothing but a regular file is published.
TEST_F(Installer, OnlyRegularRulesFilesArePublished) {
  WriteFile(dir / "secret", "owner only\n");
  std::filesystem::permissions(dir / "secret", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::filesystem::remove(dir / "pkg/Google/Driver/51-android.rules");
  std::filesystem::create_symlink(dir / "secret", dir / "pkg/Google/Driver/51-android.rules");
  std::string qcser = "pkg/Qualcomm/Driver/" + GetNativeArchitecture() + "/qcser.rules";
  std::filesystem::remove(dir / qcser);
  std::filesystem::create_directory(dir / qcser);
  LogCapture log;
  CInstaller installer(true, false, nullptr);
  EXPECT_FALSE(installer.Succeeded());
  EXPECT_FALSE(std::filesystem::exists(dir / "rules/60-vantor-51-android.rules"));
  EXPECT_FALSE(std::filesystem::exists(dir / "rules/60-vantor-qcser.rules"));
  EXPECT_EQ(log.Count("CInstaller::InstallDriver("), 2);
  EXPECT_FALSE(IsInstalled());
}

TEST_F(Installer, RulesAlreadyInPlaceAreLeftAsTheyAre) {
  WriteFile(dir / "rules/60-vantor-qcser.rules", "# qualcomm\n");
  struct stat st {};
  ::stat((dir / "rules/60-vantor-qcser.rules").c_str(), &st);
  CInstaller installer(true, false, nullptr);
  EXPECT_TRUE(installer.Succeeded());
  struct stat after {};
  ::stat((dir / "rules/60-vantor-qcser.rules").c_str(), &after);
  EXPECT_EQ(after.st_ino, st.st_ino) << "the file was replaced";
}

TEST_F(Installer, PresentQpstModulesAreCountedAndLogged) {
  WriteFile(dir / "pkg/Qualcomm/QPST/PhoneLib.dll", "x");
  LogCapture log;
  FakeWindow window;
  CInstaller installer(true, true, &window);
  EXPECT_EQ(window.position, 4u);
  EXPECT_EQ(StepLines(log).back(), "register Qualcomm/QPST/PhoneLib.dll(0x00000000)");
  EXPECT_EQ(Machine("NoQPST"), "1");  // ten modules are still missing
}

// A package made for Windows (the runtime package, libraries and programs)
// holds nothing this platform can run: each is counted and logged, nothing
// is started, and the installation is marked, so the next start neither
// installs again nor wipes the user's settings.
TEST_F(Installer, AWindowsPackageIsCountedAndLoggedAndTheInstallIsMarked) {
  const char* modules[] = {"AtmnServer.exe", "ConfigAgentLib.dll", "ConfigAgentMarshal.dll", "DownloadAgentLib.dll",
                           "PhoneLib.dll", "PhoneMarshal.dll", "QpstMarshal.dll", "QPSTools.dll",
                           "QPSTProxyComponents.dll", "QPSTServer.exe", "SerialPortLib.dll"};
  for (std::string module : modules) {
    WriteFile(dir / ("pkg/Qualcomm/QPST/" + module), "#!/bin/sh\necho \"$0 $*\" >> \"" + dir / "commands" + "\"\n");
    std::filesystem::permissions(dir / ("pkg/Qualcomm/QPST/" + module), std::filesystem::perms::owner_all);
  }
  WriteFile(dir / "pkg/Qualcomm/QPST/vcredist.msi", "msi");
  for (const char* tool : {"msiexec.exe", "regsvr32.exe"}) {
    WriteFile(dir / ("bin/" + std::string(tool)), "#!/bin/sh\necho \"$0 $*\" >> \"" + dir / "commands" + "\"\nexit 1\n");
    std::filesystem::permissions(dir / ("bin/" + std::string(tool)), std::filesystem::perms::owner_all);
  }
  LogCapture log;
  FakeWindow window;
  CInstaller installer(true, false, &window);
  EXPECT_TRUE(installer.Succeeded());
  EXPECT_EQ(installer.Result(), S_OK);
  EXPECT_TRUE(IsInstalled());
  EXPECT_EQ(window.position, 15u);
  EXPECT_EQ(Machine("NoQPST"), "<none>");
  std::vector<std::string> lines = StepLines(log);
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[3], "install Qualcomm/QPST/vcredist.msi(0x00000000)");
  EXPECT_EQ(lines[4], "register Qualcomm/QPST/AtmnServer.exe(0x00000000)");
  EXPECT_EQ(lines[14], "register Qualcomm/QPST/SerialPortLib.dll(0x00000000)");
  std::string commands = std::filesystem::exists(dir / "commands") ? ReadFile(dir / "commands") : "";
  EXPECT_EQ(commands.find("QPST"), std::string::npos) << commands;
  EXPECT_EQ(commands.find("msiexec"), std::string::npos) << commands;
  EXPECT_EQ(commands.find("regsvr32"), std::string::npos) << commands;
}

// The marker cannot be written (the machine hive is locked after the last
// step): the installation fails, says which step, and is not marked.
TEST_F(Installer, AMarkerThatCannotBeWrittenFailsTheInstallVisibly) {
  for (const char* module : {"AtmnServer.exe", "ConfigAgentLib.dll", "ConfigAgentMarshal.dll", "DownloadAgentLib.dll",
                             "PhoneLib.dll", "PhoneMarshal.dll", "QpstMarshal.dll", "QPSTools.dll",
                             "QPSTProxyComponents.dll", "QPSTServer.exe", "SerialPortLib.dll"})
    WriteFile(dir / ("pkg/Qualcomm/QPST/" + std::string(module)), "x");
  WriteFile(dir / "pkg/Qualcomm/QPST/vcredist.msi", "msi");
  struct LockingWindow : FakeWindow {
    std::string lock = RegistryHivePath(HKEY_LOCAL_MACHINE) + ".lock";
    std::vector<std::string> failed;
    void SetPosition(unsigned v) override {
      FakeWindow::SetPosition(v);
      if (v != CInstaller::kSteps) return;
      std::filesystem::remove(lock);
      std::filesystem::create_directory(lock);
    }
    void ShowFailedStep(const std::string& step) override { failed.push_back(step); }
  } window;
  LogCapture log;
  CInstaller installer(true, false, &window);
  EXPECT_EQ(window.position, 15u);
  EXPECT_FALSE(installer.Succeeded());
  EXPECT_TRUE(FAILED(installer.Result()));
  ASSERT_EQ(window.failed.size(), 1u);
  EXPECT_EQ(window.failed[0].rfind("mark installed " + ExecutablePath() + "(0x", 0), 0u) << window.failed[0];
  EXPECT_EQ(log.Count("CInstaller::CInstaller("), 1);
  std::filesystem::remove(window.lock);
  EXPECT_FALSE(IsInstalled());
}

TEST_F(Installer, TheWindowShowsWhatIsDoneAndEachComponentInTurn) {
  for (const char* module : {"QPSTServer.exe", "PhoneLib.dll"}) {
    WriteFile(dir / ("pkg/Qualcomm/QPST/" + std::string(module)), "#!/bin/sh\necho \"$0 $*\" >> \"" + dir / "commands" + "\"\n");
    std::filesystem::permissions(dir / ("pkg/Qualcomm/QPST/" + std::string(module)), std::filesystem::perms::owner_all);
  }
  std::string qcser = "Qualcomm/Driver/" + GetNativeArchitecture() + "/qcser.rules";
  FakeWindow install;
  { CInstaller installer(true, true, &install); }
  EXPECT_EQ(install.headings, std::vector<std::string>{"安装相关刷机组件"});
  EXPECT_EQ(install.paths, (std::vector<std::string>{ExecutablePath(), "Google/Driver/51-android.rules", qcser,
                                                     "Qualcomm/QPST/PhoneLib.dll", "Qualcomm/QPST/QPSTServer.exe"}));
  FakeWindow uninstall;
  { CInstaller installer(false, false, &uninstall); }
  EXPECT_EQ(uninstall.headings, std::vector<std::string>{"卸载相关刷机组件"});
  EXPECT_EQ(uninstall.paths, (std::vector<std::string>{"Qualcomm/QPST/PhoneLib.dll", "Qualcomm/QPST/QPSTServer.exe",
                                                       "Google/Driver/51-android.rules", qcser, ExecutablePath()}));
  // Neither module is started in either direction.
  std::string commands = ReadFile(dir / "commands");
  EXPECT_EQ(commands.find("QPST"), std::string::npos) << commands;
}

TEST_F(Installer, EveryMissingModuleWritesNoQpstAndAFailedWriteFailsTheStep) {
  WriteFile(dir / "pkg/Qualcomm/QPST/PhoneLib.dll", "x");
  MarkInstalled();
  FakeWindow window;
  CInstaller installer(true, false, &window);  // installed: nothing ran yet
  ASSERT_EQ(window.shows, 0);
  LogCapture log;
  EXPECT_TRUE(installer.RegisterServer(true));
  EXPECT_EQ(Machine("NoQPST"), "1");
  // The machine hive can be read but no longer written.
  std::string lock = RegistryHivePath(HKEY_LOCAL_MACHINE) + ".lock";
  std::filesystem::remove(lock);
  std::filesystem::create_directory(lock);
  EXPECT_FALSE(installer.RegisterServer(true));
  EXPECT_EQ(log.Count("CInstaller::RegisterServer("), 10);  // one per missing module
  EXPECT_EQ(log.Count("register Qualcomm/QPST/PhoneLib.dll(0x00000000)"), 2);
}

TEST_F(Installer, AFailingStepIsLoggedAndLeavesTheMarkerUnwritten) {
  std::filesystem::remove(dir / "pkg/Google/Driver/51-android.rules");
  LogCapture log;
  FakeWindow window;
  CInstaller installer(true, false, &window);
  EXPECT_FALSE(installer.Succeeded());
  EXPECT_EQ(log.Count("install Google/Driver/51-android.rules(0x80070002)"), 1);
  EXPECT_EQ(log.Count("CInstaller::InstallDriver("), 1);
  EXPECT_EQ(window.position, 3u);  // the step still counts
  EXPECT_FALSE(IsInstalled());
  EXPECT_TRUE(std::filesystem::exists(dir / "rules/60-vantor-qcser.rules"));
}

TEST_F(Installer, AToolThatExitsWithAPositiveStatusFailsItsStep) {
  // udev runs (the ping answers), but the reload fails.
  WriteFile(dir / "bin/udevadm", "#!/bin/sh\n[ \"$2\" = --reload ] && exit 1\nexit 0\n");
  LogCapture log;
  FakeWindow window;
  CInstaller installer(true, false, &window);
  EXPECT_FALSE(installer.Succeeded());
  EXPECT_EQ(log.Count("install Qualcomm/Driver/" + GetNativeArchitecture() + "/qcser.rules(0x80004005)"), 1);
  EXPECT_EQ(log.Count("install Google/Driver/51-android.rules(0x00000000)"), 1);
  EXPECT_FALSE(IsInstalled());
}

TEST_F(Installer, CancelSkipsTheRemainingSteps) {
  FakeWindow window;
  window.cancelAfter = 1;  // the program is registered, then the user cancels
  CInstaller installer(true, false, &window);
  EXPECT_FALSE(installer.Succeeded());
  EXPECT_EQ(window.position, 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / "rules/60-vantor-qcser.rules"));
  EXPECT_FALSE(IsInstalled());
  EXPECT_EQ(window.stops, 1);
}

TEST_F(Installer, UninstallRunsInReverseAndRemovesTheRecordedCopies) {
  { CInstaller installer(true, false, nullptr); }
  LogCapture log;
  FakeWindow window;
  CInstaller installer(false, false, &window);
  std::string arch = GetNativeArchitecture();
  EXPECT_EQ(StepLines(log), (std::vector<std::string>{
                                "uninstall Google/Driver/51-android.rules(0x00000000)",
                                "uninstall Qualcomm/Driver/" + arch + "/qcser.rules(0x00000000)",
                                "unregister " + ExecutablePath() + "(0x00000000)",
                            }));
  EXPECT_FALSE(std::filesystem::exists(dir / "rules/60-vantor-51-android.rules"));
  EXPECT_FALSE(std::filesystem::exists(dir / "rules/60-vantor-qcser.rules"));
  EXPECT_EQ(Machine("NoQPST"), "<no key>");  // the script removed the key last
  EXPECT_FALSE(IsInstalled());
}

TEST_F(Installer, UninstallWithNothingRecordedRemovesNothing) {
  WriteFile(dir / "rules/60-vantor-51-android.rules", "# placed by hand\n");
  LogCapture log;
  CInstaller installer(false, false, nullptr);
  EXPECT_FALSE(installer.Succeeded());
  EXPECT_EQ(log.Count("uninstall Google/Driver/51-android.rules(0x80070002)"), 1);
  EXPECT_EQ(log.Count("uninstall Qualcomm/Driver/" + GetNativeArchitecture() + "/qcser.rules(0x80070002)"), 1);
  EXPECT_EQ(ReadFile(dir / "rules/60-vantor-51-android.rules"), "# placed by hand\n");
}

TEST_F(Installer, ARecordedNameNeverLeadsOutOfTheRulesFolder) {
  WriteFile(dir / "precious", "keep");
  {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kSettingsKey), ERROR_SUCCESS);
    ASSERT_EQ(RegSetString(key.get(), "qcser.rules", "../precious"), ERROR_SUCCESS);
  }
  LogCapture log;
  CInstaller installer(false, false, nullptr);
  EXPECT_EQ(ReadFile(dir / "precious"), "keep");
  EXPECT_EQ(log.Count("uninstall Qualcomm/Driver/" + GetNativeArchitecture() + "/qcser.rules(0x8007000d)"), 1);
}
