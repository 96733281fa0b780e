// Ending processes together with their descendants: each gets 500 ms to end
// by itself, then the polite request (SIGTERM) and 1000 ms more, then SIGKILL.
// Waits go through the timing seam. Names compare ignoring case. Failures are
// traced under "KillProcess" and "KillProcessTree".
#pragma once
#include <sys/types.h>

#include "platform/hresult.h"
#include "process/process_list.h"

// An open process: its pid and a pidfd that follows that very process.
class ProcessHandle {
 public:
  ProcessHandle() = default;
  ~ProcessHandle();
  ProcessHandle(ProcessHandle&& other) noexcept;
  ProcessHandle& operator=(ProcessHandle&& other) noexcept;
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  // S_OK; HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when the process is gone.
  HRESULT Open(pid_t pid);
  pid_t pid() const { return pid_; }
  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Waits up to ms (unscaled) for the process to end; true when it has.
  bool WaitForExit(int ms) const;

 private:
  pid_t pid_ = 0;
  int fd_ = -1;
};

// The common step: wait, ask, wait, terminate.
HRESULT EndProcess(const ProcessHandle& process);

// Every process of that name (not its descendants).
HRESULT KillProcess(const CProcessList& list, const char* exeName);
// The process's descendants, deepest first, then the process.
HRESULT KillProcessTree(const CProcessList& list, const ProcessHandle& process);
// The tree of every process of that name.
HRESULT KillProcessTree(const CProcessList& list, const char* exeName);
// The same, limited to the processes of one owner when owner is given.
HRESULT KillProcessTreesOf(const CProcessList& list, const char* exeName, const uid_t* owner);
// One snapshot; the trees of every process with any of the names (the list
// ends with a null entry). When a name matches this program itself, only
// the processes of that name that belong to this process's owner are
// ended, and the program then exits with code 0.
HRESULT KillProcessTrees(const char* const* exeNames);
