// Two real starts of the program: the second asks the first to raise its
// window and ends with 0; while the instance lock is held without a window,
// a start waits in one-second steps.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "shell/single_instance.h"
#include "tests/support/log_files.h"

namespace {

// The program in a session of its own: offscreen, with its own runtime
// folder, registry, rules folder and an empty bench.
struct Session {
  TempDir dir;
  ScopedEnv platform{"QT_QPA_PLATFORM", "offscreen"};
  ScopedEnv runtime{"XDG_RUNTIME_DIR", dir.path().c_str()};
  ScopedEnv registry{"VANTOR_REGISTRY_DIR", (dir / "registry").c_str()};
  ScopedEnv rules{"VANTOR_RULES_DIR", (dir / "rules").c_str()};
  ScopedEnv bench{"VANTOR_BENCH_DIR", dir.path().c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
  ScopedEnv state{"XDG_STATE_HOME", (dir / "state").c_str()};

  ~Session() {
    // A start the test did not see end must not outlive it.
    for (pid_t pid : started) {
      if (::waitpid(pid, nullptr, WNOHANG) != 0) continue;  // reaped already, or gone
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // A start with no argument, or with the one given.
  pid_t Start(const char* argument = nullptr) {
    pid_t pid = ::fork();
    if (pid == 0) {
      // Its output (and its helpers') goes to a file, never into the test's
      // own output, which a left-over process would keep open.
      int out = ::open((dir / "vantor.out").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (out >= 0) ::dup2(out, 1), ::dup2(out, 2);
      ::chdir(dir.path().c_str());
      ::execl(VANTOR_BIN, VANTOR_BIN, argument, nullptr);
      ::_exit(127);
    }
    started.push_back(pid);
    return pid;
  }
  std::vector<pid_t> started;
};

// The exit code, or -1 when the process has not ended within ms.
int ExitWithin(pid_t pid, int ms) {
  int status = 0;
  bool ended = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::milliseconds(ms));
  if (!ended) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Whether pid holds a lock on the file, as /proc/locks lists it: "1: FLOCK
// ADVISORY WRITE PID MAJOR:MINOR:INODE 0 EOF" (a waiter's line has "->").
bool HoldsLock(pid_t pid, const std::string& path) {
  struct stat file {};
  if (::stat(path.c_str(), &file) != 0) return false;
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, advisory, mode, device;
    pid_t holder = 0;
    fields >> number >> kind >> advisory >> mode >> holder >> device;
    if (kind == "FLOCK" && holder == pid && device.ends_with(":" + std::to_string(file.st_ino))) return true;
  }
  return false;
}

bool AnyLogSince(std::filesystem::file_time_type since, const std::string& stateFolder, const std::string& fragment) {
  for (const std::string& text : LogsSince(since, LogFolders(VANTOR_BIN, stateFolder)))
    if (text.find(fragment) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(SingleInstance, ASecondStartRaisesTheFirstWindowAndEnds) {
  Session s;
  auto since = std::filesystem::file_time_type::clock::now() - std::chrono::seconds(1);
  pid_t first = s.Start();
  ASSERT_TRUE(WaitUntil([] { return std::filesystem::exists(CSingleInstance::SocketPath()); }));
  pid_t second = s.Start();
  EXPECT_EQ(ExitWithin(second, 20000), 0);
  EXPECT_EQ(ExitWithin(first, 0), -1) << "the first instance ended";
  EXPECT_TRUE(WaitUntil([&] { return AnyLogSince(since, s.dir / "state/vantor", "raise requested by another start: window raised"); }));
  ::kill(first, SIGTERM);  // closes the window as its close box does
  EXPECT_EQ(ExitWithin(first, 20000), 0);
  EXPECT_FALSE(std::filesystem::exists(CSingleInstance::SocketPath()));
}

TEST(SingleInstance, AStartWaitsWhileTheLockIsHeldWithoutAWindow) {
  Session s;
  int held = ::open(CSingleInstance::LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  pid_t start = s.Start();
  EXPECT_EQ(ExitWithin(start, 2500), -1) << "did not wait for the lock";
  EXPECT_FALSE(std::filesystem::exists(CSingleInstance::SocketPath()));
  auto released = std::chrono::steady_clock::now();
  ::close(held);
  // The next attempt comes within one retry step (what the start does after
  // it has the lock may take longer on a loaded machine).
  ASSERT_TRUE(WaitUntil([&] { return HoldsLock(start, CSingleInstance::LockPath()); }));
  EXPECT_LT(std::chrono::steady_clock::now() - released, std::chrono::milliseconds(1900));
  EXPECT_TRUE(WaitUntil([] { return std::filesystem::exists(CSingleInstance::SocketPath()); }));
  ::kill(start, SIGTERM);
  EXPECT_EQ(ExitWithin(start, 20000), 0);
}

TEST(StartSwitches, HelpPrintsTheSwitchesAndStartsNothing) {
  Session s;
  for (const char* help : {"--help", "-h"}) {
    EXPECT_EQ(ExitWithin(s.Start(help), 20000), 0) << help;
  }
  std::string out = ReadFile(s.dir / "vantor.out");
  for (const char* name : {"/RegServer", "/UnregServer", "/Automation", "/Embedding"})
    EXPECT_NE(out.find(name), std::string::npos) << name << "\n" << out;
  EXPECT_FALSE(std::filesystem::exists(CSingleInstance::SocketPath())) << "an instance was started";
  EXPECT_FALSE(std::filesystem::exists(s.dir / "rules")) << "the installer ran";
}
