// A bench Sahara/Firehose phone driven over its pseudo-terminal as a host
// would: HELLO on open, the programmer upload, the programmer's start-up
// logs, a configure and a program landing in the LUN file, the power reset
// that takes the phone away and brings its boot ROM back at the same port;
// and a phone that vanishes mid-write.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>

#include "tests/phonesim/sahara_programmer.h"
#include "tests/support/temp_dir.h"
#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/sahara_phone.h"

using phonesim::Bytes;

namespace {

using Clock = std::chrono::steady_clock;

class Host {
 public:
  explicit Host(const std::string& port) {
    fd_ = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
  }
  ~Host() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // Every byte, as a host must on a serial line that takes a write in parts.
  bool Write(const Bytes& b) {
    std::size_t done = 0;
    while (done < b.size()) {
      ssize_t n = ::write(fd_, b.data() + done, b.size() - done);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool Write(const std::string& s) { return Write(Bytes(s.begin(), s.end())); }
  // Exactly n bytes, or what came before the deadline.
  Bytes Read(std::size_t n, int ms = 3000) {
    Bytes out;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < n && Clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if (p.revents & (POLLHUP | POLLERR)) break;
      std::uint8_t b[4096];
      ssize_t got = ::read(fd_, b, std::min(sizeof b, n - out.size()));
      if (got <= 0) break;
      out.insert(out.end(), b, b + got);
    }
    return out;
  }
  // Text up to and including `until`.
  std::string ReadUntil(const std::string& until, int ms = 3000) {
    std::string text;
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (text.find(until) == std::string::npos && Clock::now() < deadline) {
      Bytes b = Read(1, 50);
      text.append(b.begin(), b.end());
    }
    return text;
  }

 private:
  int fd_ = -1;
};

// Serves the ROM's requests until it ends the image; returns END_IMAGE_TX's status.
int Upload(Host& host, const Bytes& file) {
  host.Write(kSaharaHelloResp);
  for (;;) {
    Bytes header = host.Read(8);
    if (header.size() < 8) return -1;
    std::size_t length = header[4];
    Bytes body = host.Read(length - 8);
    header.insert(header.end(), body.begin(), body.end());
    auto u64 = [&](int at) {
      std::uint64_t v = 0;
      for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(header[at + i]) << (8 * i);
      return v;
    };
    if (header[0] == 0x04) return header[12];
    if (header[0] != 0x12) return -2;
    host.Write(Bytes(file.begin() + static_cast<std::ptrdiff_t>(u64(16)),
                     file.begin() + static_cast<std::ptrdiff_t>(u64(16) + u64(24))));
  }
}

template <class Predicate>
bool WaitFor(Predicate done, int ms = 3000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!done() && Clock::now() < deadline) ::usleep(2000);
  return done();
}

phonesim::SaharaPhoneOptions Options(const TempDir& dir) {
  phonesim::SaharaPhoneOptions o;
  o.benchDir = dir.path();
  o.index = 5;
  o.lunBytes = 1 << 20;
  o.resetDelayMs = 100;
  return o;
}

std::string ModeOf(const TempDir& dir) {
  for (const auto& s : bench::ReadBench(dir.path()))
    if (s.index == 5) return s.mode;
  return "";
}

}  // namespace

TEST(SaharaPhonePtyTest, LoadsTheProgrammerWritesItsLunAndComesBackAfterAPowerReset) {
  TempDir dir;
  phonesim::PtySaharaPhone phone(Options(dir));
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;
  EXPECT_EQ(ModeOf(dir), "emergency");
  {
    Host host(phone.portPath());
    ASSERT_TRUE(host.ok());
    Bytes hello = host.Read(48);
    ASSERT_EQ(hello.size(), 48u);
    EXPECT_EQ(hello[0], 0x01);
    ASSERT_EQ(Upload(host, SyntheticProgrammer()), 0);
    host.Write(HexBytes("05 00 00 00 08 00 00 00"));
    EXPECT_EQ(host.Read(12), HexBytes("06 00 00 00 0c 00 00 00 01 00 00 00"));
    EXPECT_NE(host.ReadUntil("End of supported functions 9\" /></data>").find("Device Programmer Entry"), std::string::npos);
    host.Write("<?xml version=\"1.0\" ?><data><configure MemoryName=\"emmc\" MaxPayloadSizeToTargetInBytes=\"1048576\" /></data>");
    EXPECT_NE(host.ReadUntil("TargetName=\"VBENCH\" /></data>").find("value=\"ACK\""), std::string::npos);
    host.Write("<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"512\" num_partition_sectors=\"8\" "
               "physical_partition_number=\"0\" start_sector=\"10\" /></data>");
    EXPECT_NE(host.ReadUntil("rawmode=\"true\" /></data>").find("ACK"), std::string::npos);
    host.Write(std::string(4096, 'z'));
    EXPECT_NE(host.ReadUntil("rawmode=\"false\" /></data>").find("ACK"), std::string::npos);
    host.Write("<?xml version=\"1.0\" ?><data><power value=\"reset\" /></data>");
    EXPECT_NE(host.ReadUntil("</data>").find("ACK"), std::string::npos);
    EXPECT_TRUE(WaitFor([&] { return phone.resets() == 1; }));
  }
  std::ifstream lun(phone.LunPath(0), std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(lun)), std::istreambuf_iterator<char>());
  ASSERT_EQ(content.size(), 1u << 20);
  EXPECT_EQ(content.substr(10 * 512, 4096), std::string(4096, 'z'));
  EXPECT_EQ(content.substr(10 * 512 - 1, 1), std::string(1, '\0'));

  ASSERT_TRUE(WaitFor([&] { return ModeOf(dir) == "emergency"; }));
  Host again(phone.portPath());
  Bytes hello = again.Read(48);
  ASSERT_EQ(hello.size(), 48u) << "the boot ROM says HELLO again after the reset";
  EXPECT_EQ(hello[0], 0x01);
}

TEST(SaharaPhonePtyTest, AHostThatProbesLikeDmssGetsHelloAndAVanishingPhoneHangsUp) {
  TempDir dir;
  phonesim::SaharaPhoneOptions options = Options(dir);
  options.helloOnce = true;
  options.firehose.vanishAfterBytes = 1000;
  phonesim::PtySaharaPhone phone(options);
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;
  {  // a first open reads HELLO and goes away without answering
    Host first(phone.portPath());
    ASSERT_EQ(first.Read(48).size(), 48u);
  }
  Host host(phone.portPath());
  EXPECT_TRUE(host.Read(48, 300).empty()) << "HELLO only at the first open";
  host.Write(HexBytes("7e 06 4e 95 7e"));
  Bytes hello = host.Read(48);
  ASSERT_EQ(hello.size(), 48u);
  ASSERT_EQ(Upload(host, SyntheticProgrammer()), 0);
  host.Write(HexBytes("05 00 00 00 08 00 00 00"));
  host.ReadUntil("End of supported functions 9\" /></data>");
  host.Write("<?xml version=\"1.0\" ?><data><configure MemoryName=\"emmc\" MaxPayloadSizeToTargetInBytes=\"4096\" /></data>");
  host.ReadUntil("TargetName=\"VBENCH\" /></data>");
  host.Write("<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"512\" num_partition_sectors=\"8\" "
             "start_sector=\"0\" /></data>");
  host.ReadUntil("rawmode=\"true\" /></data>");
  host.Write(std::string(4096, 'v'));
  EXPECT_TRUE(WaitFor([&] { return phone.gone(); }));
  EXPECT_TRUE(WaitFor([&] { return ModeOf(dir) == "gone"; }));
}

TEST(SaharaPhonePtyTest, AnUnsignedProgrammerIsRefusedAndASilentRomSaysNothing) {
  TempDir dir;
  phonesim::SaharaPhoneOptions options = Options(dir);
  options.rom.unsigned_ = true;
  phonesim::PtySaharaPhone phone(options);
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;
  Host host(phone.portPath());
  ASSERT_EQ(host.Read(48).size(), 48u);
  EXPECT_EQ(Upload(host, SyntheticProgrammer()), 0x25);

  TempDir quietDir;
  phonesim::SaharaPhoneOptions quiet = Options(quietDir);
  quiet.silent = true;
  phonesim::PtySaharaPhone silent(quiet);
  ASSERT_TRUE(silent.Start(&error)) << error;
  Host nobody(silent.portPath());
  nobody.Write(HexBytes("7e 06 4e 95 7e"));
  EXPECT_TRUE(nobody.Read(1, 300).empty());
}
