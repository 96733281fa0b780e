#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "download/serial_port.h"
#include "platform/timing.h"
#include "platform/unique_fd.h"

namespace {

constexpr HRESULT kVanished = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
constexpr int kStopCheckMs = 100;  // how often a blocked write looks at the stop request

// A tty made exclusive (TIOCEXCL) for as long as this object holds it: the
// flag belongs to the tty, not to the descriptor, and would otherwise keep
// every later open of a normal user out (EBUSY) after the port is closed.
class ExclusiveTty {
 public:
  explicit ExclusiveTty(UniqueFd fd) : fd_(std::move(fd)) {}
  ~ExclusiveTty() {
    if (exclusive_) ::ioctl(fd_.get(), TIOCNXCL);
  }
  ExclusiveTty(const ExclusiveTty&) = delete;
  ExclusiveTty& operator=(const ExclusiveTty&) = delete;
  HRESULT MakeExclusive() {
    if (::ioctl(fd_.get(), TIOCEXCL) != 0) return HresultFromLastErrno();
    exclusive_ = true;
    return S_OK;
  }
  int get() const { return fd_.get(); }

 private:
  UniqueFd fd_;
  bool exclusive_ = false;
};

class TtyPort final : public SerialPort {
 public:
  explicit TtyPort(std::unique_ptr<ExclusiveTty> fd) : fd_(std::move(fd)) {}

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
      ssize_t n = ::write(fd_->get(), data + done, size - done);
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
  // One read request: waits up to timeoutMs for data and takes all there is.
  HRESULT Fill(unsigned timeoutMs) {
    pollfd p{fd_->get(), POLLIN, 0};
    int rc;
    do {
      rc = ::poll(&p, 1, static_cast<int>(timeoutMs));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) return HresultFromLastErrno();
    if (rc == 0) return kReadTimeout;
    if ((p.revents & POLLIN) == 0) return kVanished;  // hang-up or error without data
    ssize_t n;
    do {
      n = ::read(fd_->get(), buffer_, sizeof buffer_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN ? kReadTimeout : errno == EIO ? kVanished : HresultFromLastErrno();
    if (n == 0) return kVanished;
    next_ = 0;
    end_ = static_cast<size_t>(n);
    return S_OK;
  }

  HRESULT WaitWritable() {
    for (;;) {
      if (StopRequested()) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
      pollfd p{fd_->get(), POLLOUT, 0};
      int rc = ::poll(&p, 1, kStopCheckMs);
      if (rc < 0 && errno != EINTR) return HresultFromLastErrno();
      if (rc > 0 && (p.revents & POLLOUT)) return S_OK;
      if (rc > 0) return kVanished;
    }
  }

  std::unique_ptr<ExclusiveTty> fd_;
  unsigned char buffer_[65536];
  size_t next_ = 0;
  size_t end_ = 0;
};

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
  auto fd = std::make_unique<ExclusiveTty>(std::move(opened));
  HRESULT hr = fd->MakeExclusive();
  if (FAILED(hr)) return hr;
  termios tio{};
  if (::tcgetattr(fd->get(), &tio) != 0) return HresultFromLastErrno();
  ::cfmakeraw(&tio);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd->get(), TCSANOW, &tio) != 0) return HresultFromLastErrno();
  *port = std::make_unique<TtyPort>(std::move(fd));
  return S_OK;
}
