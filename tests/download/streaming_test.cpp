#include "download/streaming.h"

#include <gtest/gtest.h>

#include "tests/support/status_list.h"

#include "download/transport.h"
#include "platform/timing.h"
#include "tests/support/fake_ports.h"
#include "tests/support/hex_writer.h"
#include "tests/support/log_capture.h"

namespace {


// The programmer stage, already running on the simulated phone.
class Streaming : public ::testing::Test {
 protected:
  SimPort& Phone(phonesim::EmergencyPhoneConfig config = {}, phonesim::LinkFaults link = {}) {
    config.startInProgrammer = true;
    port_ = std::make_unique<SimPort>(config, link);
    return *port_;
  }
  std::string Image(size_t size, unsigned seed = 9) {
    WriteFile(dir / "8660_msimage.mbn", std::string(reinterpret_cast<const char*>(Pattern(size, seed).data()), size));
    return dir / "8660_msimage.mbn";
  }
  std::vector<std::string> Writes() const {
    std::vector<std::string> out;
    for (const std::string& e : port_->events) {
      if (e.rfind("tx 07@", 0) == 0 || e.rfind("rx 08@", 0) == 0) out.push_back(e);
    }
    return out;
  }
  TempDir dir;
  std::unique_ptr<SimPort> port_;
};

}  // namespace

TEST_F(Streaming, TheEmmcHoldsTheBootImageAfterAWholeRun) {
  phonesim::EmergencyPhoneConfig config;
  config.block = 16;
  config.faults.logPacketsBeforeSecurity = 3;
  SimPort& port = Phone(config);
  std::string image = Image(16 * 100 + 7);
  StatusList status;
  ASSERT_EQ(DownloadMiniKernel(image, &status, port), S_OK);
  EXPECT_EQ(port.phone.emmc(), Pattern(1607, 9));
  EXPECT_TRUE(port.phone.trusted());
  EXPECT_EQ(port.phone.stage(), phonesim::EmergencyPhone::Stage::Reset);
  std::vector<std::string> expected = {"Open boot file \"" + image + "\"",
                                       "Send hello command 0",
                                       "Enable trusted security mode",
                                       "Open EMMC card USER partition",
                                       "StreamWrite address 00000000, size 320",
                                       "StreamWrite address 0x000280, size 320",
                                       "StreamWrite address 0x000500, size 320",
                                       "ReadPacket address 00000000, size 320",
                                       "ReadPacket address 0x000280, size 320",
                                       "ReadPacket address 0x000500, size 320",
                                       "Close EMMC card USER partition",
                                       "Reboot to mini kernel"};
  EXPECT_EQ(status.texts, expected);
  // The short last block goes out as a shorter write and a shorter read.
  EXPECT_EQ(port.events.back(), "rx 0C");
  EXPECT_NE(std::find(port.events.begin(), port.events.end(), "tx 07@00000640"), port.events.end());
}

TEST_F(Streaming, TheLargestBlockThatARequestCanName) {
  phonesim::EmergencyPhoneConfig config;
  config.block = 65535;
  SimPort& port = Phone(config);
  ASSERT_EQ(DownloadMiniKernel(Image(65535 + 10), nullptr, port), S_OK);
  EXPECT_EQ(port.phone.emmc(), Pattern(65545, 9));
}

TEST_F(Streaming, AWindowOfOneWaitsForEachAcknowledgement) {
  phonesim::EmergencyPhoneConfig config;
  config.block = 64;
  config.window = 1;
  SimPort& port = Phone(config);
  ASSERT_EQ(DownloadMiniKernel(Image(64 * 3), nullptr, port), S_OK);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"tx 07@00000000", "rx 08@00000000", "tx 07@00000040", "rx 08@00000040",
                                                "tx 07@00000080", "rx 08@00000080"}));
}

TEST_F(Streaming, AWindowOfThreeWithFiveBlocks) {
  phonesim::EmergencyPhoneConfig config;
  config.block = 64;
  config.window = 3;
  SimPort& port = Phone(config);
  ASSERT_EQ(DownloadMiniKernel(Image(64 * 4 + 10), nullptr, port), S_OK);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"tx 07@00000000", "tx 07@00000040", "tx 07@00000080",
                                                "rx 08@00000000", "tx 07@000000C0", "rx 08@00000040",
                                                "tx 07@00000100", "rx 08@00000080", "rx 08@000000C0",
                                                "rx 08@00000100"}));
}

TEST_F(Streaming, HelloFaultsFailBeforeAnyWrite) {
  struct Case {
    const char* what;
    phonesim::ProtocolFaults faults;
    HRESULT expected;
  };
  std::vector<Case> cases(6);
  cases[0] = {"wrong magic", {}, HRESULT_FROM_WIN32(ERROR_REVISION_MISMATCH)};
  cases[0].faults.wrongHelloMagic = true;
  cases[1] = {"N = 0", {}, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)};
  cases[1].faults.announcedBlock = 0;
  cases[2] = {"N huge", {}, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)};
  cases[2].faults.announcedBlock = 0x7FFFFFFF;
  cases[3] = {"W = 0", {}, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)};
  cases[3].faults.announcedWindow = 0;
  cases[4] = {"too short for the window", {}, HRESULT_FROM_WIN32(ERROR_BAD_FORMAT)};
  cases[4].faults.shortHello = true;
  cases[5] = {"N past the 2-byte length of a read request", {}, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)};
  cases[5].faults.announcedBlock = 65536;
  for (const Case& c : cases) {
    phonesim::EmergencyPhoneConfig config;
    config.faults = c.faults;
    SimPort& port = Phone(config);
    EXPECT_EQ(DownloadMiniKernel(Image(5000), nullptr, port), c.expected) << c.what;
    EXPECT_EQ(port.events, (std::vector<std::string>{"tx 01", "rx 02"})) << c.what;
  }
}

TEST_F(Streaming, LaterFaultsAndTheirCodes) {
  ScopedTimeScale fast(0.001);
  struct Case {
    const char* what;
    phonesim::ProtocolFaults faults;
    HRESULT expected;
  };
  constexpr HRESULT kInvalidState = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  std::vector<Case> cases(11);
  cases[0] = {"acknowledgement names another block", {}, kInvalidState};
  cases[0].faults.misaddressAck = 0;
  cases[1] = {"read-back differs", {}, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)};
  cases[1].faults.corruptReadBack = true;
  cases[2] = {"open refused", {}, HRESULT_FROM_WIN32(ERROR_OPEN_FAILED)};
  cases[2].faults.refuseOpen = true;
  cases[3] = {"security answer", {}, kInvalidState};
  cases[3].faults.answerCode[0x17] = 0x19;
  cases[4] = {"open answer", {}, kInvalidState};
  cases[4].faults.answerCode[0x1B] = 0x1D;
  cases[5] = {"close answer", {}, kInvalidState};
  cases[5].faults.answerCode[0x15] = 0x17;
  cases[6] = {"reset answer", {}, kInvalidState};
  cases[6].faults.answerCode[0x0B] = 0x0D;
  cases[7] = {"read response of another address", {}, kInvalidState};
  cases[7].faults.misaddressRead = 3;
  cases[8] = {"acknowledgement of the drain with another code", {}, kInvalidState};
  cases[8].faults.wrongAckCode = 7;  // the last of 8 blocks: acknowledged in the drain
  cases[9] = {"windowed acknowledgement with another code", {}, kInvalidState};
  cases[9].faults.wrongAckCode = 0;
  cases[10] = {"read-back differs in the last byte of each block only", {}, HRESULT_FROM_WIN32(ERROR_INVALID_DATA)};
  cases[10].faults.corruptLastReadByte = true;
  for (const Case& c : cases) {
    phonesim::EmergencyPhoneConfig config;
    config.block = 256;
    config.window = 2;
    config.faults = c.faults;
    LogCapture log;
    EXPECT_EQ(DownloadMiniKernel(Image(2000), nullptr, Phone(config)), c.expected) << c.what;
    EXPECT_EQ(log.Count("DownloadMiniKernel("), 1) << c.what;
  }
}

TEST_F(Streaming, ASilentProgrammerIsGivenUpAfterSixtyOneHellos) {
  ScopedTimeScale fast(0.0001);
  phonesim::LinkFaults link;
  link.silenceAfterFrames = 0;
  SimPort& port = Phone({}, link);
  StatusList status;
  EXPECT_EQ(DownloadMiniKernel(Image(100), &status, port), HRESULT_FROM_WIN32(ERROR_NOT_READY));
  EXPECT_EQ(status.texts.size(), 62u);
  EXPECT_EQ(status.texts.back(), "Send hello command 60");
}

TEST_F(Streaming, AHelloAnsweredWithAnotherCodeIsGivenUpAfterSixtyOneAttempts) {
  ScopedTimeScale fast(0.0001);
  phonesim::EmergencyPhoneConfig config;
  config.faults.answerCode[0x01] = 0x03;
  SimPort& port = Phone(config);
  EXPECT_EQ(DownloadMiniKernel(Image(100), nullptr, port), HRESULT_FROM_WIN32(ERROR_NOT_READY));
  EXPECT_EQ(std::count(port.events.begin(), port.events.end(), "tx 01"), 61);
  EXPECT_EQ(std::count_if(port.events.begin(), port.events.end(), [](const std::string& e) { return e.rfind("rx 03", 0) == 0; }),
            61);
  EXPECT_EQ(port.events.size(), 122u);  // nothing but hellos
}

TEST_F(Streaming, AnEmptyOrMissingBootImageSendsNothing) {
  SimPort& port = Phone();
  WriteFile(dir / "empty.mbn", "");
  EXPECT_EQ(DownloadMiniKernel(dir / "empty.mbn", nullptr, port), HRESULT_FROM_WIN32(ERROR_FILE_INVALID));
  EXPECT_EQ(DownloadMiniKernel(dir / "missing.mbn", nullptr, port), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(port.events.empty());
}

TEST(HelloResponse, DecodesTheFieldsAroundTheFlashIdentification) {
  phonesim::EmergencyPhoneConfig config;
  config.block = 0xFEDC;
  config.window = 7;
  config.flashId = "abc";
  phonesim::EmergencyPhone phone(config);
  phone.Handle({0x05, 0, 0, 0, 0});
  phonesim::Bytes hello = {0x01};
  std::string host = "QCOM fast download protocol host";
  hello.insert(hello.end(), host.begin(), host.end());
  hello.insert(hello.end(), {3, 3, 9});
  auto reply = phone.Handle(hello).at(0);
  HelloParameters p;
  ASSERT_EQ(DecodeHelloResponse(reply.data(), reply.size(), &p), S_OK);
  EXPECT_EQ(p.largestBlock, 0xFEDCu);
  EXPECT_EQ(p.window, 7);
  EXPECT_EQ(DecodeHelloResponse(reply.data(), 44 + 3 + 1, &p), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
  EXPECT_EQ(DecodeHelloResponse(reply.data(), 10, &p), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
}

// A phone resets once it has acknowledged, and a real kernel may take the
// port and the acknowledgement in it away before the host reads it: the
// port vanishing after the reset request is the reset taken. Vanishing one
// answer earlier, at the close, is still a failure.
TEST_F(Streaming, APortThatVanishesWithTheResetsAcknowledgementIsTheResetTaken) {
  phonesim::EmergencyPhoneConfig config;
  config.block = 16;
  constexpr int kAnswersBeforeReset = 10;  // hello, security, open, 3 writes, 3 reads, close
  for (int vanishAt : {kAnswersBeforeReset, kAnswersBeforeReset - 1}) {
    phonesim::LinkFaults link;
    link.vanishAfterFrames = vanishAt;
    SimPort& port = Phone(config, link);
    HRESULT expected = vanishAt == kAnswersBeforeReset ? S_OK : HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(DownloadMiniKernel(Image(48), nullptr, port), expected) << vanishAt;
    EXPECT_EQ(port.phone.emmc(), Pattern(48, 9)) << vanishAt;
  }
}
