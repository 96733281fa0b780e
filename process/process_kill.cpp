#include "process/process_kill.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <utility>

#include "platform/text.h"
#include "platform/timing.h"
#include "process/proc_file.h"
#include "shell/log.h"

namespace {

constexpr DWORD kGraceMs = 500;
constexpr DWORD kCloseWaitMs = 1000;
constexpr DWORD kKillWaitMs = 1000;

// How often a handle without a pidfd looks at its process.
constexpr int kPollStepMs = 10;

int PidfdOpen(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int PidfdSignal(int fd, int sig) { return static_cast<int>(::syscall(SYS_pidfd_send_signal, fd, sig, nullptr, 0)); }

std::atomic<PidfdOpenCall> g_pidfdOpen{&PidfdOpen};

bool Refused(int error) { return error == ENOSYS || error == EPERM || error == EACCES; }

void NoteRefusal(int error) {
  static std::once_flag once;
  std::call_once(once, [error] {
    WriteLog("pidfd_open refused (errno %d): processes are followed by polling", error);
  });
}

// Milliseconds left until deadline for a wait of ms (-1: no bound).
int RemainingMs(int ms, std::chrono::steady_clock::time_point deadline) {
  if (ms < 0) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<long long>(0, left.count()));
}

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
    : pid_(std::exchange(other.pid_, 0)), fd_(std::exchange(other.fd_, -1)), startTime_(other.startTime_) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    pid_ = std::exchange(other.pid_, 0);
    fd_ = std::exchange(other.fd_, -1);
    startTime_ = other.startTime_;
  }
  return *this;
}

HRESULT ProcessHandle::Open(pid_t pid) {
  *this = ProcessHandle();
  if (pid <= 0) return E_INVALIDARG;
  int fd = g_pidfdOpen.load()(pid);
  if (fd >= 0) {
    pid_ = pid;
    fd_ = fd;
    return S_OK;
  }
  int error = errno;
  if (error == ESRCH) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  if (!Refused(error)) return HresultFromErrno(error);
  NoteRefusal(error);
  ProcessStat stat;
  if (!ReadProcessStat(pid, &stat) && ::kill(pid, 0) != 0 && errno == ESRCH) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  pid_ = pid;
  startTime_ = stat.startTime;
  return S_OK;
}

bool ProcessHandle::HasEnded() const {
  if (fd_ >= 0) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }
  // A child of this process has ended once it waits to be collected (it is
  // left for its owner to collect).
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0) return info.si_pid == pid_;
  // Another process: once it is a zombie, gone, or its pid names a newer one.
  ProcessStat stat;
  if (ReadProcessStat(pid_, &stat)) return stat.state == 'Z' || stat.state == 'X' || stat.startTime != startTime_;
  return ::kill(pid_, 0) != 0 && errno == ESRCH;
}

bool ProcessHandle::WaitForExit(int ms) const { return WaitForExitOrInput(-1, ms).ended; }

ProcessEvents ProcessHandle::WaitForExitOrInput(int fd, int ms) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(ms, 0));
  for (;;) {
    int left = RemainingMs(ms, deadline);
    // A negative descriptor is left out by poll: without a pidfd only fd is
    // watched, for one polling step at a time.
    pollfd p[2] = {{fd, POLLIN, 0}, {fd_, POLLIN, 0}};
    int step = fd_ >= 0 ? left : left < 0 ? kPollStepMs : std::min(left, kPollStepMs);
    int rc = ::poll(p, 2, step);
    ProcessEvents events;
    events.readable = rc > 0 && (p[0].revents & (POLLIN | POLLHUP)) != 0;
    events.ended = fd_ >= 0 ? rc > 0 && (p[1].revents & POLLIN) != 0 : HasEnded();
    if (events.ended || events.readable || left == 0) return events;
  }
}

int ProcessHandle::Signal(int sig) const {
  if (fd_ >= 0) return PidfdSignal(fd_, sig);
  // Without a pidfd the pid is used only while it still names this process.
  if (HasEnded()) {
    errno = ESRCH;
    return -1;
  }
  return ::kill(pid_, sig);
}

PidfdOpenCall SetPidfdOpenCall(PidfdOpenCall call) { return g_pidfdOpen.exchange(call); }

HRESULT EndProcess(const ProcessHandle& process) {
  if (process.WaitForExit(static_cast<int>(ScaledMilliseconds(kGraceMs)))) return S_OK;
  // The polite request; a process that has gone meanwhile needs none.
  process.Signal(SIGTERM);
  if (process.WaitForExit(static_cast<int>(ScaledMilliseconds(kCloseWaitMs)))) return S_OK;
  if (process.Signal(SIGKILL) != 0 && errno != ESRCH) return HresultFromLastErrno();
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
