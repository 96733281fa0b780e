#include "process/process_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "process/command_line.h"

extern char** environ;

namespace {

// What the reaper needs, prepared before the fork: after it, the reaper may
// only make system calls (this program has other threads, whose locks a
// forked copy must not touch).
struct ReaperPlan {
  pid_t parent = 0;
  int outFd = -1;
  const char* path = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
};

sigset_t ReaperSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGCHLD);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

// The program file of a command: as given when it names a folder, else the
// first executable of that name on PATH ("" when there is none).
std::string ProgramPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string dir = end > start ? folders.substr(start, end - start) : ".";
    std::string candidate = dir + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// --- the reaper: system calls only from here to the end of RunReaper ---

// The parent of a process from /proc/PID/stat ("pid (comm) state ppid ..."),
// 0 when it cannot be read.
pid_t ParentOf(const char* pidText) {
  char path[64] = "/proc/";
  size_t n = 6;
  for (const char* c = pidText; *c && n < sizeof path - 6; ++c) path[n++] = *c;
  for (const char* c = "/stat"; *c; ++c) path[n++] = *c;
  path[n] = '\0';
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buffer[1024];
  ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
  ::close(fd);
  if (got <= 0) return 0;
  ssize_t close = -1;  // the command name may hold blanks and ')': its end is the last ')'
  for (ssize_t i = 0; i < got; ++i)
    if (buffer[i] == ')') close = i;
  if (close < 0 || close + 4 >= got) return 0;
  pid_t parent = 0;
  for (ssize_t i = close + 4; i < got && buffer[i] >= '0' && buffer[i] <= '9'; ++i) parent = parent * 10 + (buffer[i] - '0');
  return parent;
}

// SIGKILLs every child of this process: how many, or -1 when /proc cannot
// be read.
int KillChildren(pid_t self) {
  int dir = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  int killed = 0;
  alignas(8) char buffer[8192];
  for (;;) {
    long got = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
    if (got <= 0) break;
    for (long at = 0; at < got;) {
      auto* entry = reinterpret_cast<struct dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
      if (ParentOf(entry->d_name) != self) continue;
      pid_t pid = 0;
      for (const char* c = entry->d_name; *c; ++c) pid = pid * 10 + (*c - '0');
      if (::kill(pid, SIGKILL) == 0) ++killed;
    }
  }
  ::close(dir);
  return killed;
}

// Ends the whole tree: what a killed process leaves behind is inherited by
// the reaper (the subreaper), so killing the children until none is left
// reaches every descendant.
void KillTree(pid_t self) {
  for (;;) {
    if (KillChildren(self) < 0) return;
    int status;
    pid_t ended = ::waitpid(-1, &status, 0);
    if (ended >= 0 || errno == EINTR) continue;
    // No child left; one more look for an orphan that arrived just now.
    if (errno != ECHILD || KillChildren(self) <= 0) return;
  }
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 255;
}

[[noreturn]] void RunCommand(const ReaperPlan& plan, pid_t reaper) {
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != reaper) ::_exit(127);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &byDefault, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(plan.path, plan.argv, plan.envp);
  ::_exit(127);
}

[[noreturn]] void RunReaper(const ReaperPlan& plan) {
  // The starting thread's death (a SIGKILL of the program included) ends the tree.
  if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != plan.parent) ::_exit(128 + SIGTERM);
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  ::sigaction(SIGCHLD, &byDefault, nullptr);  // an ignored SIGCHLD would reap the children by itself
  ::dup2(plan.outFd, STDOUT_FILENO);
  ::dup2(plan.outFd, STDERR_FILENO);
  // Nothing else of this program stays open in the tree: no pipe of another
  // command, no lock file of another job.
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0)
    for (int fd = 3; fd < 65536; ++fd) ::close(fd);
  pid_t self = ::getpid();
  pid_t command = ::fork();
  if (command == 0) RunCommand(plan, self);
  ::close(STDOUT_FILENO);  // the pipe ends when the tree has ended
  ::close(STDERR_FILENO);
  if (command < 0) ::_exit(127);
  sigset_t signals = ReaperSignals();
  for (;;) {
    int sig = ::sigwaitinfo(&signals, nullptr);
    if (sig < 0) continue;
    // Reap what has ended (a request may come just after the command ended:
    // its status still counts).
    int status;
    bool commandEnded = false;
    for (pid_t ended; (ended = ::waitpid(-1, &status, WNOHANG)) > 0;) {
      if (ended == command) {
        commandEnded = true;
        break;
      }
    }
    if (commandEnded || sig != SIGCHLD) {
      // The command has ended, or the tree is to end: so does everything in it.
      KillTree(self);
      ::_exit(commandEnded ? ExitCodeOf(status) : 128 + sig);
    }
  }
}

}  // namespace

HRESULT StartProcessTree(const std::string& commandLine, bool wantOutput, ChildProcess* child) {
  std::vector<std::string> args = SplitCommandLine(commandLine);
  if (args.empty() || args[0].empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  std::string path = ProgramPath(args[0]);
  if (path.empty() || ::access(path.c_str(), X_OK) != 0)
    return path.empty() ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : HresultFromLastErrno();
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  UniqueFd readEnd, writeEnd;
  if (wantOutput) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return HresultFromLastErrno();
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    ::fcntl(writeEnd.get(), F_SETPIPE_SZ, 262144);
  } else {
    writeEnd.Reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (!writeEnd.valid()) return HresultFromLastErrno();
  }
  ReaperPlan plan{::getpid(), writeEnd.get(), path.c_str(), argv.data(), environ};

  // The reaper starts with its signals blocked: it takes them with sigwaitinfo,
  // and no handler of this program may run in it.
  sigset_t blocked = ReaperSignals(), previous;
  ::pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  pid_t reaper = ::fork();
  if (reaper == 0) RunReaper(plan);
  int forkError = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (reaper < 0) return HresultFromErrno(forkError);
  writeEnd.Reset();
  // SIGTERM: the reaper ends its command's tree before it exits.
  return AdoptStartedChild(reaper, SIGTERM, std::move(readEnd), wantOutput, child);
}

int EndProcessTree(ChildProcess* child) {
  if (!child->process.valid()) return -1;
  if (!child->process.WaitForExit(0)) child->process.Signal(SIGTERM);
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(child->process.pid(), &status, 0);
  } while (reaped < 0 && errno == EINTR);
  child->process = ProcessHandle();
  child->output.Reset();
  if (reaped < 0) return -1;
  return ExitCodeOf(status);
}
