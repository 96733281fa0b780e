#include "tools/phonesim/usb_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace phonesim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kWakeSignal = SIGUSR2;
constexpr std::size_t kLargestRead = 64 * 1024;

void InstallWakeSignal() {
  static const bool installed = [] {
    struct sigaction sa{};
    sa.sa_handler = [](int) {};
    sa.sa_flags = 0;  // no restart: a blocked endpoint read returns EINTR
    ::sigaction(kWakeSignal, &sa, nullptr);
    return true;
  }();
  (void)installed;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WaitReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 50) > 0;
}

class PtyStream final : public PhoneStream {
 public:
  explicit PtyStream(int fd) : fd_(fd) {}
  ~PtyStream() override { ::close(fd_); }
  bool Read(Bytes* chunk) override {
    chunk->clear();
    if (!WaitReadable(fd_)) return true;
    std::uint8_t buffer[4096];
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n <= 0) return false;  // the phone closed its end
    chunk->assign(buffer, buffer + n);
    return true;
  }
  bool Write(const std::uint8_t* data, std::size_t size) override { return WriteAll(fd_, data, size); }

 private:
  int fd_;
};

// Fastboot over TCP frames every message with an 8-byte big-endian length;
// over USB a message is one transfer.
class FastbootStream final : public PhoneStream {
 public:
  explicit FastbootStream(int fd) : fd_(fd) {}
  ~FastbootStream() override { ::close(fd_); }
  bool Read(Bytes* chunk) override {
    chunk->clear();
    if (!WaitReadable(fd_)) return true;
    std::uint8_t head[8];
    if (!ReadAll(head, sizeof head)) return false;
    std::uint64_t length = 0;
    for (std::uint8_t b : head) length = (length << 8) | b;
    if (length > (1u << 20)) return false;  // no answer of the phone is this long
    chunk->resize(length);
    return ReadAll(chunk->data(), chunk->size());
  }
  bool Write(const std::uint8_t* data, std::size_t size) override {
    std::uint8_t head[8];
    for (int k = 0; k < 8; ++k) head[k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(size) >> (56 - 8 * k));
    return WriteAll(fd_, head, sizeof head) && WriteAll(fd_, data, size);
  }
  bool ReadAll(std::uint8_t* data, std::size_t size) {
    while (size > 0) {
      ssize_t n = ::read(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<PhoneStream> OpenPtyStream(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  return std::make_unique<PtyStream>(fd);
}

std::unique_ptr<PhoneStream> OpenFastbootStream(const std::string& identifier, std::string* error) {
  // "tcp:127.0.0.1:PORT", as the bench's fastboot phone names itself.
  std::size_t colon = identifier.rfind(':');
  unsigned long port = colon == std::string::npos ? 0 : std::strtoul(identifier.c_str() + colon + 1, nullptr, 10);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::uint8_t greeting[4];
  bool ok = fd >= 0 && port > 0 && port < 65536 &&
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            WriteAll(fd, reinterpret_cast<const std::uint8_t*>("FB01"), 4) &&
            ::recv(fd, greeting, sizeof greeting, MSG_WAITALL) == 4 && std::memcmp(greeting, "FB01", 4) == 0;
  if (!ok) {
    if (error) *error = "cannot reach the fastboot phone at " + identifier;
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  return std::make_unique<FastbootStream>(fd);
}

UsbRelay::~UsbRelay() { Stop(); }

void UsbRelay::Start(FfsFunction& function, std::unique_ptr<PhoneStream> stream) {
  InstallWakeSignal();
  function_ = &function;
  stream_ = std::move(stream);
  stop_ = false;
  left_ = false;
  running_ = 2;
  toPhone_ = std::thread(&UsbRelay::HostToPhone, this);
  toHost_ = std::thread(&UsbRelay::PhoneToHost, this);
}

void UsbRelay::Stop() {
  stop_ = true;
  while (running_ > 0) {
    for (std::thread* t : {&toPhone_, &toHost_})
      if (t->joinable()) ::pthread_kill(t->native_handle(), kWakeSignal);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  for (std::thread* t : {&toPhone_, &toHost_})
    if (t->joinable()) t->join();
  stream_.reset();
}

void UsbRelay::WaitUntilPhoneLeft(const std::atomic<bool>& stop) {
  std::unique_lock lock(mutex_);
  while (!left_ && !stop) changed_.wait_for(lock, std::chrono::milliseconds(50));
}

// One packet a read, unless the phone awaits more: a larger read waits
// until it is full or a short packet comes, which a host write of a whole
// number of packets never sends. Bytes the phone is bound to receive fill
// it, and reading them in large pieces keeps up with the host.
void UsbRelay::HostToPhone() {
  std::vector<std::uint8_t> buffer(kLargestRead);
  while (!stop_) {
    std::size_t want = std::min(stream_->Awaited(), kLargestRead) / FfsFunction::kPacket * FfsFunction::kPacket;
    ssize_t n = ::read(function_->out(), buffer.data(), std::max(want, FfsFunction::kPacket));
    if (n > 0) {
      stream_->Write(buffer.data(), static_cast<std::size_t>(n));
    } else if (n < 0 && errno != EINTR) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // unplugged for now
    }
  }
  --running_;
}

void UsbRelay::PhoneToHost() {
  Bytes chunk;
  while (!stop_) {
    if (!stream_->Read(&chunk)) {
      std::lock_guard lock(mutex_);
      left_ = true;
      changed_.notify_all();
      break;
    }
    if (!chunk.empty()) SendToHost(chunk);
  }
  --running_;
}

// One transfer a chunk; a chunk of whole packets is ended by an empty one,
// or the host's read would wait for more.
void UsbRelay::SendToHost(const Bytes& chunk) {
  int in = function_->in();
  while (!stop_) {
    ssize_t n = ::write(in, chunk.data(), chunk.size());
    if (n == static_cast<ssize_t>(chunk.size())) break;
    if (n < 0 && errno == EINTR) continue;
    return;  // the host is gone: what it did not take is lost, as on a real cable
  }
  if (chunk.size() % FfsFunction::kPacket == 0) (void)::write(in, chunk.data(), 0);
}

}  // namespace phonesim
