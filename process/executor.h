// Running outside programs: the command line is split by the Windows rules
// (command_line.h) and started with posix_spawnp, never through a shell.
// Standard output and standard error share one pipe of 262144 bytes.
#pragma once
#include <sys/types.h>

#include <string>

#include "platform/hresult.h"
#include "platform/unique_fd.h"
#include "process/process_kill.h"

struct ChildProcess {
  ProcessHandle process;
  UniqueFd output;  // the pipe's read end, when output was wanted
};

HRESULT StartProcess(const std::string& commandLine, bool wantOutput, ChildProcess* child);

// Takes a child just started as pid into *child: its handle and, when output
// is wanted, the pipe's read end (non-blocking). When no handle can be opened
// the child is sent endSignal and collected, and that failure returned.
HRESULT AdoptStartedChild(pid_t pid, int endSignal, UniqueFd readEnd, bool wantOutput, ChildProcess* child);

// Runs the command to its end and returns its exit code (a failure HRESULT
// when it could not start; HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED) when a
// signal ended it). The pipe is drained while the child runs, so a talkative
// child never blocks; the output (locale codeset, converted to UTF-8) is
// stored only when something was printed. All of it comes back: output of
// more than 64 MiB fails the command with
// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) (traced), whatever its exit
// code, and leaves *output as it was. Without a reader (StartProcess with wantOutput false) the child's
// standard output and error go to /dev/null.
HRESULT ExecuteCommand(const std::string& commandLine, std::string* output);
HRESULT ExecuteCommand(const std::string& commandLine);

// Keeps a command running in the background; destruction ends the child's
// whole process tree.
class CAutoExecutor {
 public:
  explicit CAutoExecutor(const std::string& commandLine);
  ~CAutoExecutor();
  CAutoExecutor(const CAutoExecutor&) = delete;
  CAutoExecutor& operator=(const CAutoExecutor&) = delete;
  bool running() const { return child_.process.valid(); }
  pid_t pid() const { return child_.process.pid(); }

 private:
  ChildProcess child_;
};
