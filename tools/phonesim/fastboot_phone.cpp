#include "tools/phonesim/fastboot_phone.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/bench_state/bench_state.h"

namespace phonesim {

namespace {

constexpr std::uint64_t kMaxCommand = 4096;

// Reads exactly n bytes; false when the peer closed, failed or we stop.
bool ReadAll(int fd, void* data, size_t n, const std::atomic<bool>& stop) {
  auto* p = static_cast<std::uint8_t*>(data);
  while (n > 0) {
    pollfd q{fd, POLLIN, 0};
    if (stop) return false;
    if (::poll(&q, 1, 100) <= 0) continue;
    ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t n) {
  auto* p = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool SendMessage(int fd, const std::string& payload) {
  std::uint8_t header[8];
  std::uint64_t n = payload.size();
  for (int i = 0; i < 8; ++i) header[i] = static_cast<std::uint8_t>(n >> (56 - 8 * i));
  return WriteAll(fd, header, 8) && WriteAll(fd, payload.data(), payload.size());
}

// One message's length, from its 8-byte big-endian header.
bool ReadLength(int fd, std::uint64_t* n, const std::atomic<bool>& stop) {
  std::uint8_t header[8];
  if (!ReadAll(fd, header, 8, stop)) return false;
  *n = 0;
  for (std::uint8_t b : header) *n = *n << 8 | b;
  return true;
}

}  // namespace

TcpFastbootPhone::TcpFastbootPhone(FastbootPhoneOptions options) : options_(std::move(options)) {}
TcpFastbootPhone::~TcpFastbootPhone() { Stop(); }

std::string TcpFastbootPhone::identifier() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

std::map<std::string, std::vector<std::uint8_t>> TcpFastbootPhone::partitions() const {
  std::lock_guard lock(mutex_);
  return partitions_;
}

bool TcpFastbootPhone::Start(std::string* error) {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 4) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (error) *error = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
    return false;
  }
  port_ = ntohs(address.sin_port);
  if (!options_.benchDir.empty()) {
    bench::PhoneState s;
    s.index = options_.index;
    s.mode = "fastboot";
    s.serial = options_.serial;
    s.address = "127.0.0.1:" + std::to_string(port_);
    bench::WritePhoneState(options_.benchDir, s);
  }
  thread_ = std::thread(&TcpFastbootPhone::Serve, this);
  return true;
}

void TcpFastbootPhone::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) ::close(listener_);
  listener_ = -1;
}

void TcpFastbootPhone::Serve() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Converse(fd);
    ::close(fd);
  }
}

void TcpFastbootPhone::Converse(int fd) {
  char hello[4];
  if (!ReadAll(fd, hello, 4, stop_) || std::memcmp(hello, "FB", 2) != 0 || !WriteAll(fd, "FB01", 4)) return;
  for (;;) {
    std::uint64_t n = 0;
    if (!ReadLength(fd, &n, stop_) || n == 0 || n > kMaxCommand) return;
    std::string command(n, '\0');
    if (!ReadAll(fd, command.data(), n, stop_)) return;
    bool silent = false;
    {
      std::lock_guard lock(mutex_);
      silent = options_.silentAfterCommands >= 0 && commands_++ >= options_.silentAfterCommands;
    }
    if (silent) continue;  // read and ignored: a device that stopped answering
    bool close = false;
    std::string reply = Answer(fd, command, &close);
    if (reply.empty() || !SendMessage(fd, reply) || close) return;
  }
}

std::string TcpFastbootPhone::Answer(int fd, const std::string& command, bool* close) {
  auto starts = [&](const char* prefix) { return command.rfind(prefix, 0) == 0; };
  if (starts("getvar:")) {
    std::string name = command.substr(7);
    char size[32];
    std::snprintf(size, sizeof size, "0x%08x", options_.maxDownload);
    if (name == "max-download-size") return std::string("OKAY") + size;
    if (name == "product") return "OKAYvbench";
    if (name == "serialno") return "OKAY" + options_.serial;
    if (name == "version") return "OKAY0.4";
    if (name.rfind("has-slot:", 0) == 0 || name.rfind("is-logical:", 0) == 0) return "OKAYno";
    return "FAILunknown variable";
  }
  if (starts("download:")) {
    std::uint64_t size = std::strtoull(command.c_str() + 9, nullptr, 16);
    if (size == 0 || size > options_.maxDownload) return "FAILdata too large";
    char data[16];
    std::snprintf(data, sizeof data, "DATA%08x", static_cast<unsigned>(size));
    if (!SendMessage(fd, data)) return "";
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < size) {  // the data may arrive in several messages
      std::uint64_t n = 0;
      if (!ReadLength(fd, &n, stop_) || n > size - bytes.size()) return "";
      size_t at = bytes.size();
      bytes.resize(at + n);
      if (!ReadAll(fd, bytes.data() + at, n, stop_)) return "";
    }
    std::lock_guard lock(mutex_);
    downloaded_ = std::move(bytes);
    return "OKAY";
  }
  if (starts("flash:")) {
    std::string partition = command.substr(6);
    if (partition == options_.failPartition) return "FAILpartition is locked";
    if (!SendMessage(fd, "INFOwriting '" + partition + "'")) return "";
    std::lock_guard lock(mutex_);
    partitions_[partition] = downloaded_;
    return "OKAY";
  }
  if (starts("erase:")) {
    std::lock_guard lock(mutex_);
    partitions_.erase(command.substr(6));
    return "OKAY";
  }
  if (starts("reboot")) {
    ++reboots_;
    *close = true;
    return "OKAY";
  }
  return "FAILunknown command";
}

}  // namespace phonesim
