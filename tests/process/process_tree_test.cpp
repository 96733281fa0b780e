#include "process/process_tree.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "process/command_line.h"
#include "tests/support/refused_pidfds.h"
#include "tests/support/temp_dir.h"

namespace {

// Whether a process whose whole command line matches the pattern runs.
bool Running(const std::string& pattern) { return ExecuteCommand("pgrep -f " + QuoteArgument(pattern)) == 0; }

// Everything the tree printed, up to the end of the pipe.
std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return text + "<no end>";
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    else if (n == 0 || errno != EAGAIN) return text;
  }
}

std::string Sh(const std::string& script) { return "/bin/sh -c " + QuoteArgument(script); }

}  // namespace

TEST(ProcessTree, TheCommandsOutputAndStatusComeBack) {
  ChildProcess child;
  ASSERT_EQ(StartProcessTree(Sh("echo out; echo err >&2; exit 3"), true, &child), S_OK);
  EXPECT_EQ(ReadAll(child.output.get()), "out\nerr\n");
  EXPECT_TRUE(child.process.WaitForExit(10000));  // the pipe may end a moment before the tree
  EXPECT_EQ(EndProcessTree(&child), 3);
  EXPECT_FALSE(child.process.valid());
  ASSERT_EQ(StartProcessTree(Sh("kill -9 $$"), true, &child), S_OK);
  EXPECT_TRUE(child.process.WaitForExit(10000));
  EXPECT_EQ(EndProcessTree(&child), 128 + SIGKILL);
  EXPECT_EQ(StartProcessTree("vantor-no-such-program", true, &child), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(EndProcessTree(&child), -1);
}

// Background children, a subshell's orphan and a new session all end with
// the command, although the pipe would have kept them unnoticed.
TEST(ProcessTree, NothingTheCommandStartedOutlivesIt) {
  ChildProcess child;
  ASSERT_EQ(StartProcessTree(Sh("sleep 3111 & ( sleep 3112 & ) ; setsid sleep 3113 & echo started"), true, &child),
            S_OK);
  EXPECT_EQ(ReadAll(child.output.get()), "started\n");
  EXPECT_TRUE(child.process.WaitForExit(10000));
  EXPECT_EQ(EndProcessTree(&child), 0);
  EXPECT_FALSE(Running("^sleep 311[123]$"));
}

TEST(ProcessTree, EndingTheTreeEndsEveryProcessInIt) {
  TempDir dir;
  ChildProcess child;
  ASSERT_EQ(StartProcessTree(Sh("sleep 3121 & ( sleep 3122 & ) ; setsid sleep 3123 & touch " + dir / "up" +
                                "; sleep 3124"),
                             true, &child),
            S_OK);
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir / "up") && Running("^sleep 3124$"); }));
  EXPECT_FALSE(child.process.WaitForExit(0));
  EXPECT_EQ(EndProcessTree(&child), 128 + SIGTERM);
  EXPECT_FALSE(Running("^sleep 312[1234]$"));
}

// The tree holds nothing else of this program open (a lock file of another
// job, a pipe another command writes to), and without a reader its output
// goes to /dev/null.
TEST(ProcessTree, TheTreeHoldsNoOtherDescriptorOfTheProgram) {
  TempDir dir;
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  ChildProcess tree;
  ASSERT_EQ(StartProcessTree(Sh("touch " + dir / "up" + "; sleep 3131"), false, &tree), S_OK);
  ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir / "up") && Running("^sleep 3131$"); }));
  ::close(fds[1]);
  pollfd p{fds[0], POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 0), 1);  // the write end is closed everywhere: the pipe has ended
  char byte;
  EXPECT_EQ(::read(fds[0], &byte, 1), 0);
  ::close(fds[0]);
  std::string pid;
  ExecuteCommand("pgrep -f " + QuoteArgument("^sleep 3131$"), &pid);
  pid.erase(pid.find_last_not_of('\n') + 1);
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + pid + "/fd/1"), "/dev/null");
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + pid + "/fd/2"), "/dev/null");
  EXPECT_EQ(EndProcessTree(&tree), 128 + SIGTERM);
}

// Where pidfd_open is refused the tree is followed by polling: it runs until
// it is ended, and then nothing of it is left.
TEST(ProcessTree, WithoutPidfdsTheTreeStillEndsWhole) {
  ScopedRefusedPidfds refused;
  ChildProcess child;
  ASSERT_EQ(StartProcessTree(Sh("sleep 3141 & setsid sleep 3142 & exec sleep 3143"), true, &child), S_OK);
  ASSERT_TRUE(WaitUntil([] { return Running("^sleep 3143$"); }));
  EXPECT_FALSE(child.process.WaitForExit(0));
  EXPECT_EQ(EndProcessTree(&child), 128 + SIGTERM);
  EXPECT_FALSE(Running("^sleep 314[123]$"));
}
