#include "process/process_kill.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>

#include "platform/timing.h"
#include "process/executor.h"
#include "tests/support/log_capture.h"
#include "tests/support/refused_pidfds.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// A shell script in a temporary folder, started as our own child.
class Scripts : public ::testing::Test {
 protected:
  std::string Script(const std::string& name, const std::string& body) {
    std::string path = dir / name;
    WriteFile(path, "#!/bin/sh\n" + body);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
  }
  ChildProcess Start(const std::string& commandLine) {
    ChildProcess child;
    EXPECT_EQ(StartProcess(commandLine, false, &child), S_OK) << commandLine;
    return child;
  }
  // Reaps a child of ours; the signal that ended it, or 0 for an exit.
  static int Reap(const ChildProcess& child) {
    int status = 0;
    ::waitpid(child.process.pid(), &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  TempDir dir;
};

}  // namespace

TEST_F(Scripts, AThreeGenerationTreeEndsDeepestFirst) {
  ScopedTimeScale fast(0.1);
  std::string log = dir / "order";
  std::string gen = Script("gen.sh",
                           "trap 'echo $1 >> \"$2\"; exit 0' TERM\n"
                           "if [ \"$1\" -gt 0 ]; then \"$0\" $(($1 - 1)) \"$2\" & fi\n"
                           "echo started >> \"$2.up\"\n"
                           "while :; do sleep 0.02; done\n");
  ChildProcess root = Start("\"" + gen + "\" 2 \"" + log + "\"");
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(log + ".up") == "started\nstarted\nstarted\n"; }));
  CProcessList list;
  ASSERT_TRUE(list.Snapshot());
  EXPECT_EQ(KillProcessTree(list, root.process), S_OK);
  Reap(root);
  EXPECT_EQ(ReadFile(log), "0\n1\n2\n");
}

TEST_F(Scripts, EachProcessGetsItsGraceThenTheRequestThenTheKill) {
  std::string log = dir / "signals";
  // Exits by itself within the grace period: no signal at all.
  ChildProcess quick = Start("\"" + Script("quick.sh", "trap 'echo term >> \"$1\"' TERM\nsleep 0.1\n") + "\" \"" + log + "\"");
  auto start = Clock::now();
  EXPECT_EQ(EndProcess(quick.process), S_OK);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(450));
  EXPECT_EQ(Reap(quick), 0);
  EXPECT_EQ(ReadFile(log), "");

  ScopedTimeScale fast(0.1);  // grace 50 ms, request 100 ms
  ChildProcess polite = Start("\"" + Script("polite.sh", "trap 'exit 0' TERM\nwhile :; do sleep 0.01; done\n") + "\"");
  ChildProcess stubborn = Start("\"" + Script("stubborn.sh", "trap '' TERM\nwhile :; do sleep 0.01; done\n") + "\"");
  ::usleep(100000);  // let both shells install their traps
  start = Clock::now();
  EXPECT_EQ(EndProcess(polite.process), S_OK);
  EXPECT_EQ(Reap(polite), 0);  // ended by the request, not killed
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(150));
  start = Clock::now();
  EXPECT_EQ(EndProcess(stubborn.process), S_OK);
  EXPECT_EQ(Reap(stubborn), SIGKILL);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));  // 0.5 s + 1 s, scaled
}

// Where pidfd_open is refused the steps and their bounds are the same: a
// wait for a process that runs on lasts its whole time, the request ends a
// polite process, and one that ignores it is killed after both waits.
TEST_F(Scripts, WithoutPidfdsEachProcessStillGetsItsGraceThenTheRequestThenTheKill) {
  ScopedRefusedPidfds refused;
  ScopedTimeScale fast(0.1);  // grace 50 ms, request 100 ms
  std::string ready = dir / "ready";
  ChildProcess polite = Start("\"" + Script("polite.sh", "trap 'exit 0' TERM\necho p >> \"$1\"\nwhile :; do sleep 0.01; done\n") +
                              "\" \"" + ready + "\"");
  ChildProcess stubborn = Start("\"" + Script("stubborn.sh", "trap '' TERM\necho s >> \"$1\"\nwhile :; do sleep 0.01; done\n") +
                                "\" \"" + ready + "\"");
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(ready).size() == 4; }));  // both traps are set
  auto start = Clock::now();
  EXPECT_FALSE(stubborn.process.WaitForExit(200));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(EndProcess(polite.process), S_OK);
  EXPECT_EQ(Reap(polite), 0);  // ended by the request, not killed
  start = Clock::now();
  EXPECT_EQ(EndProcess(stubborn.process), S_OK);
  EXPECT_EQ(Reap(stubborn), SIGKILL);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(150));  // 0.5 s + 1 s, scaled
}

TEST_F(Scripts, NamesMatchIgnoringCaseAndNoMatchIsNoFailure) {
  ScopedTimeScale fast(0.1);
  std::string copy = dir / "qpstserver.exe";
  std::filesystem::copy_file("/bin/sleep", copy);
  ChildProcess server = Start("\"" + copy + "\" 30");
  ChildProcess other = Start("sleep 30");
  ASSERT_TRUE(WaitUntil([&] {
    ProcessRecord r;
    return ReadProcessRecord(server.process.pid(), &r) && r.exeName == "qpstserver.exe";
  }));
  CProcessList list;
  ASSERT_TRUE(list.Snapshot());
  EXPECT_EQ(KillProcess(list, "Vantor-No-Such-Program.exe"), S_OK);
  const char* names[] = {"ATMNSE~1.EXE", "QPSTServer.exe", nullptr};
  EXPECT_EQ(KillProcessTrees(names), S_OK);
  EXPECT_EQ(Reap(server), SIGTERM);
  EXPECT_FALSE(other.process.WaitForExit(0));  // another name is left alone
  EndProcess(other.process);
  Reap(other);
}

// A snapshot that still lists a process which has ended since: the kill
// finds it gone, counts it as ended and traces nothing.
TEST_F(Scripts, AProcessGoneBeforeItIsOpenedCountsAsEnded) {
  ScopedTimeScale fast(0.1);
  std::string name = "vantor-gone-" + std::to_string(::getpid());
  std::string copy = dir / name;
  std::filesystem::copy_file("/bin/sleep", copy);
  ChildProcess child = Start("\"" + copy + "\" 30");
  ChildProcess other = Start("\"" + copy + "\" 31");
  ASSERT_TRUE(WaitUntil([&] {
    ProcessRecord r;
    return ReadProcessRecord(child.process.pid(), &r) && r.exeName == name;
  }));
  CProcessList stale;
  ASSERT_TRUE(stale.Snapshot());
  ::kill(child.process.pid(), SIGKILL);
  EXPECT_EQ(Reap(child), SIGKILL);  // gone, while the snapshot still lists it
  ProcessHandle gone;
  EXPECT_EQ(gone.Open(child.process.pid()), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  LogCapture log;
  EXPECT_EQ(KillProcess(stale, name.c_str()), S_OK);  // the other one of that name is ended
  EXPECT_EQ(Reap(other), SIGTERM);
  EXPECT_EQ(KillProcessTree(stale, name.c_str()), S_OK);  // now both are gone
  EXPECT_EQ(log.Count("KillProcess"), 0);
  ProcessRecord self;
  ASSERT_TRUE(ReadProcessRecord(::getpid(), &self));
  EXPECT_EQ(self.exeName, "process_tests");
  EXPECT_EQ(self.parent, ::getppid());
}
