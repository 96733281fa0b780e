// The phone side of the USB transport's relay: the streams it carries
// between a phone and its FunctionFS endpoints. Over USB a fastboot message
// is one transfer, over TCP it carries a length; a Sahara phone's boot is
// fed straight from the endpoints; the relay ends when the phone leaves its
// transport (a reset, a reboot).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/phonesim/sahara_programmer.h"
#include "tests/support/temp_dir.h"
#include "tools/phonesim/fastboot_phone.h"
#include "tools/phonesim/pty_phone.h"
#include "tools/phonesim/sahara_stream.h"
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

// A Sahara phone on its stream, with its LUN file.
struct SaharaBoot {
  explicit SaharaBoot(phonesim::SaharaPhoneOptions o) : options(std::move(o)) {
    options.benchDir = dir.path();
    options.lunBytes = 1 << 20;
    std::string error;
    EXPECT_TRUE(phonesim::OpenSaharaLuns(options, &store, &error)) << error;
    session = std::make_unique<phonesim::SaharaSession>(options, store);
    stream = std::make_unique<phonesim::SaharaStream>(*session);
  }
  bool Send(const Bytes& b) { return stream->Write(b.data(), b.size()); }
  Bytes Next() {
    std::string chunk = NextChunk(*stream);
    return Bytes(chunk.begin(), chunk.end());
  }
  // HELLO and its answer, the programmer served piece by piece; the packet
  // that ended the requests.
  Bytes Upload() {
    Bytes hello = Next();
    EXPECT_EQ(hello.size(), 48u);
    Send(kSaharaHelloResp);
    const Bytes programmer = SyntheticProgrammer();
    for (int request = 0; request < 16; ++request) {
      Bytes packet = Next();
      if (packet.size() != 32 || packet[0] != 0x12) return packet;
      auto u64 = [&](int at) {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(packet[at + i]) << (8 * i);
        return v;
      };
      if (u64(16) + u64(24) > programmer.size()) return packet;
      stream->Write(programmer.data() + u64(16), u64(24));
    }
    return {};
  }
  // Upload, DONE and the programmer's start-up logs, one transfer each.
  void StartProgrammer() {
    ASSERT_EQ(Upload(), HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 00 00 00 00"));
    Send(HexBytes("05 00 00 00 08 00 00 00"));
    ASSERT_EQ(Next(), HexBytes("06 00 00 00 0c 00 00 00 01 00 00 00"));
    for (int log = 0; log < 4; ++log) {
      std::string document = NextChunk(*stream);
      EXPECT_EQ(document.rfind("<?xml", 0), 0u) << document;
      EXPECT_EQ(document.find("</data>"), document.size() - 7) << "one document a transfer: " << document;
    }
  }
  // The chunks up to the one holding a response.
  std::string Response() {
    std::string all;
    for (int chunk = 0; chunk < 8 && all.find("<response") == std::string::npos; ++chunk) all += NextChunk(*stream);
    return all;
  }

  TempDir dir;
  phonesim::SaharaPhoneOptions options;
  phonesim::LunStore store;
  std::unique_ptr<phonesim::SaharaSession> session;
  std::unique_ptr<phonesim::SaharaStream> stream;
};

const std::string kConfigure =
    "<?xml version=\"1.0\" ?><data><configure MemoryName=\"emmc\" MaxPayloadSizeToTargetInBytes=\"1048576\" /></data>";
const std::string kProgram =
    "<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"512\" num_partition_sectors=\"8\" "
    "physical_partition_number=\"0\" start_sector=\"10\" /></data>";

// HELLO goes out before the host says anything (on USB it waits on the IN
// endpoint for the host's driver); a program's raw data is announced so the
// relay may read it in large pieces; after the power reset's ACK the phone
// leaves the bus.
TEST(UsbStreams, ASaharaPhoneIsFlashedOverItsStreamAndLeavesAfterItsPowerReset) {
  SaharaBoot phone{phonesim::SaharaPhoneOptions{}};
  ASSERT_NO_FATAL_FAILURE(phone.StartProgrammer());
  EXPECT_EQ(phone.stream->Awaited(), 0u);
  ASSERT_TRUE(Send(*phone.stream, kConfigure));
  EXPECT_NE(phone.Response().find("value=\"ACK\""), std::string::npos);
  ASSERT_TRUE(Send(*phone.stream, kProgram));
  EXPECT_NE(phone.Response().find("rawmode=\"true\""), std::string::npos);
  EXPECT_EQ(phone.stream->Awaited(), 4096u);
  ASSERT_TRUE(Send(*phone.stream, std::string(1000, 'p')));
  EXPECT_EQ(phone.stream->Awaited(), 3096u);
  ASSERT_TRUE(Send(*phone.stream, std::string(3096, 'p')));
  EXPECT_EQ(phone.stream->Awaited(), 0u);
  EXPECT_NE(phone.Response().find("value=\"ACK\" rawmode=\"false\""), std::string::npos);
  std::string sectors(4098, '\0');
  ASSERT_TRUE(phone.store.Read(0, 10 * 512 - 1, reinterpret_cast<std::uint8_t*>(sectors.data()), sectors.size()));
  EXPECT_EQ(sectors, std::string(1, '\0') + std::string(4096, 'p') + std::string(1, '\0'));

  ASSERT_TRUE(Send(*phone.stream, "<?xml version=\"1.0\" ?><data><power value=\"reset\" /></data>"));
  EXPECT_NE(phone.Response().find("value=\"ACK\""), std::string::npos) << "the ACK leaves before the phone";
  bool left = false;
  NextChunk(*phone.stream, &left);
  EXPECT_TRUE(left);
}

// The ROM gives up on a request the host never answers, and says so on its
// own; a phone that vanishes mid-write leaves without a word.
TEST(UsbStreams, ASaharaStreamTimesOutAnUnansweredRequestAndEndsWhenThePhoneVanishes) {
  phonesim::SaharaPhoneOptions quick;
  quick.dataTimeoutMs = 100;
  SaharaBoot waiting(quick);
  ASSERT_EQ(waiting.Next().size(), 48u);
  waiting.Send(kSaharaHelloResp);
  ASSERT_EQ(waiting.Next().size(), 32u) << "the first READ_DATA_64";
  EXPECT_EQ(waiting.Next(), HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 16 00 00 00")) << "receive time-out";

  phonesim::SaharaPhoneOptions vanishing;
  vanishing.firehose.vanishAfterBytes = 1000;
  SaharaBoot phone(vanishing);
  ASSERT_NO_FATAL_FAILURE(phone.StartProgrammer());
  ASSERT_TRUE(Send(*phone.stream, kConfigure));
  phone.Response();
  ASSERT_TRUE(Send(*phone.stream, kProgram));
  phone.Response();
  ASSERT_TRUE(Send(*phone.stream, std::string(4096, 'v')));
  bool left = false;
  EXPECT_EQ(NextChunk(*phone.stream, &left), "");
  EXPECT_TRUE(left);
  EXPECT_TRUE(phone.session->vanished());
}

}  // namespace
