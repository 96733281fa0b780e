#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "download/serial_port.h"
#include "platform/timing.h"
#include "platform/unique_fd.h"

namespace {

constexpr HRESULT kVanished = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
constexpr HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);
// How long one blocking read waits for its first byte (the tty's VTIME, in
// tenths of a second) and how often a blocked write looks at the stop
// request: a stop is seen within this time whatever the phone does.
constexpr int kSliceMs = 100;
constexpr cc_t kSliceTenths = 1;

using Clock = std::chrono::steady_clock;

// The two open descriptions of one tty: a blocking one for reads, which the
// tty itself ends after a slice without a byte, and a non-blocking one for
// writes, which wait in poll so that a stop request is seen. The tty is made
// exclusive (TIOCEXCL) for as long as this object holds it: the flag belongs
// to the tty, not to a descriptor, and would otherwise keep every later open
// of a normal user out (EBUSY) after the port is closed.
class TtyDescriptors {
 public:
  TtyDescriptors(UniqueFd reader, UniqueFd writer) : reader_(std::move(reader)), writer_(std::move(writer)) {}
  ~TtyDescriptors() {
    if (exclusive_) ::ioctl(reader_.get(), TIOCNXCL);
  }
  TtyDescriptors(const TtyDescriptors&) = delete;
  TtyDescriptors& operator=(const TtyDescriptors&) = delete;
  HRESULT MakeExclusive() {
    if (::ioctl(reader_.get(), TIOCEXCL) != 0) return HresultFromLastErrno();
    exclusive_ = true;
    return S_OK;
  }
  int reader() const { return reader_.get(); }
  int writer() const { return writer_.get(); }

 private:
  UniqueFd reader_;
  UniqueFd writer_;
  bool exclusive_ = false;
};

HRESULT ReadFailure() { return errno == EIO ? kVanished : HresultFromLastErrno(); }

class TtyPort final : public SerialPort {
 public:
  explicit TtyPort(std::unique_ptr<TtyDescriptors> fds) : fds_(std::move(fds)) {}

  HRESULT ReadByte(unsigned char* byte, unsigned timeoutMs) override {
    if (next_ == end_) {
      HRESULT hr = Fill(timeoutMs);
      if (hr != S_OK) return hr;
    }
    *byte = buffer_[next_++];
    return S_OK;
  }

  size_t Buffered(const unsigned char** data) override {
    *data = buffer_ + next_;
    return end_ - next_;
  }
  void Consume(size_t n) override { next_ += std::min(n, end_ - next_); }

  HRESULT Write(const unsigned char* data, size_t size) override {
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::write(fds_->writer(), data + done, size - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return errno == EIO ? kVanished : HresultFromLastErrno();
      HRESULT hr = WaitWritable();
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

 private:
  // Takes all the bytes there are once the first one comes within timeoutMs.
  // Each request is one blocking read, which the tty ends after a slice
  // without a byte; a time-out or its rest shorter than a slice is waited in
  // poll. Between slices the stop request is looked at, and a read that
  // brought nothing is told from a hang-up.
  HRESULT Fill(unsigned timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (StopRequested()) return kCancelled;
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return kReadTimeout;
      ssize_t n = left >= kSliceMs ? ::read(fds_->reader(), buffer_, sizeof buffer_) : ReadWithin(static_cast<int>(left));
      if (n > 0) {
        next_ = 0;
        end_ = static_cast<size_t>(n);
        return S_OK;
      }
      if (n < 0 && errno != EINTR) return ReadFailure();
      if (n == 0 && HungUp()) return kVanished;
    }
  }

  // poll, then a read of what came: 0 when nothing came within ms.
  ssize_t ReadWithin(int ms) {
    pollfd p{fds_->reader(), POLLIN, 0};
    int rc = ::poll(&p, 1, ms);
    if (rc <= 0) return rc;
    return ::read(fds_->reader(), buffer_, sizeof buffer_);
  }

  // A tty that was hung up (a USB serial device unplugged) reads as zero
  // bytes at once, as an empty slice does; poll tells them apart.
  bool HungUp() {
    pollfd p{fds_->reader(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  }

  HRESULT WaitWritable() {
    for (;;) {
      if (StopRequested()) return kCancelled;
      pollfd p{fds_->writer(), POLLOUT, 0};
      int rc = ::poll(&p, 1, kSliceMs);
      if (rc < 0 && errno != EINTR) return HresultFromLastErrno();
      if (rc > 0 && (p.revents & POLLOUT)) return S_OK;
      if (rc > 0) return kVanished;
    }
  }

  std::unique_ptr<TtyDescriptors> fds_;
  unsigned char buffer_[65536];
  size_t next_ = 0;
  size_t end_ = 0;
};

// A second open description of the tty behind fd, for writing without
// blocking (O_NONBLOCK belongs to the description, not to the descriptor).
HRESULT ReopenForWriting(int fd, UniqueFd* writer) {
  std::string self = "/proc/self/fd/" + std::to_string(fd);
  writer->Reset(::open(self.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  return writer->valid() ? S_OK : HresultFromLastErrno();
}

// Raw bytes; a read request returns once a byte is there or a slice passed.
HRESULT MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return HresultFromLastErrno();
  ::cfmakeraw(&tio);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = kSliceTenths;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return HresultFromLastErrno();
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return HresultFromLastErrno();
  return S_OK;
}

}  // namespace

HRESULT OpenSerialPort(const std::string& path, std::unique_ptr<SerialPort>* port) {
  if (!port) return E_POINTER;
  port->reset();
  UniqueFd opened(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!opened.valid()) return HresultFromLastErrno();
  // The lock keeps out every other download run of ours, root or not; it is
  // taken first, so a run that finds the port held leaves the holder's
  // TIOCEXCL alone. TIOCEXCL keeps other programs out (root passes it).
  if (::flock(opened.get(), LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) : HresultFromLastErrno();
  }
  // Raw at once: until then the tty edits what comes in as a terminal's
  // keys and echoes it back out. A phone that speaks first (a Sahara boot
  // ROM sends HELLO as soon as the port is read) may have been answered with
  // its own bytes and had control bytes of its packet taken as editing keys,
  // so whatever came before the port was raw is dropped: the phone repeats
  // itself, or is asked, once the port is clean.
  HRESULT hr = MakeRaw(opened.get());
  if (FAILED(hr)) return hr;
  if (::tcflush(opened.get(), TCIFLUSH) != 0) return HresultFromLastErrno();
  UniqueFd writer;
  hr = ReopenForWriting(opened.get(), &writer);
  if (FAILED(hr)) return hr;
  auto fds = std::make_unique<TtyDescriptors>(std::move(opened), std::move(writer));
  hr = fds->MakeExclusive();
  if (FAILED(hr)) return hr;
  *port = std::make_unique<TtyPort>(std::move(fds));
  return S_OK;
}
