#include "tools/phonesim/sahara_phone.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/pty_master.h"
#include "tools/phonesim/time_scale.h"

namespace phonesim {
namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

PtySaharaPhone::PtySaharaPhone(SaharaPhoneOptions options) : options_(std::move(options)) {}

PtySaharaPhone::~PtySaharaPhone() { Stop(); }

bool PtySaharaPhone::Start(std::string* error) {
  if (!OpenSaharaLuns(options_, &store_, error)) return false;
  master_ = OpenRawPtyMaster(&portPath_, error);
  if (master_ < 0) return false;
  // Opened and closed once, the slave reads as hung up on the master until
  // the host opens it: that is how the phone sees the host arrive.
  int slave = ::open(portPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave >= 0) ::close(slave);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  session_ = std::make_unique<SaharaSession>(options_, store_);
  Publish("emergency");
  thread_ = std::thread(&PtySaharaPhone::Run, this);
  return true;
}

void PtySaharaPhone::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PtySaharaPhone::Publish(const std::string& mode) {
  bench::PhoneState s;
  s.index = options_.index;
  s.mode = mode;
  if (mode == "emergency") s.port = portPath_;
  if (!options_.benchDir.empty()) bench::WritePhoneState(options_.benchDir, s);
}

bool PtySaharaPhone::Send(const std::vector<std::string>& writes) {
  for (const std::string& bytes : writes) {
    std::size_t done = 0;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size() && !stop_ && Clock::now() < deadline) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 20);
      } else {
        return false;
      }
    }
    if (done < bytes.size()) return false;
  }
  return true;
}

void PtySaharaPhone::Run() {
  std::uint8_t buffer[65536];
  while (!stop_ && !gone_) {
    pollfd p{master_, POLLIN, 0};
    ::poll(&p, 1, 10);
    if (p.revents & POLLHUP) {  // no host holds the port
      hostOpen_ = false;
      ::usleep(5000);
      continue;
    }
    if (!hostOpen_) {
      hostOpen_ = true;
      OnHostOpened();
    }
    ssize_t n = (p.revents & POLLIN) ? ::read(master_, buffer, sizeof buffer) : 0;
    if (n > 0) {
      OnBytes(buffer, static_cast<std::size_t>(n));
      continue;
    }
    Send(session_->Idle());
    lastStatus_ = session_->lastSaharaStatus();
  }
}

void PtySaharaPhone::OnHostOpened() {
  ++opens_;
  if (options_.helloOnce && opens_ > 1) return;
  std::vector<std::string> hello = session_->Hello();
  if (hello.empty()) return;
  ::usleep(20000);  // let the host finish setting the line up before the first bytes
  Send(hello);
}

void PtySaharaPhone::OnBytes(const std::uint8_t* data, std::size_t size) {
  Send(session_->Feed(data, size));
  lastStatus_ = session_->lastSaharaStatus();
  if (session_->vanished()) {
    gone_ = true;
    Publish("gone");
    ::close(master_);
    master_ = -1;
    return;
  }
  if (session_->resetRequested()) PowerReset();
}

// The phone restarts: off the bench for a moment, then its boot ROM again.
void PtySaharaPhone::PowerReset() {
  ++resets_;
  ::usleep(50000);  // the ACK leaves before the phone does
  Publish("gone");
  session_ = std::make_unique<SaharaSession>(options_, store_);
  auto back = Clock::now() + std::chrono::milliseconds(ScaledMs(options_.resetDelayMs));
  while (!stop_ && Clock::now() < back) ::usleep(2000);
  // Whatever either side sent meanwhile went to or came from a phone that
  // is no longer there.
  ::tcflush(master_, TCIOFLUSH);
  std::uint8_t drain[4096];
  while (::read(master_, drain, sizeof drain) > 0) {
  }
  Publish("emergency");
  opens_ = 0;
  hostOpen_ = false;  // a host still holding the port hears HELLO as if it had just opened it
}

}  // namespace phonesim
