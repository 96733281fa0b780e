#include "download/programmer.h"

#include <gtest/gtest.h>

#include "tests/support/status_list.h"

#include "download/intel_hex.h"
#include "download/transport.h"
#include "platform/timing.h"
#include "tests/support/fake_ports.h"
#include "tests/support/hex_writer.h"
#include "tests/support/log_capture.h"

namespace {


HRESULT Parse(const std::string& text, ProgrammerImage* image) { return ParseIntelHex(text, image); }

// The bytes the simulated boot loader holds, as blocks of contiguous memory.
std::map<std::uint32_t, std::vector<unsigned char>> MemoryBlocks(const phonesim::EmergencyPhone& phone) {
  std::map<std::uint32_t, std::vector<unsigned char>> blocks;
  std::uint32_t start = 0, next = 0;
  for (const auto& [address, byte] : phone.memory()) {
    if (blocks.empty() || address != next) start = address, blocks[start];
    blocks[start].push_back(byte);
    next = address + 1;
  }
  return blocks;
}

constexpr HRESULT kBadFormat = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);

}  // namespace

TEST(IntelHex, LineEndsAndTouchingRecordsAcrossAnAddressRecord) {
  std::map<std::uint32_t, std::vector<unsigned char>> blocks = {{0x2A00FFF0, Pattern(48, 1)}, {0x2B000000, Pattern(5, 2)}};
  ProgrammerImage lf, crlf;
  ASSERT_EQ(Parse(MakeHex(blocks, 0x2A010000, "\n"), &lf), S_OK);
  ASSERT_EQ(Parse(MakeHex(blocks, 0x2A010000, "\r\n"), &crlf), S_OK);
  EXPECT_EQ(lf.blocks, crlf.blocks);
  EXPECT_EQ(lf.blocks, blocks);  // the run across 0x2A010000 is one block
  EXPECT_EQ(lf.entryPoint, 0x2A010000u);
}

TEST(IntelHex, WhatMakesAFileInvalid) {
  std::string good = MakeHex({{0x1000, Pattern(20, 3)}}, std::nullopt);
  ProgrammerImage image;
  ASSERT_EQ(Parse(good, &image), S_OK);
  EXPECT_EQ(image.entryPoint, 0u);  // no start record: jump to 0

  std::string badSum = good;
  badSum[badSum.find('\n') - 1] ^= 1;
  EXPECT_EQ(Parse(badSum, &image), kBadFormat);
  EXPECT_EQ(Parse(HexRecord(2, 0, {0x10, 0x00}) + HexRecord(1, 0, {}), &image), kBadFormat);
  EXPECT_EQ(Parse(HexRecord(3, 0, {0, 0, 0, 0}) + HexRecord(1, 0, {}), &image), kBadFormat);
  EXPECT_EQ(Parse(HexRecord(4, 1, {0x10, 0x00}), &image), kBadFormat);   // address field not 0
  EXPECT_EQ(Parse(HexRecord(5, 0, {1, 2, 3}), &image), kBadFormat);      // start record of 3 bytes
  EXPECT_EQ(Parse(HexRecord(6, 0, {}), &image), kBadFormat);
  EXPECT_EQ(Parse(good + "\n", &image), kBadFormat);                      // blank line after the last record
  EXPECT_EQ(Parse(":0000000\n", &image), kBadFormat);                     // shorter than 10 characters
  EXPECT_EQ(Parse(":00000001F#\n", &image), kBadFormat);                  // not a digit or letter
  EXPECT_EQ(Parse(":0200000001FD\n", &image), kBadFormat);                // byte count does not match
  // A record that would run past the end of the 32-bit address space.
  EXPECT_EQ(Parse(HexRecord(4, 0, {0xFF, 0xFF}) + HexRecord(0, 0xFFFC, Pattern(8, 4)), &image), kBadFormat);
}

TEST(IntelHex, EdgeCasesThatStayValid) {
  ProgrammerImage image;
  EXPECT_EQ(Parse("", &image), S_OK);
  EXPECT_TRUE(image.blocks.empty());
  EXPECT_EQ(Parse(":00000001FF0", &image), S_OK);  // a lone last digit is dropped; no final line end
  // End of file records do not stop reading; a later record under the same
  // address replaces the earlier one; overlapping blocks stay apart.
  std::string text = HexRecord(0, 0x10, {1, 2, 3, 4}) + HexRecord(1, 0, {}) + HexRecord(0, 0x10, {9, 9}) +
                     HexRecord(0, 0x11, {7, 7, 7});
  ASSERT_EQ(Parse(text, &image), S_OK);
  ASSERT_EQ(image.blocks.size(), 2u);
  EXPECT_EQ(image.blocks.at(0x10), (std::vector<unsigned char>{9, 9}));
  EXPECT_EQ(image.blocks.at(0x11), (std::vector<unsigned char>{7, 7, 7}));
  EXPECT_EQ(LoadIntelHex("/nonexistent/MPRG8660.hex", &image), kBadFormat);
}

TEST(FlashProgrammer, TheBootLoaderHoldsTheImageAndJumpsToItsEntry) {
  TempDir dir;
  std::map<std::uint32_t, std::vector<unsigned char>> blocks = {{0x2A000000, Pattern(45000, 5)}, {0x2A100000, Pattern(700, 6)}};
  WriteFile(dir / "MPRG8660.hex", MakeHex(blocks, 0x2A000000));
  phonesim::EmergencyPhoneConfig config;
  config.largestWrite = 1000;
  SimPort port(config);
  StatusList status;
  ASSERT_EQ(DownloadFlashProgrammer(dir / "MPRG8660.hex", &status, port), S_OK);
  EXPECT_EQ(MemoryBlocks(port.phone), blocks);
  EXPECT_EQ(port.phone.jumpedTo(), 0x2A000000u);
  std::vector<std::string> expected = {
      "Load programmer \"" + dir / "MPRG8660.hex" + "\"", "Send parameters command",
      "Write32 address 0x2a000000, size 20000", "Write32 address 0x2a004e20, size 20000",
      "Write32 address 0x2a009c40, size 5000", "Write32 address 0x2a100000, size 700",
      "Jump to flash programmer(0x2a000000)"};
  EXPECT_EQ(status.texts, expected);
  // 45 packets of 1000 bytes and one of 700.
  int writes = 0;
  for (const std::string& e : port.events) writes += e == "tx 0F";
  EXPECT_EQ(writes, 46);
}

TEST(FlashProgrammer, FailuresAndTheirCodes) {
  ScopedTimeScale fast(0.001);
  TempDir dir;
  WriteFile(dir / "p.hex", MakeHex({{0x100, Pattern(3000, 7)}}, 0x100));
  WriteFile(dir / "bad.hex", MakeHex({{0x100, Pattern(30, 7)}}, 0x100) + "\n");
  {
    SimPort port;
    EXPECT_EQ(DownloadFlashProgrammer(dir / "bad.hex", nullptr, port), kBadFormat);
    EXPECT_TRUE(port.events.empty());  // nothing sent
  }
  {
    phonesim::EmergencyPhoneConfig config;
    config.largestWrite = 0;
    SimPort port(config);
    EXPECT_EQ(DownloadFlashProgrammer(dir / "p.hex", nullptr, port), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_EQ(port.events, (std::vector<std::string>{"tx 07", "rx 08"}));  // no write was sent
  }
  {
    phonesim::EmergencyPhoneConfig config;
    config.faults.nakWrite = 1;  // a NAK carries a reason code: longer than the acknowledgement
    SimPort port(config);
    EXPECT_EQ(DownloadFlashProgrammer(dir / "p.hex", nullptr, port), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  }
  {
    ScriptedPort port;
    port.Answer(phonesim::EncodeFrame({0x09, 0, 0, 4, 0, 0, 0, 0}));
    EXPECT_EQ(DownloadFlashProgrammer(dir / "p.hex", nullptr, port), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
  }
  {
    ScriptedPort port;
    port.Answer(phonesim::EncodeFrame({0x08, 0, 0, 4, 0, 0, 0, 0}));
    port.Answer(phonesim::EncodeFrame({0x03}));  // a one-byte answer that is not 02
    LogCapture log;
    EXPECT_EQ(DownloadFlashProgrammer(dir / "p.hex", nullptr, port), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
    EXPECT_EQ(log.Count("DownloadFlashProgrammer("), 1);
  }
  {
    phonesim::EmergencyPhoneConfig config;
    config.faults.answerCode[0x05] = 0x03;  // the go is answered, but not acknowledged
    SimPort port(config);
    EXPECT_EQ(DownloadFlashProgrammer(dir / "p.hex", nullptr, port), HRESULT_FROM_WIN32(ERROR_INVALID_STATE));
    EXPECT_EQ(port.events.back(), "rx 03");
  }
  for (auto [length, expected] : {std::pair{size_t{7}, HRESULT_FROM_WIN32(ERROR_BAD_LENGTH)},
                                  std::pair{size_t{9}, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)}}) {
    phonesim::EmergencyPhoneConfig config;
    config.faults.parameterResponseLength = length;
    SimPort port(config);
    EXPECT_EQ(DownloadFlashProgrammer(dir / "p.hex", nullptr, port), expected) << length;
    EXPECT_EQ(port.events, (std::vector<std::string>{"tx 07", "rx 08"})) << length;
  }
  {
    phonesim::LinkFaults link;
    link.silenceAfterFrames = 2;
    SimPort port({}, link);
    LogCapture log;
    EXPECT_EQ(DownloadFlashProgrammer(dir / "p.hex", nullptr, port), kReadTimeout);
    EXPECT_EQ(log.Count("ReceivePacket("), 11);
    EXPECT_EQ(log.Count("DownloadFlashProgrammer("), 1);  // traced once at this level
  }
}
