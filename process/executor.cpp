#include "process/executor.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/text.h"
#include "process/command_line.h"
#include "shell/log.h"

extern char** environ;

namespace {

constexpr int kPipeBytes = 262144;
// What a child may print: more is read and dropped, and the command fails
// with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) instead of handing back
// a part as if it were the whole.
constexpr size_t kMaxOutputBytes = 64 * 1024 * 1024;

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// A child starts with SIGPIPE's default action, even when this program
// ignores it (vantor-cli does, to outlive a closed output pipe): ignored
// signals would otherwise stay ignored across exec.
class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    sigset_t byDefault;
    sigemptyset(&byDefault);
    sigaddset(&byDefault, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes_, &byDefault);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// Reads what is there without blocking; false at the end of the data.
// *overflow is set once the output passed kMaxOutputBytes.
bool ReadAvailable(int fd, std::string* into, bool* overflow) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      size_t room = kMaxOutputBytes - into->size();
      if (static_cast<size_t>(n) > room) *overflow = true;
      into->append(buffer, std::min<size_t>(n, room));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && errno == EAGAIN;
  }
}

HRESULT ExitResult(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED);
}

}  // namespace

HRESULT StartProcess(const std::string& commandLine, bool wantOutput, ChildProcess* child) {
  std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.empty() || args[0].empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  SpawnActions actions;
  UniqueFd readEnd, writeEnd;
  if (wantOutput) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return HresultFromLastErrno();
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    ::fcntl(writeEnd.get(), F_SETPIPE_SZ, kPipeBytes);
    posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO);
  } else {
    // Nobody reads it: the child's output is not mixed into this program's.
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, STDERR_FILENO);
  }
  pid_t pid = 0;
  SpawnAttributes attributes;
  int rc = posix_spawnp(&pid, argv[0], actions.get(), attributes.get(), argv.data(), environ);
  if (rc != 0) return HresultFromErrno(rc);
  // The write end closes here, so the pipe ends once the child's tree has.
  writeEnd.Reset();
  // A command that cannot be followed is not left running: it has only
  // just started, so it is killed outright.
  return AdoptStartedChild(pid, SIGKILL, std::move(readEnd), wantOutput, child);
}

HRESULT AdoptStartedChild(pid_t pid, int endSignal, UniqueFd readEnd, bool wantOutput, ChildProcess* child) {
  HRESULT hr = child->process.Open(pid);
  if (FAILED(hr)) {
    ::kill(pid, endSignal);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return hr;
  }
  if (wantOutput) {
    ::fcntl(readEnd.get(), F_SETFL, ::fcntl(readEnd.get(), F_GETFL) | O_NONBLOCK);
    child->output = std::move(readEnd);
  }
  return S_OK;
}

HRESULT ExecuteCommand(const std::string& commandLine, std::string* output) {
  ChildProcess child;
  HRESULT hr = StartProcess(commandLine, true, &child);
  if (!TraceResult(hr, "ExecuteCommand", __LINE__)) return hr;
  std::string bytes;
  bool overflow = false;
  bool pipeOpen = true;
  for (;;) {
    ProcessEvents events = child.process.WaitForExitOrInput(pipeOpen ? child.output.get() : -1, -1);
    if (pipeOpen && events.readable) pipeOpen = ReadAvailable(child.output.get(), &bytes, &overflow);
    if (events.ended) break;
  }
  // The child has ended: take what it left in the pipe, without waiting for
  // descendants that may still hold it.
  if (pipeOpen) ReadAvailable(child.output.get(), &bytes, &overflow);
  int status = 0;
  while (::waitpid(child.process.pid(), &status, 0) < 0 && errno == EINTR) {
  }
  if (overflow) {
    hr = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    TraceResult(hr, "ExecuteCommand", __LINE__);
    return hr;
  }
  if (!bytes.empty() && output) *output = LocaleToUtf8(bytes);
  return ExitResult(status);
}

HRESULT ExecuteCommand(const std::string& commandLine) { return ExecuteCommand(commandLine, nullptr); }

CAutoExecutor::CAutoExecutor(const std::string& commandLine) {
  HRESULT hr = StartProcess(commandLine, false, &child_);
  TraceResult(hr, "CAutoExecutor::CAutoExecutor", __LINE__);
}

CAutoExecutor::~CAutoExecutor() {
  if (!child_.process.valid()) return;
  CProcessList list;
  list.Snapshot();
  KillProcessTree(list, child_.process);
  ::waitpid(child_.process.pid(), nullptr, 0);
}
