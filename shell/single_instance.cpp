#include "shell/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/format.h"
#include "platform/timing.h"
#include "shell/log.h"
#include "shell/runtime_folder.h"

namespace {

constexpr int kAnswerTimeoutMs = 2000;
constexpr char kRaiseRequest[] = "raise\n";

std::string RuntimePath(const char* suffix) { return Format("%s/%s%s", RuntimeFolder().c_str(), kInstanceGuid, suffix); }

bool SocketAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool WaitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) == 1 && (p.revents & (POLLIN | POLLHUP));
}

}  // namespace

std::string CSingleInstance::LockPath() { return RuntimePath(".lock"); }
std::string CSingleInstance::SocketPath() { return RuntimePath(".socket"); }

CSingleInstance::~CSingleInstance() { StopServing(); }

HRESULT CSingleInstance::Acquire() {
  constexpr const char* kName = "CSingleInstance::Acquire";
  for (;;) {
    HRESULT hr = PrepareRuntimeFolder();
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    UniqueFd fd(::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.valid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      lock_ = std::move(fd);
      return S_OK;
    }
    bool heldElsewhere = fd.valid() && (errno == EWOULDBLOCK || errno == EINTR);
    if (!heldElsewhere) {
      hr = HresultFromLastErrno();
      TraceResult(hr, kName, __LINE__);
      return hr;
    }
    if (AskToRaise()) return S_FALSE;
    fd.Reset();
    WaitUnlessStopped(kRetryMs);
  }
}

bool CSingleInstance::AskToRaise() {
  sockaddr_un address;
  if (!SocketAddress(SocketPath(), &address)) return false;
  UniqueFd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s.valid() || ::connect(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return false;
  if (::send(s.get(), kRaiseRequest, sizeof kRaiseRequest - 1, MSG_NOSIGNAL) < 0) return false;
  char answer = 0;
  return WaitReadable(s.get(), kAnswerTimeoutMs) && ::recv(s.get(), &answer, 1, 0) == 1 && answer == '1';
}

bool CSingleInstance::Serve(std::function<bool()> raise) {
  if (!lock_.valid() || answering_.joinable()) return false;
  sockaddr_un address;
  std::string path = SocketPath();
  if (!SocketAddress(path, &address)) return false;
  // Whoever held the lock before us is gone; its socket file may remain.
  ::unlink(path.c_str());
  UniqueFd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s.valid() || ::bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s.get(), 4) != 0)
    return false;
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return false;
  wake_[0] = UniqueFd(pipe[0]);
  wake_[1] = UniqueFd(pipe[1]);
  listener_ = std::move(s);
  raise_ = std::move(raise);
  answering_ = std::thread(&CSingleInstance::Answer, this);
  return true;
}

void CSingleInstance::StopServing() {
  if (!answering_.joinable()) return;
  char stop = 'x';
  (void)!::write(wake_[1].get(), &stop, 1);
  answering_.join();
  listener_.Reset();
  ::unlink(SocketPath().c_str());
}

// One request per connection: "raise\n", answered "1" when a window was
// raised and "0" when there is none yet.
void CSingleInstance::Answer() {
  for (;;) {
    pollfd p[2] = {{listener_.get(), POLLIN, 0}, {wake_[0].get(), POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) continue;
    char request[16] = {};
    if (!WaitReadable(client.get(), kAnswerTimeoutMs)) continue;
    ssize_t n = ::recv(client.get(), request, sizeof request - 1, 0);
    if (n != static_cast<ssize_t>(sizeof kRaiseRequest - 1) || std::memcmp(request, kRaiseRequest, n) != 0) continue;
    bool raised = raise_();
    WriteLog("raise requested by another start: %s", raised ? "window raised" : "no window yet");
    char answer = raised ? '1' : '0';
    ::send(client.get(), &answer, 1, MSG_NOSIGNAL);
  }
}
