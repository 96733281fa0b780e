#include "tools/phonesim/sahara_phone.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/time_scale.h"

namespace phonesim {
namespace {

using Clock = std::chrono::steady_clock;

std::string AsString(const Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace

PtySaharaPhone::PtySaharaPhone(SaharaPhoneOptions options) : options_(std::move(options)) {}

PtySaharaPhone::~PtySaharaPhone() { Stop(); }

bool PtySaharaPhone::Start(std::string* error) {
  unsigned luns = options_.firehose.ufs ? 6 : 1;
  std::string prefix = options_.benchDir + "/firehose-" + std::to_string(options_.index) + "-lun";
  if (!store_.Open(prefix, luns, options_.lunBytes, error)) return false;
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    if (error) *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  portPath_ = name;
  termios tio{};
  ::tcgetattr(master_, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(master_, TCSANOW, &tio);
  // Opened and closed once, the slave reads as hung up on the master until
  // the host opens it: that is how the phone sees the host arrive.
  int slave = ::open(portPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave >= 0) ::close(slave);
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  rom_ = std::make_unique<SaharaRom>(options_.rom);
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

bool PtySaharaPhone::Send(const std::string& bytes) {
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
  return done == bytes.size();
}

void PtySaharaPhone::Run() {
  std::uint8_t buffer[65536];
  auto lastByte = Clock::now();
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
      lastByte = Clock::now();
      if (!options_.silent) OnBytes(buffer, static_cast<std::size_t>(n));
      continue;
    }
    bool waitingForData = !programmer_ && rom_->stage() == SaharaRom::Stage::AwaitData;
    if (waitingForData && Clock::now() - lastByte > std::chrono::milliseconds(ScaledMs(options_.dataTimeoutMs))) {
      Send(AsString(rom_->ReceiveTimedOut()));
      lastStatus_ = rom_->lastStatus();
    }
  }
}

void PtySaharaPhone::OnHostOpened() {
  ++opens_;
  if (options_.silent || programmer_ || rom_->stage() != SaharaRom::Stage::AwaitHelloResp) return;
  if (options_.helloOnce && opens_ > 1) return;
  ::usleep(20000);  // let the host finish setting the line up before the first bytes
  Send(AsString(rom_->Hello()));
}

void PtySaharaPhone::OnBytes(const std::uint8_t* data, std::size_t size) {
  if (!programmer_) {
    Send(AsString(rom_->Feed(data, size)));
    lastStatus_ = rom_->lastStatus();
    if (rom_->stage() == SaharaRom::Stage::Handover) StartProgrammer(rom_->TakeLeftover());
    return;
  }
  for (const std::string& document : programmer_->Feed(data, size)) Send(document);
  if (programmer_->vanished()) {
    gone_ = true;
    Publish("gone");
    ::close(master_);
    master_ = -1;
    return;
  }
  if (programmer_->resetRequested()) PowerReset();
}

void PtySaharaPhone::StartProgrammer(Bytes leftover) {
  programmer_ = std::make_unique<FirehoseTarget>(options_.firehose, store_);
  ++programmerStarts_;
  for (const std::string& log : programmer_->StartUp()) Send(log);
  if (!leftover.empty()) OnBytes(leftover.data(), leftover.size());
}

// The phone restarts: off the bench for a moment, then its boot ROM again.
void PtySaharaPhone::PowerReset() {
  ++resets_;
  ::usleep(50000);  // the ACK leaves before the phone does
  Publish("gone");
  programmer_.reset();
  rom_ = std::make_unique<SaharaRom>(options_.rom);
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
