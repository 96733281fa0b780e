// Ending processes together with their descendants: each gets 500 ms to end
// by itself, then the polite request (SIGTERM) and 1000 ms more, then SIGKILL.
// Waits go through the timing seam. Names compare ignoring case. Failures are
// traced under "KillProcess" and "KillProcessTree".
#pragma once
#include <sys/types.h>

#include "platform/hresult.h"
#include "process/process_list.h"

// What a wait saw: the process has ended, the other descriptor has
// something to read (or was closed).
struct ProcessEvents {
  bool ended = false;
  bool readable = false;
};

// An open process: its pid and a pidfd that follows that very process.
// Where pidfd_open is refused (an old kernel, a sandbox's filter: ENOSYS,
// EPERM, EACCES), the handle follows the process by its pid and start time
// and its waits poll, with the same bounds; a pid that names another process
// by now counts as ended, and is never signalled.
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
  bool valid() const { return pid_ > 0; }
  // Waits up to ms (unscaled) for the process to end; true when it has.
  bool WaitForExit(int ms) const;
  // Waits up to ms (unscaled; -1 without a bound) until the process has
  // ended or fd (-1 for none) has something to read.
  ProcessEvents WaitForExitOrInput(int fd, int ms) const;
  // Sends sig: 0, or -1 with errno (ESRCH once the process has ended).
  int Signal(int sig) const;

 private:
  bool HasEnded() const;

  pid_t pid_ = 0;
  int fd_ = -1;                       // -1 when pidfds are refused
  unsigned long long startTime_ = 0;  // clock ticks after boot, for a handle without a pidfd
};

// The call that opens a pidfd (pidfd_open by default); a test puts in one
// that fails as a refusing sandbox does. Returns the call it replaces.
using PidfdOpenCall = int (*)(pid_t pid);
PidfdOpenCall SetPidfdOpenCall(PidfdOpenCall call);

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
