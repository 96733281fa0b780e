#include "process/process_kill.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/text.h"
#include "platform/timing.h"
#include "shell/log.h"

namespace {

constexpr DWORD kGraceMs = 500;
constexpr DWORD kCloseWaitMs = 1000;
constexpr DWORD kKillWaitMs = 1000;

int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int PidfdSignal(int fd, int sig) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, sig, nullptr, 0)); }

bool SameName(const ProcessRecord& r, const char* name) { return EqualsIgnoreCase(r.exeName, name); }

// Keeps the first failure.
void Keep(HRESULT* first, HRESULT hr) {
  if (SUCCEEDED(*first) && FAILED(hr)) *first = hr;
}

// Opens a process of the snapshot; one that is already gone counts as ended.
HRESULT OpenRecorded(pid_t pid, ProcessHandle* handle, const char* operation) {
  HRESULT hr = handle->Open(pid);
  if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND)) return S_FALSE;
  TraceResult(hr, operation, __LINE__);
  return hr;
}

}  // namespace

ProcessHandle::~ProcessHandle() {
  if (fd_ >= 0) ::close(fd_);
}

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)), fd_(std::exchange(other.fd_, -1)) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    pid_ = std::exchange(other.pid_, 0);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

HRESULT ProcessHandle::Open(pid_t pid) {
  if (fd_ >= 0) ::close(fd_);
  pid_ = pid;
  fd_ = PidfdOpen(pid);
  if (fd_ >= 0) return S_OK;
  return errno == ESRCH ? HRESULT_FROM_WIN32(ERROR_NOT_FOUND) : HresultFromLastErrno();
}

bool ProcessHandle::WaitForExit(int ms) const {
  pollfd p{fd_, POLLIN, 0};
  int rc;
  do {
    rc = ::poll(&p, 1, ms);
  } while (rc < 0 && errno == EINTR);
  return rc > 0;
}

HRESULT EndProcess(const ProcessHandle& process) {
  if (process.WaitForExit(static_cast<int>(ScaledMilliseconds(kGraceMs)))) return S_OK;
  // The polite request; a process that has gone meanwhile needs none.
  PidfdSignal(process.fd(), SIGTERM);
  if (process.WaitForExit(static_cast<int>(ScaledMilliseconds(kCloseWaitMs)))) return S_OK;
  if (PidfdSignal(process.fd(), SIGKILL) != 0 && errno != ESRCH) return HresultFromLastErrno();
  process.WaitForExit(static_cast<int>(ScaledMilliseconds(kKillWaitMs)));
  return S_OK;
}

HRESULT KillProcess(const CProcessList& list, const char* exeName) {
  HRESULT first = S_OK;
  for (const ProcessRecord& r : list.processes()) {
    if (!SameName(r, exeName) || r.pid == ::getpid()) continue;
    ProcessHandle process;
    HRESULT hr = OpenRecorded(r.pid, &process, "KillProcess");
    if (hr != S_OK) {
      Keep(&first, hr);
      continue;
    }
    hr = EndProcess(process);
    TraceResult(hr, "KillProcess", __LINE__);
    Keep(&first, hr);
  }
  return first;
}

HRESULT KillProcessTree(const CProcessList& list, const ProcessHandle& process) {
  HRESULT first = S_OK;
  for (const ProcessRecord& r : list.processes()) {
    if (r.parent != process.pid() || r.pid == process.pid() || r.pid == ::getpid()) continue;
    ProcessHandle child;
    HRESULT hr = OpenRecorded(r.pid, &child, "KillProcessTree");
    if (hr != S_OK) {
      Keep(&first, hr);
      continue;
    }
    Keep(&first, KillProcessTree(list, child));
  }
  HRESULT hr = EndProcess(process);
  TraceResult(hr, "KillProcessTree", __LINE__);
  return FAILED(first) ? first : hr;
}

HRESULT KillProcessTree(const CProcessList& list, const char* exeName) {
  return KillProcessTreesOf(list, exeName, nullptr);
}

HRESULT KillProcessTreesOf(const CProcessList& list, const char* exeName, const uid_t* owner) {
  HRESULT first = S_OK;
  for (const ProcessRecord& r : list.processes()) {
    if (!SameName(r, exeName) || r.pid == ::getpid()) continue;
    if (owner && (!r.ownerKnown || r.owner != *owner)) continue;
    ProcessHandle process;
    HRESULT hr = OpenRecorded(r.pid, &process, "KillProcessTree");
    if (hr == S_OK) hr = KillProcessTree(list, process);
    Keep(&first, hr);
  }
  return first;
}

HRESULT KillProcessTrees(const char* const* exeNames) {
  CProcessList list;
  list.Snapshot();
  HRESULT first = S_OK;
  bool endSelf = false;
  ProcessRecord self;
  ReadProcessRecord(::getpid(), &self);
  for (const char* const* name = exeNames; *name; ++name) {
    // The program's own name ends only this user's instances: another
    // user's window on the same machine is none of this process's business.
    bool own = SameName(self, *name);
    endSelf = endSelf || own;
    uid_t owner = self.ownerKnown ? self.owner : ::geteuid();
    Keep(&first, KillProcessTreesOf(list, *name, own ? &owner : nullptr));
  }
  if (endSelf) {
    // This program is one of them: its own children go, then it leaves.
    for (const ProcessRecord& r : list.processes()) {
      if (r.parent != self.pid) continue;
      ProcessHandle child;
      if (OpenRecorded(r.pid, &child, "KillProcessTree") == S_OK) KillProcessTree(list, child);
    }
    ::_exit(0);
  }
  return first;
}
