// The bench's phones answer on their pseudo-terminals without taking heap
// memory per request once their buffers are warm: the diagnostic phone its
// NV reads and writes, the emergency phone its stream writes and reads.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/allocation_count.h"
#include "tools/phonesim/diag_frame.h"
#include "tools/phonesim/diagnostic_phone.h"
#include "tools/phonesim/pty_phone.h"

using phonesim::Bytes;

namespace {

// The host end of a phone's port: sends frames made beforehand and reads
// each answer into a buffer of its own, so it allocates nothing itself.
class RawHost {
 public:
  explicit RawHost(const std::string& port) : fd_(::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios tio{};
    if (fd_ < 0 || ::tcgetattr(fd_, &tio) != 0) return;
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
  }
  ~RawHost() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool open() const { return fd_ >= 0; }

  // Sends frame; true when the bytes that come back are expected.
  bool Exchange(const Bytes& frame, const Bytes& expected) {
    if (expected.size() > sizeof buffer_ ||
        ::write(fd_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
      return false;
    for (size_t have = 0; have < expected.size();) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 3000) <= 0) return false;  // a phone that stays silent fails the test, never hangs it
      ssize_t n = ::read(fd_, buffer_ + have, expected.size() - have);
      if (n <= 0) return false;
      have += static_cast<size_t>(n);
    }
    return std::memcmp(buffer_, expected.data(), expected.size()) == 0;
  }

 private:
  int fd_;
  unsigned char buffer_[4096];
};

// Warms the phone up with a few exchanges, then counts the allocations of
// many; *answered is false when an answer was not the expected one.
template <class Exchange>
size_t AllocationsOfWarmExchanges(Exchange exchange, bool* answered) {
  *answered = exchange() && exchange() && exchange();
  AllocationCount counting;
  for (int i = 0; i < 100; ++i) *answered = exchange() && *answered;
  return counting.count();
}

Bytes Data(size_t size) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(0x70 + i % 16);  // flags and escapes among them
  return data;
}

}  // namespace

TEST(BenchPhoneAllocations, DiagnosticPhoneAnswersNvRequestsWithoutHeapMemory) {
  constexpr std::uint16_t kId = 2000;
  const Bytes value = Data(128);
  phonesim::DiagnosticPhoneOptions options;
  phonesim::NvRecord record{{0, kId, 0}, {}};
  std::copy(value.begin(), value.end(), record.data.begin());
  options.seed = std::vector<phonesim::NvRecord>{record};
  phonesim::DiagnosticPhone phone(options);
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;
  RawHost host(phone.portPath());
  ASSERT_TRUE(host.open());

  Bytes read(133, 0), write(133, 0);
  read[0] = 0x26;
  write[0] = 0x27;
  read[1] = write[1] = kId & 0xFF;
  read[2] = write[2] = kId >> 8;
  std::copy(value.begin(), value.end(), write.begin() + 3);
  // A read is answered with the value, a write with its echo; both status 0.
  Bytes readBack = read;
  std::copy(value.begin(), value.end(), readBack.begin() + 3);
  const Bytes readFrame = phonesim::EncodeDiagFrame(read), readAnswer = phonesim::EncodeDiagFrame(readBack);
  const Bytes writeFrame = phonesim::EncodeDiagFrame(write);
  bool answered = false;
  size_t allocations = AllocationsOfWarmExchanges(
      [&] { return host.Exchange(readFrame, readAnswer) && host.Exchange(writeFrame, writeFrame); }, &answered);
  EXPECT_TRUE(answered);
  EXPECT_EQ(allocations, 0u);
}

TEST(BenchPhoneAllocations, EmergencyPhoneAnswersStreamWritesAndReadsWithoutHeapMemory) {
  constexpr size_t kBlock = 1024;
  phonesim::BenchPhoneOptions options;
  options.phone.startInProgrammer = true;
  phonesim::PtyEmergencyPhone phone(options);
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;
  RawHost host(phone.portPath());
  ASSERT_TRUE(host.open());
  ASSERT_TRUE(host.Exchange(phonesim::EncodeFrame({0x1B, 0x21}), phonesim::EncodeFrame({0x1C, 0x00})));  // open

  const Bytes data = Data(kBlock);
  Bytes write = {0x07, 0, 0, 0, 0};  // at address 0
  write.insert(write.end(), data.begin(), data.end());
  Bytes readBack = {0x04, 0, 0, 0, 0};
  readBack.insert(readBack.end(), data.begin(), data.end());
  const Bytes writeFrame = phonesim::EncodeFrame(write), ackFrame = phonesim::EncodeFrame({0x08, 0, 0, 0, 0});
  const Bytes readFrame = phonesim::EncodeFrame({0x03, 0, 0, 0, 0, kBlock & 0xFF, kBlock >> 8});
  const Bytes readAnswer = phonesim::EncodeFrame(readBack);
  bool answered = false;
  size_t allocations = AllocationsOfWarmExchanges(
      [&] { return host.Exchange(writeFrame, ackFrame) && host.Exchange(readFrame, readAnswer); }, &answered);
  EXPECT_TRUE(answered);
  EXPECT_EQ(allocations, 0u);
}
