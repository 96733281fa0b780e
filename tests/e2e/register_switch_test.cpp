// The switches that install and uninstall, started the way pkexec starts
// them for a normal user: without any display.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <clocale>
#include <filesystem>

#include "platform/registry/registry.h"
#include "platform/version.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "process/search_file.h"
#include "shell/settings.h"
#include "tests/support/temp_dir.h"

namespace {

// A component folder, a registry, a rules folder and a udevadm of the
// test's own; no display of any kind.
struct Session {
  Session() {
    namespace fs = std::filesystem;
    std::string arch = GetNativeArchitecture();
    fs::create_directories(dir / "pkg/Google/Driver");
    fs::create_directories(dir / ("pkg/Qualcomm/Driver/" + arch));
    fs::create_directories(dir / "pkg/Qualcomm/QPST");
    fs::create_directories(dir / "rules");
    fs::create_directories(dir / "bin");
    WriteFile(dir / "pkg/Google/Driver/51-android.rules", "# android\n");
    WriteFile(dir / ("pkg/Qualcomm/Driver/" + arch + "/qcser.rules"), "# qualcomm\n");
    WriteFile(dir / "bin/udevadm", "#!/bin/sh\nexit 0\n");
    ::chmod((dir / "bin/udevadm").c_str(), 0755);
    old = fs::current_path();
    std::setlocale(LC_CTYPE, "C.UTF-8");  // the program's output is read in this codeset
    fs::current_path(dir / "pkg");
  }
  ~Session() {
    std::filesystem::current_path(old);
    std::setlocale(LC_CTYPE, "C");
  }

  // The program's exit status and what it printed.
  HRESULT Run(const char* switchText, std::string* output) {
    return ExecuteCommand(QuoteArgument(VANTOR_BIN) + " " + switchText, output);
  }
  std::string Marker() {
    CRegKey key;
    std::string file;
    if (key.Open(HKEY_LOCAL_MACHINE, kSettingsKey) == ERROR_SUCCESS) RegGetString(key.get(), "ExeFile", kMaxMarkerPathChars, &file);
    return file;
  }

  TempDir dir;
  std::filesystem::path old;
  ScopedEnv locale{"LC_ALL", "C.UTF-8"};
  ScopedEnv display{"DISPLAY", nullptr};
  ScopedEnv wayland{"WAYLAND_DISPLAY", nullptr};
  ScopedEnv xauthority{"XAUTHORITY", nullptr};
  ScopedEnv platform{"QT_QPA_PLATFORM", nullptr};
  ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().c_str()};
  ScopedEnv state{"XDG_STATE_HOME", (dir / "state").c_str()};
  ScopedEnv registry{"VANTOR_REGISTRY_DIR", (dir / "registry").c_str()};
  ScopedEnv rules{"VANTOR_RULES_DIR", (dir / "rules").c_str()};
  ScopedEnv bench{"VANTOR_BENCH_DIR", dir.path().c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  ScopedEnv path{"PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str()};
};

}  // namespace

TEST(RegisterSwitch, InstallsAndUninstallsWithoutADisplayAndPrintsTheSteps) {
  Session s;
  std::string arch = GetNativeArchitecture();
  std::string output;
  EXPECT_EQ(s.Run("/RegServer", &output), 0) << output;
  EXPECT_NE(output.find("安装相关刷机组件\n"), std::string::npos) << output;
  EXPECT_NE(output.find("[2/15] Google/Driver/51-android.rules\n"), std::string::npos) << output;
  EXPECT_NE(output.find("[3/15] Qualcomm/Driver/" + arch + "/qcser.rules\n"), std::string::npos) << output;
  EXPECT_EQ(ReadFile(s.dir / "rules/60-vantor-qcser.rules"), "# qualcomm\n");
  EXPECT_EQ(s.Marker(), VANTOR_BIN);

  output.clear();
  EXPECT_EQ(s.Run("-unregserver", &output), 0) << output;
  EXPECT_NE(output.find("卸载相关刷机组件\n"), std::string::npos) << output;
  EXPECT_FALSE(std::filesystem::exists(s.dir / "rules/60-vantor-qcser.rules"));
  EXPECT_EQ(s.Marker(), "");
}

// A package made for Windows in the current folder, an executable path of
// 300 characters: the install succeeds and is marked, so the next start
// does not install again and keeps the user's settings.
TEST(RegisterSwitch, AWindowsPackageAndALongPathAreInstalledAndMarked) {
  Session s;
  WriteFile(s.dir / "pkg/Qualcomm/QPST/vcredist.msi", "msi");
  WriteFile(s.dir / "pkg/Qualcomm/QPST/PhoneLib.dll", "dll");
  WriteFile(s.dir / "pkg/Qualcomm/QPST/QPSTServer.exe", "exe");
  std::string output;
  EXPECT_EQ(s.Run("/RegServer", &output), 0) << output;
  EXPECT_EQ(output.find("failed"), std::string::npos) << output;
  EXPECT_EQ(s.Marker(), VANTOR_BIN);

  std::string folder = s.dir.path();
  while (folder.size() < 290) folder += "/a-long-folder-name";
  std::filesystem::create_directories(folder);
  std::string program = folder + "/vantor";
  std::filesystem::copy_file(VANTOR_BIN, program);
  ASSERT_GE(program.size(), 300u);
  output.clear();
  EXPECT_EQ(ExecuteCommand(QuoteArgument(program) + " /RegServer", &output), 0) << output;
  EXPECT_EQ(s.Marker(), program);
}

// A step that fails (the rules folder is missing) is printed, and the exit
// status says the installation failed.
TEST(RegisterSwitch, AFailedInstallationIsPrintedAndEndsWithAFailureStatus) {
  Session s;
  ScopedEnv rules("VANTOR_RULES_DIR", (s.dir / "no-such-folder").c_str());
  std::string output;
  EXPECT_EQ(s.Run("/RegServer", &output), 1) << output;
  EXPECT_NE(output.find("failed: install Google/Driver/51-android.rules(0x80070002)"), std::string::npos) << output;
  EXPECT_EQ(s.Marker(), "");
}

TEST(RegisterSwitch, VersionIsOneLineWithoutADisplayAndTouchesNothing) {
  Session s;
  std::string output;
  EXPECT_EQ(s.Run("--version", &output), 0) << output;
  EXPECT_EQ(output, "vantor " VANTOR_VERSION "\n");
  EXPECT_FALSE(std::filesystem::exists(s.dir / "registry")) << "the version installed something";
}
