#include "tools/phonesim/pty_phone.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <fstream>

#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/pty_master.h"
#include "tools/phonesim/pty_wake.h"
#include "tools/phonesim/time_scale.h"

namespace phonesim {

PtyEmergencyPhone::PtyEmergencyPhone(BenchPhoneOptions options)
    : options_(std::move(options)), phone_(options_.phone), shaper_(options_.link) {}

PtyEmergencyPhone::~PtyEmergencyPhone() { Stop(); }

std::string PtyEmergencyPhone::diskPath() const {
  return options_.benchDir + "/disk-" + std::to_string(options_.index) + ".img";
}

bool PtyEmergencyPhone::Start(std::string* error) {
  master_ = OpenRawPtyMaster(&portPath_, error);
  if (master_ < 0) return false;
  slave_ = ::open(portPath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  Publish("emergency");
  running_ = true;
  thread_ = std::thread([this] {
    Run();
    running_ = false;
  });
  return true;
}

void PtyEmergencyPhone::Stop() {
  stop_ = true;
  WakeUntilEnded(running_, [this] { WakePort(); });
  if (thread_.joinable()) thread_.join();
  LeavePort();
}

void PtyEmergencyPhone::WakePort() {
  std::lock_guard lock(portMutex_);
  WakeMasterThroughSlave(slave_);
}

EmergencyPhone PtyEmergencyPhone::Snapshot() const {
  std::lock_guard lock(mutex_);
  return phone_;
}

void PtyEmergencyPhone::Publish(const std::string& mode) {
  bench::PhoneState s;
  s.index = options_.index;
  s.mode = mode;
  s.heard = heard_;
  if (mode == "emergency") s.port = portPath_;
  if (mode == "disk") s.disk = diskPath();
  if (!options_.benchDir.empty()) bench::WritePhoneState(options_.benchDir, s);
}

void PtyEmergencyPhone::LeavePort() {
  std::lock_guard lock(portMutex_);
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
  master_ = slave_ = -1;
}

bool PtyEmergencyPhone::Send(const Bytes& frame) {
  size_t done = 0;
  while (done < frame.size() && !stop_) {
    ssize_t n = ::write(master_, frame.data() + done, frame.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      Pace(static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return done == frame.size();
}

// A line gone mad: bytes that never hold a flag, until the bench stops.
void PtyEmergencyPhone::Babble() {
  const Bytes noise(4096, 0x55);
  while (!stop_ && Send(noise)) {
  }
}

// Closing the master drops what the host has not read yet, so the reset
// acknowledgement must have reached the slave's input queue (the pty moves
// it there asynchronously) and left it again before the phone goes.
void PtyEmergencyPhone::WaitUntilHostRead() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  auto pending = [&] {
    int bytes = 0;
    return ::ioctl(slave_, FIONREAD, &bytes) == 0 ? bytes : 0;
  };
  auto arrivedBy = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
  while (!stop_ && pending() == 0 && std::chrono::steady_clock::now() < arrivedBy) ::usleep(200);
  while (!stop_ && pending() > 0 && std::chrono::steady_clock::now() < deadline) ::usleep(200);
}

void PtyEmergencyPhone::ComeBackAsDisk() {
  Publish("gone");
  auto back = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(options_.diskReturnDelayMs));
  while (!stop_ && std::chrono::steady_clock::now() < back) ::usleep(1000);
  if (stop_ || options_.neverReturnsAsDisk) return;
  Bytes emmc = Snapshot().emmc();
  std::string temp = diskPath() + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(emmc.data()), static_cast<std::streamsize>(emmc.size()));
  }
  if (options_.diskBytes > emmc.size()) ::truncate(temp.c_str(), static_cast<off_t>(options_.diskBytes));
  ::rename(temp.c_str(), diskPath().c_str());
  Publish("disk");
  isDisk_ = true;
}

// A real phone's USB link is slower than a pty: what passes the port is held
// to the configured rate over the whole conversation.
void PtyEmergencyPhone::Pace(size_t bytes) {
  if (options_.rateMBps <= 0) return;
  auto now = std::chrono::steady_clock::now();
  if (pacedBytes_ == 0) pacedSince_ = now;
  pacedBytes_ += static_cast<double>(bytes);
  auto due = pacedSince_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(pacedBytes_ / (options_.rateMBps * 1e6)));
  if (due > now) std::this_thread::sleep_until(due);
}

void PtyEmergencyPhone::Run() {
  FrameDecoder decoder;
  std::uint8_t buffer[65536];
  // The replies to what one read brought go out in one write, as the host
  // sends each frame in one write. The buffer serves every batch.
  Bytes out;
  auto flush = [&] {
    if (!out.empty()) Send(out);
    out.clear();
  };
  while (!stop_) {
    // One blocking read takes what the host sent; Stop wakes it.
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (stop_) break;
    if (n <= 0) {  // interrupted, or a port that fails: try again after a pause
      if (n == 0 || errno != EINTR) ::usleep(10000);
      continue;
    }
    Pace(static_cast<size_t>(n));
    if (!heard_) {
      heard_ = true;
      Publish("emergency");
    }
    bool left = false;
    decoder.Feed(buffer, static_cast<size_t>(n), [&](const Bytes& request) {
      if (left || stop_) return;
      // The replies stay in the phone's buffers, which only this thread
      // changes, so they are framed outside the lock.
      const Replies* replies = nullptr;
      EmergencyPhone::Stage stage;
      {
        std::lock_guard lock(mutex_);
        replies = &phone_.Handle(request);
        stage = phone_.stage();
      }
      for (const Bytes& reply : *replies) {
        ReplyAction action = shaper_.Next();
        if (action == ReplyAction::Vanish) {
          flush();
          LeavePort();
          Publish("gone");
          left = true;
          return;
        }
        if (action == ReplyAction::Babble) {
          flush();
          Babble();
          left = true;
          return;
        }
        if (action == ReplyAction::Drop) continue;
        AppendFrame(out, reply, action == ReplyAction::Corrupt);
      }
      if (stage == EmergencyPhone::Stage::Reset) {
        flush();
        WaitUntilHostRead();
        LeavePort();
        ComeBackAsDisk();
        left = true;
      }
    });
    if (!left) flush();
    badFrames_ = decoder.badFrames();
    if (left) return;
  }
}

}  // namespace phonesim
