// The host end of a bench diagnostic phone's port for the tests: sends a
// frame, collects what comes back up to the closing flag.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "tools/phonesim/diag_frame.h"

class DiagHost {
 public:
  explicit DiagHost(const std::string& port) {
    fd_ = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ >= 0) {
      termios tio{};
      ::tcgetattr(fd_, &tio);
      ::cfmakeraw(&tio);
      ::tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~DiagHost() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool open() const { return fd_ >= 0; }

  bool Send(const phonesim::Bytes& frame) {
    return ::write(fd_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
  }
  // Raw bytes up to and including a flag that ends a non-empty frame;
  // nullopt when none arrives in time or the port went away.
  std::optional<phonesim::Bytes> ReceiveFrame(std::chrono::milliseconds wait = std::chrono::seconds(3)) {
    phonesim::Bytes got;
    auto end = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      std::uint8_t b;
      if (::read(fd_, &b, 1) != 1) return std::nullopt;
      got.push_back(b);
      if (b == 0x7E && got.size() > 1 && got[got.size() - 2] != 0x7E) return got;
    }
    return std::nullopt;
  }
  // One request packet out, the answer's packet back (bad frames give nullopt).
  std::optional<phonesim::Bytes> Exchange(const phonesim::Bytes& packet,
                                          std::chrono::milliseconds wait = std::chrono::seconds(3)) {
    if (!Send(phonesim::EncodeDiagFrame(packet))) return std::nullopt;
    std::optional<phonesim::Bytes> frame = ReceiveFrame(wait);
    if (!frame) return std::nullopt;
    phonesim::DiagDecoder decoder;
    std::optional<phonesim::Bytes> answer;
    decoder.Feed(frame->data(), frame->size(), [&](const phonesim::Bytes& p) { answer = p; });
    return answer;
  }

 private:
  int fd_ = -1;
};
