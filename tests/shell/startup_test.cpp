// The start-up sequence with windows of the test's own: the command line's
// switches, the server objects behind "NoQPST", the shutdown monitor, and
// the exit after a forced termination.
#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "download/qpst_interfaces.h"
#include "download/server_objects.h"
#include "jobs/forced_termination.h"
#include "jobs/phone_lock.h"
#include "platform/com/class_registry.h"
#include "platform/com/module.h"
#include "platform/path_name.h"
#include "platform/registry/registry.h"
#include "platform/timing.h"
#include "process/executor.h"
#include "process/process_list.h"
#include "shell/command_line_switch.h"
#include "shell/server_module.h"
#include "shell/settings.h"
#include "shell/single_instance.h"
#include "shell/startup.h"
#include "tests/support/log_capture.h"
#include "tests/support/refused_pidfds.h"
#include "tests/support/temp_dir.h"

namespace {

// Notes what the installer showed: line 1 of each window that was shown.
class NotingWindow : public IProgressWindow {
 public:
  explicit NotingWindow(std::vector<std::string>* shown) : shown_(shown) {}
  void SetTitle(const std::string&) override {}
  void SetAnimation(int) override {}
  void SetTimeDisplay(bool) override {}
  void SetMinimizeButton(bool) override {}
  void SetProgressBar(bool) override {}
  void SetRange(unsigned, unsigned) override {}
  void SetPosition(unsigned) override {}
  bool ShowModeless() override { return visible_ = true; }
  void SetLine(int line, const std::string& text, bool) override {
    if (line == 1 && visible_) shown_->push_back(text);
  }
  bool HasUserCancelled() override { return false; }
  void Stop() override { visible_ = false; }

 private:
  std::vector<std::string>* shown_;
  bool visible_ = false;
};

class FakeApplication : public IApplication {
 public:
  std::unique_ptr<IProgressWindow> CreateProgressWindow() override {
    ++progressWindows;
    return std::make_unique<NotingWindow>(&shownInstallers);
  }
  int RunMainWindow(CServerAppModule* module) override {
    ++mainWindows;
    module->Lock();
    IUnknown* server = nullptr;
    serverAnswer = CoCreateInstance(CLSID_AtmnServer, nullptr, CLSCTX_LOCAL_SERVER, IUnknown::kIid,
                                    reinterpret_cast<void**>(&server));
    if (server) server->Release();
    if (onWindow) onWindow();
    module->Unlock();
    return 0;
  }
  int RunMessageLoop() override {
    ++loops;
    std::unique_lock lock(mutex);
    quit.wait(lock, [this] { return quitCode >= 0; });
    return quitCode;
  }
  void PostQuit(int code) override {
    std::lock_guard lock(mutex);
    quitCode = code;
    quit.notify_all();
  }
  bool RaiseMainWindow() override { return false; }
  void ShowStartupError(HRESULT hr) override { startupError = hr; }

  HRESULT startupError = S_OK;
  int progressWindows = 0, mainWindows = 0, loops = 0;
  std::vector<std::string> shownInstallers;
  HRESULT serverAnswer = E_UNEXPECTED;
  std::function<void()> onWindow;
  std::mutex mutex;
  std::condition_variable quit;
  int quitCode = -1;
};

// A private session: registry, runtime folder, rules folder, bench.
struct Session {
  TempDir dir;
  ScopedEnv registry{"VANTOR_REGISTRY_DIR", (dir / "registry").c_str()};
  ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().c_str()};
  ScopedEnv rules{"VANTOR_RULES_DIR", (dir / "rules").c_str()};
  ScopedEnv bench{"VANTOR_BENCH_DIR", dir.path().c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  ScopedTimeScale fast{0.01};

  void SetNoQpst(DWORD value) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kSettingsKey), ERROR_SUCCESS);
    ASSERT_EQ(RegSetDword(key.get(), "NoQPST", value), ERROR_SUCCESS);
    MarkInstalled();  // so that the first-run installation does not wipe it
  }
};

}  // namespace

// Starts run the installer, which reloads and re-triggers udev: the tests
// and the programs they start find a stand-in instead of the machine's own.
TEST(TestEnvironment, UdevadmIsAStandIn) {
  std::string output;
  EXPECT_EQ(ExecuteCommand("udevadm --version", &output), 0);
  EXPECT_EQ(output, "vantor test stand-in\n");
}

TEST(CommandLine, OnlyASwitchAtTheEndOfTheLineCounts) {
  EXPECT_EQ(ScanCommandLine("\"/usr/bin/vantor\" /RegServer"), StartSwitch::RegServer);
  EXPECT_EQ(ScanCommandLine("\"/usr/bin/vantor\" /rEGsERVER"), StartSwitch::RegServer);
  EXPECT_EQ(ScanCommandLine("\"/opt/my-tools/vantor\" -UnregServer"), StartSwitch::UnregServer);
  EXPECT_EQ(ScanCommandLine("\"/opt/x-y/vantor\" -Embedding"), StartSwitch::Automation);
  EXPECT_EQ(ScanCommandLine("vantor /automation"), StartSwitch::Automation);
  EXPECT_EQ(ScanCommandLine("\"/usr/bin/vantor\" /RegServer now"), StartSwitch::None);
  EXPECT_EQ(ScanCommandLine("\"/usr/bin/vantor\" RegServer"), StartSwitch::None);
  EXPECT_EQ(ScanCommandLine("\"/home/a-RegServer\""), StartSwitch::None);
  EXPECT_EQ(ScanCommandLine("/RegServer"), StartSwitch::RegServer);
  const char* argv[] = {"/opt/my tools/vantor", "/RegServer"};
  EXPECT_EQ(JoinCommandLine(2, argv), "\"/opt/my tools/vantor\" /RegServer");
  EXPECT_EQ(ScanCommandLine(JoinCommandLine(2, argv)), StartSwitch::RegServer);
}

TEST(Startup, RegServerInstallsAndUnregServerUninstallsForcedAndBothEndWithoutAWindow) {
  Session s;
  // The installations reach a stand-in udevadm, never the machine's.
  std::filesystem::create_directories(s.dir / "bin");
  WriteFile(s.dir / "bin/udevadm", "#!/bin/sh\nexit 0\n");
  std::filesystem::permissions(s.dir / "bin/udevadm", std::filesystem::perms::owner_all);
  ScopedEnv path("PATH", (s.dir / "bin:" + std::string(std::getenv("PATH"))).c_str());
  FakeApplication app;
  const std::string install = "安装相关刷机组件", uninstall = "卸载相关刷机组件";
  MarkInstalled();
  // An ordinary start is not forced: with the marker in place nothing shows.
  EXPECT_EQ(RunVantor("vantor", &app), 0);
  EXPECT_EQ(app.shownInstallers, std::vector<std::string>{});
  EXPECT_EQ(app.mainWindows, 1);
  // The switch forces the installation although the marker matches. The
  // current folder holds no components here: both directions fail, and
  // the exit status says so.
  EXPECT_EQ(RunVantor("\"/usr/bin/vantor\" /REGSERVER", &app), 1);
  EXPECT_EQ(app.shownInstallers, std::vector<std::string>{install});
  EXPECT_EQ(app.mainWindows, 1);
  EXPECT_EQ(RunVantor("\"/usr/bin/vantor\" -unregserver", &app), 1);
  EXPECT_EQ(app.shownInstallers, (std::vector<std::string>{install, uninstall}));
  EXPECT_EQ(app.mainWindows, 1);
  // Followed by more text the switch is not one: an ordinary start, whose
  // installation runs because the uninstallation removed the marker.
  EXPECT_EQ(RunVantor("\"/usr/bin/vantor\" -unregserver x", &app), 0);
  EXPECT_EQ(app.mainWindows, 2);
  EXPECT_EQ(app.shownInstallers, (std::vector<std::string>{install, uninstall, install}));
}

TEST(Startup, NoQpstDecidesWhetherTheServerClassesAnswer) {
  Session s;
  FakeApplication app;
  s.SetNoQpst(0);
  EXPECT_EQ(RunVantor("vantor", &app), 0);
  EXPECT_EQ(app.serverAnswer, REGDB_E_CLASSNOTREG);
  s.SetNoQpst(1);
  EXPECT_EQ(RunVantor("vantor", &app), 0);
  EXPECT_EQ(app.serverAnswer, S_OK);
  // Revoked at the end of the run.
  IUnknown* server = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_AtmnServer, nullptr, CLSCTX_LOCAL_SERVER, IUnknown::kIid,
                             reinterpret_cast<void**>(&server)),
            REGDB_E_CLASSNOTREG);
}

TEST(Startup, AutomationWithoutAClientEndsAfterOneShutdownTimeout) {
  Session s;
  FakeApplication app;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunVantor("vantor -Automation", &app), 0);
  EXPECT_EQ(app.loops, 1);
  EXPECT_EQ(app.mainWindows, 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

namespace {

bool ServerClassAnswers() {
  IUnknown* server = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_AtmnServer, nullptr, CLSCTX_LOCAL_SERVER, IUnknown::kIid,
                                reinterpret_cast<void**>(&server));
  if (server) server->Release();
  return SUCCEEDED(hr);
}

}  // namespace

// While a lock is held the module neither quits nor suspends its class
// objects, however long it stays quiet; after the last lock it does both.
TEST(ServerModule, QuitsOnlyAfterAWholeTimeoutWithoutLocksOrActivity) {
  ScopedTimeScale fast(0.01);  // 50 ms time-out
  std::atomic<int> quits{0};
  LONG base = ModuleLockCount();
  ASSERT_EQ(base, 0) << "objects of an earlier test are still alive";
  std::vector<DWORD> cookies;
  ASSERT_EQ(RegisterServerObjects(&cookies), S_OK);
  ASSERT_EQ(CoResumeClassObjects(), S_OK);
  CServerAppModule module([&] { ++quits; });
  module.StartMonitor();
  module.Lock();
  module.SignalIdle();  // woken while a lock is held: keeps serving
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(quits.load(), 0);
  EXPECT_TRUE(ServerClassAnswers()) << "the class objects were suspended while a lock was held";
  module.SetTimeouts(5000, 1000);
  module.Unlock();  // the last lock: time-out and pause drop to 0 first
  EXPECT_EQ(module.ExitPauseMs(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return quits.load() == 1; }, std::chrono::seconds(5)));
  EXPECT_FALSE(ServerClassAnswers());
  RevokeServerObjects(&cookies);
}

// A client that takes a lock while the class objects are being suspended
// keeps the module serving; it quits only after that lock is released.
TEST(ServerModule, ALockTakenWhileSuspendingKeepsTheModuleServing) {
  ScopedTimeScale fast(0.01);  // 50 ms time-out
  ASSERT_EQ(ModuleLockCount(), 0) << "objects of an earlier test are still alive";
  std::atomic<int> suspensions{0}, quits{0}, suspensionsAtQuit{0};
  CServerAppModule module(
      [&] {
        suspensionsAtQuit = suspensions.load();
        ++quits;
      },
      [&] {
        if (suspensions.load() == 0) ModuleLock();  // before the count is seen to move
        ++suspensions;
      });
  module.StartMonitor();
  module.SignalIdle();
  ASSERT_TRUE(WaitUntil([&] { return suspensions.load() == 1; }));
  ModuleUnlock();  // the count falls to 0 again: a new time-out, a new suspension
  ASSERT_TRUE(WaitUntil([&] { return quits.load() == 1; }));
  EXPECT_EQ(suspensionsAtQuit.load(), 2) << "the module quit while a client held a lock";
}

// The child side of the next test: runs only in the copy of the tests.
TEST(ForcedTerminationChild, EndsTheServersAndItself) {
  if (!std::getenv("VANTOR_FORCED_CHILD")) GTEST_SKIP() << "runs in the child process only";
  Session s;
  FakeApplication app;
  app.onWindow = [] { SetForcedTermination(); };
  RunVantor("vantor", &app);
  ADD_FAILURE() << "the program did not end itself";
}

namespace {

// Starts a copy of sleep under the given name, as the user uid when given;
// its pid once it runs.
pid_t StartNamed(const std::string& path, uid_t uid = 0) {
  std::filesystem::copy_file("/bin/sleep", path);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)) ::_exit(126);
    ::execl(path.c_str(), FileName(path).c_str(), "60", nullptr);
    ::_exit(127);
  }
  bool running = WaitUntil([&] {
    CProcessList list;
    list.Snapshot();
    for (const auto& p : list.processes())
      if (p.pid == pid && p.exeName == FileName(path)) return true;
    return false;
  });
  return running ? pid : -1;
}

}  // namespace

// The program ends the processes of its own executable's name, here a copy
// of the tests named "vantor-forced"; a process named "vantor" that the test
// did not start as the program (a technician's window) lives on.
TEST(Startup, AfterAForcedTerminationTheServersAndTheProgramEndWithCodeZero) {
  TempDir dir;
  pid_t server = StartNamed(dir / "QPSTServer.exe");
  ASSERT_GT(server, 0);
  pid_t otherWindow = StartNamed(dir / "vantor");
  ASSERT_GT(otherWindow, 0);
  // Another user's instance of the same executable name lives on.
  pid_t otherUser = -1;
  if (::geteuid() == 0) {
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    std::filesystem::create_directories(dir / "other");
    std::filesystem::permissions(dir / "other", std::filesystem::perms::all);
    otherUser = StartNamed(dir / "other/vantor-forced", 65534);
    ASSERT_GT(otherUser, 0);
  }
  std::filesystem::copy_file("/proc/self/exe", dir / "vantor-forced");
  pid_t child = ::fork();
  if (child == 0) {
    ::setenv("VANTOR_FORCED_CHILD", "1", 1);
    ::execl((dir / "vantor-forced").c_str(), "vantor-forced", "--gtest_filter=ForcedTerminationChild.*", nullptr);
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  int serverStatus = 0;
  EXPECT_EQ(::waitpid(server, &serverStatus, 0), server);
  EXPECT_TRUE(WIFSIGNALED(serverStatus) || WIFEXITED(serverStatus));
  EXPECT_FALSE(WIFEXITED(serverStatus) && WEXITSTATUS(serverStatus) == 0) << "sleep ran to its end";
  EXPECT_EQ(::waitpid(otherWindow, nullptr, WNOHANG), 0) << "the other \"vantor\" was ended";
  ::kill(otherWindow, SIGKILL);
  ::waitpid(otherWindow, nullptr, 0);
  if (otherUser > 0) {
    EXPECT_EQ(::waitpid(otherUser, nullptr, WNOHANG), 0) << "another user's \"vantor-forced\" was ended";
    ::kill(otherUser, SIGKILL);
    ::waitpid(otherUser, nullptr, 0);
  }
}

namespace {

// Becomes a normal user (nobody) when running as root; false when refused.
bool BecomeNormalUser() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

// A normal user's start, in this (forked) process: the real machine hives,
// which a normal user cannot write, a user hive of its own holding a folder
// list, and a stand-in pkexec that ends with the given status without
// installing anything. Prints what went wrong; true when all was as it
// should be.
bool NormalUserStart(const std::string& dir, const char* pkexecStatus, HRESULT expected) {
  ::setenv("PKEXEC_STATUS", pkexecStatus, 1);
  LogCapture log;
  FakeApplication app;
  RunVantor("vantor", &app);
  bool ok = true;
  auto check = [&](bool holds, const std::string& what) {
    if (!holds) std::fprintf(stderr, "pkexec exit %s: %s\n", pkexecStatus, what.c_str());
    ok = ok && holds;
  };
  check(app.startupError == expected, "the window was told " + std::to_string(app.startupError));
  check(log.Count("InstallAsRootWhenNeeded(") == 1, "trace lines: " + log.Text());
  check(ReadSetting(kSearchPathSetting) == dir + "/package", "the folder list is now \"" +
                                                                  ReadSetting(kSearchPathSetting) + "\"");
  check(app.mainWindows == 1, "no window");
  return ok;
}

}  // namespace

TEST(Startup, AFailedInstallationAsRootIsReportedAndLeavesTheUserSettingsAlone) {
  TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  std::filesystem::create_directories(dir / "bin");
  std::filesystem::create_directories(dir / "bench");
  std::filesystem::create_directories(dir / "rules");  // not writable by the user
  WriteFile(dir / "bin/pkexec", "#!/bin/sh\nexit $PKEXEC_STATUS\n");
  WriteFile(dir / "bin/udevadm", "#!/bin/sh\nexit 0\n");
  for (const char* tool : {"bin/pkexec", "bin/udevadm"}) ::chmod((dir / tool).c_str(), 0755);
  constexpr int kCannot = 77;
  pid_t child = ::fork();
  if (child == 0) {
    if (!BecomeNormalUser() || RegCheckWritable(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS) std::_Exit(kCannot);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir / "config").c_str(), 1);
    ::setenv("VANTOR_RULES_DIR", (dir / "rules").c_str(), 1);
    ::setenv("VANTOR_BENCH_DIR", (dir / "bench").c_str(), 1);
    ::setenv("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN, 1);
    ::setenv("PATH", (dir / "bin:" + std::string(std::getenv("PATH"))).c_str(), 1);
    ::unsetenv("VANTOR_REGISTRY_DIR");
    ScopedTimeScale fast{0.01};
    MruList folders;
    AddToMru(&folders, dir / "package");
    SaveMru(folders, kSearchPathSetting.name);
    bool ok = NormalUserStart(dir.path(), "127", HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    ok = NormalUserStart(dir.path(), "0", HRESULT_FROM_WIN32(ERROR_INSTALL_FAILURE)) && ok;
    std::_Exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  if (WEXITSTATUS(status) == kCannot) GTEST_SKIP() << "no normal user to become, or it may write the machine hive";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "see the lines above";
}

namespace {

// An ordinary start, as far as the window: a server process left by an
// earlier run is ended before anything else, and the device monitor runs
// while the window is open and ends with the run. The monitor is a stand-in
// that notes its pid and stays; the helper's other questions go to the real
// helper.
void CheckLeftoverServersAndTheDeviceMonitor() {
  Session s;
  // The start-up end of the servers waits its whole time, so the server has
  // gone when the window opens, however loaded the machine. (Other runs on
  // the machine may end processes of that name too, but rarely in the
  // moment between its start and the window.)
  ScopedTimeScale unscaled(1.0);
  std::string helper = s.dir / "helper";
  WriteFile(helper, "#!/bin/sh\nif [ \"$1\" = monitor ]; then echo $$ > \"$0.pid\"; exec sleep 30; fi\nexec \"" +
                        std::string(VANTOR_DEVICES_BIN) + "\" \"$@\"\n");
  ::chmod(helper.c_str(), 0755);
  ScopedEnv helperEnv("VANTOR_DEVICE_HELPER", helper.c_str());
  pid_t server = StartNamed(s.dir / "QPSTServer.exe");
  ASSERT_GT(server, 0);
  bool serverEnded = false, monitorRunning = false;
  pid_t monitor = 0;
  FakeApplication app;
  app.onWindow = [&] {
    serverEnded = ::waitpid(server, nullptr, WNOHANG) == server;
    std::string noted;
    if (WaitUntil([&] { return (noted = ReadFile(helper + ".pid")).find('\n') != std::string::npos; }))
      monitor = std::stoi(noted);
    monitorRunning = monitor > 0 && ::kill(monitor, 0) == 0;
  };
  EXPECT_EQ(RunVantor("vantor", &app), 0);
  EXPECT_EQ(app.mainWindows, 1);
  EXPECT_TRUE(serverEnded) << "the leftover server still ran when the window was open";
  if (!serverEnded) {
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
  }
  ASSERT_TRUE(monitorRunning) << "no device monitor while the window was open";
  EXPECT_NE(::kill(monitor, 0), 0) << "the device monitor outlived the run";
}

}  // namespace

TEST(Startup, LeftoverServersEndFirstAndTheDeviceMonitorRunsWithTheWindow) {
  CheckLeftoverServersAndTheDeviceMonitor();
}

// Where pidfd_open is refused (a sandbox), the start neither hangs on the
// monitor nor leaves the servers running: processes are followed by polling.
TEST(Startup, WithoutPidfdsTheStartStillEndsTheServersAndOpensTheWindow) {
  ScopedRefusedPidfds refused;
  CheckLeftoverServersAndTheDeviceMonitor();
}

namespace {

// A start without $XDG_RUNTIME_DIR, with a temporary folder of the test's own.
struct NoSessionFolder {
  TempDir tmp;
  ScopedEnv runtime{"XDG_RUNTIME_DIR", nullptr};
  ScopedEnv temporary{"TMPDIR", tmp.path().c_str()};
  std::string Own() const { return tmp / ("vantor-" + std::to_string(::geteuid())); }
};

}  // namespace

// The locks go to a folder only the user can write, made for them.
TEST(Startup, WithoutASessionFolderTheLocksLieInAFolderOnlyTheUserCanWrite) {
  Session s;
  NoSessionFolder none;
  FakeApplication app;
  std::string lockPath;
  bool locked = false;
  app.onWindow = [&] {
    lockPath = CSingleInstance::LockPath();
    locked = std::filesystem::exists(lockPath);
  };
  EXPECT_EQ(RunVantor("vantor", &app), 0);
  EXPECT_EQ(app.mainWindows, 1);
  EXPECT_EQ(lockPath, none.Own() + "/" + kInstanceGuid + ".lock");
  EXPECT_TRUE(locked);
  struct stat st {};
  ASSERT_EQ(::lstat(none.Own().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, ::geteuid());
  EXPECT_EQ(PhoneLockPath("COM7"), none.Own() + "/vantor-phone-COM7.lock");
}

// A folder of that name that others can write, that is a link, or that is
// another user's is refused: the start traces it, says so on standard error
// and ends with 1 without a window; so does a start whose lock cannot be
// opened at all. The phone locks are refused there too.
TEST(Startup, ALockFolderNotTheUsersOwnIsRefusedAndSaidSo) {
  Session s;
  NoSessionFolder none;
  auto refused = [&](const std::string& what) {
    LogCapture log;
    FakeApplication app;
    testing::internal::CaptureStderr();
    int code = RunVantor("vantor", &app);
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 1) << what;
    EXPECT_EQ(app.mainWindows, 0) << what;
    EXPECT_NE(said.find("vantor: the instance lock "), std::string::npos) << what << ": " << said;
    EXPECT_EQ(log.Count("CSingleInstance::Acquire("), 1) << what;
  };
  std::string own = none.Own();
  ASSERT_EQ(::mkdir(own.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(own.c_str(), 0777), 0);
  refused("a folder others can write");
  CPhoneLock phone;
  EXPECT_EQ(phone.TryAcquire("COM7"), E_ACCESSDENIED);
  ASSERT_EQ(::rmdir(own.c_str()), 0);
  ASSERT_EQ(::mkdir((none.tmp / "elsewhere").c_str(), 0700), 0);
  ASSERT_EQ(::symlink((none.tmp / "elsewhere").c_str(), own.c_str()), 0);
  refused("a link to a private folder");
  if (::geteuid() == 0) {
    ASSERT_EQ(::unlink(own.c_str()), 0);
    ASSERT_EQ(::mkdir(own.c_str(), 0700), 0);
    ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
    refused("another user's folder");
  }
  ScopedEnv missing("XDG_RUNTIME_DIR", (s.dir / "no-such-folder").c_str());
  refused("a session folder that does not exist");
}
