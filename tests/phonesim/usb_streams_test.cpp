// The phone side of the USB transport's relay: the streams it carries
// between a phone's own transport and its FunctionFS endpoints. Over USB a
// fastboot message is one transfer, over TCP it carries a length; the relay
// ends when the phone leaves its transport (a reset, a reboot).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tools/phonesim/fastboot_phone.h"
#include "tools/phonesim/pty_phone.h"
#include "tools/phonesim/usb_relay.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The next chunk the phone sends, "" when none came within 5 s; *left is
// set when the phone left its transport instead.
std::string NextChunk(phonesim::PhoneStream& stream, bool* left = nullptr) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  Bytes chunk;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!stream.Read(&chunk)) {
      if (left) *left = true;
      return "";
    }
    if (!chunk.empty()) return std::string(chunk.begin(), chunk.end());
  }
  return "";
}

bool Send(phonesim::PhoneStream& stream, const std::string& text) {
  return stream.Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(UsbStreams, AFastbootConversationCrossesTheFramingBothWaysUntilTheReboot) {
  phonesim::FastbootPhoneOptions options;
  options.serial = "VB2001";
  phonesim::TcpFastbootPhone phone(options);
  ASSERT_TRUE(phone.Start(nullptr));
  std::string error;
  auto stream = phonesim::OpenFastbootStream(phone.identifier(), &error);
  ASSERT_TRUE(stream) << error;

  ASSERT_TRUE(Send(*stream, "getvar:serialno"));
  EXPECT_EQ(NextChunk(*stream), "OKAYVB2001");
  // The data of a download arrives in transfers of any size.
  ASSERT_TRUE(Send(*stream, "download:0000000a"));
  EXPECT_EQ(NextChunk(*stream), "DATA0000000a");
  ASSERT_TRUE(Send(*stream, "01234"));
  ASSERT_TRUE(Send(*stream, "56789"));
  EXPECT_EQ(NextChunk(*stream), "OKAY");
  ASSERT_TRUE(Send(*stream, "flash:boot"));
  EXPECT_EQ(NextChunk(*stream), "INFOwriting 'boot'");
  EXPECT_EQ(NextChunk(*stream), "OKAY");
  Bytes boot = phone.partitions()["boot"];
  EXPECT_EQ(std::string(boot.begin(), boot.end()), "0123456789");

  ASSERT_TRUE(Send(*stream, "reboot"));
  EXPECT_EQ(NextChunk(*stream), "OKAY");
  bool left = false;
  NextChunk(*stream, &left);
  EXPECT_TRUE(left) << "the relay would keep the rebooted phone on the bus";
}

// A peer that greets and then announces a message longer than any answer.
TEST(UsbStreams, AFastbootMessageLongerThanAnyAnswerEndsTheStream) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::thread peer([listener] {
    int fd = ::accept(listener, nullptr, nullptr);
    char greeting[4];
    if (::recv(fd, greeting, 4, MSG_WAITALL) == 4 && ::send(fd, "FB01", 4, 0) == 4) {
      const std::uint8_t head[8] = {0, 0, 0, 1, 0, 0, 0, 0};
      ::send(fd, head, sizeof head, 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::close(fd);
  });
  auto stream = phonesim::OpenFastbootStream("tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port)), nullptr);
  ASSERT_TRUE(stream);
  Bytes chunk;
  EXPECT_FALSE(stream->Read(&chunk));
  EXPECT_TRUE(chunk.size() <= (1u << 20));
  peer.join();
  ::close(listener);
}

TEST(UsbStreams, ThePtyStreamSeesAnEmergencyPhoneLeaveItsPort) {
  TempDir dir;
  phonesim::BenchPhoneOptions options;
  options.benchDir = dir.path();
  phonesim::PtyEmergencyPhone phone(options);
  ASSERT_TRUE(phone.Start(nullptr));
  std::string error;
  auto stream = phonesim::OpenPtyStream(phone.portPath(), &error);
  ASSERT_TRUE(stream) << error;
  Bytes chunk;
  EXPECT_TRUE(stream->Read(&chunk)) << "a quiet phone is still there";
  phone.Stop();
  bool left = false;
  NextChunk(*stream, &left);
  EXPECT_TRUE(left);
}

}  // namespace
