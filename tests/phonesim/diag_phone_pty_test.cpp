// A bench diagnostic phone driven over its pseudo-terminal with hand-built
// frames: identity, the code, NV reads and writes, the dump file, the reset
// that takes the port away and brings another one back.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/phonesim/diag_bytes.h"
#include "tests/phonesim/diag_host.h"
#include "tests/support/temp_dir.h"
#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/diagnostic_phone.h"
#include "tools/phonesim/generated_nv.h"

using phonesim::Bytes;

namespace {

phonesim::DiagnosticPhoneOptions At(const TempDir& dir, unsigned index) {
  phonesim::DiagnosticPhoneOptions o;
  o.benchDir = dir.path();
  o.index = index;
  o.serial = "VB" + std::to_string(1000 + index);
  o.resetDelayMs = 100;
  return o;
}

Bytes NvRead(std::uint16_t id, std::uint8_t element = 0) {
  Bytes r(133, 0);
  r[0] = 0x26;
  r[1] = static_cast<std::uint8_t>(id);
  r[2] = static_cast<std::uint8_t>(id >> 8);
  r[3] = element;
  return r;
}

Bytes NvWrite(std::uint16_t id, const Bytes& data) {
  Bytes r = NvRead(id);
  r[0] = 0x27;
  std::copy(data.begin(), data.end(), r.begin() + 3);
  return r;
}

std::uint16_t Status(const Bytes& answer) { return static_cast<std::uint16_t>(answer[131] | answer[132] << 8); }

std::string DumpLine(std::uint16_t id, std::uint16_t index, const Bytes& data) {
  static const char kHex[] = "0123456789abcdef";
  std::string line = std::to_string(id) + " " + std::to_string(index) + " ";
  for (std::size_t i = 0; i < 128; ++i) {
    std::uint8_t b = i < data.size() ? data[i] : 0;
    line += kHex[b >> 4];
    line += kHex[b & 15];
  }
  return line + "\n";
}

// Lines "ID INDEX HEX" with 256 lower-case hex digits, by id then index.
void ExpectWellFormedDump(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  std::pair<long, long> last{-1, -1};
  int lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    std::istringstream fields(line);
    long id = -1, index = -1;
    std::string hex, more;
    fields >> id >> index >> hex;
    EXPECT_TRUE(id >= 0 && id < 65536 && index >= 0) << line;
    EXPECT_EQ(hex.size(), 256u) << line;
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << line;
    EXPECT_FALSE(fields >> more) << line;
    EXPECT_LT(last, std::make_pair(id, index)) << line;
    last = {id, index};
  }
  EXPECT_GT(lines, 200);
}

const Bytes kUnlock = HexBytes("41 34 38 32 36 31 35");

}  // namespace

TEST(DiagPhonePty, IdentityCodeReadsAndWrites) {
  TempDir dir;
  phonesim::DiagnosticPhone phone(At(dir, 3));
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;
  DiagHost host(phone.portPath());
  ASSERT_TRUE(host.open());

  // The frame of the published ESN request, no leading flag; the answer has none either.
  ASSERT_TRUE(host.Send(HexBytes("01 F1 E1 7E")));
  std::optional<Bytes> esn = host.ReceiveFrame();
  ASSERT_TRUE(esn);
  EXPECT_NE((*esn)[0], 0x7E);
  std::uint32_t value = phonesim::GeneratedEsn(3);
  Bytes packet = {0x01, static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  EXPECT_EQ(*esn, phonesim::EncodeDiagFrame(packet));
  // A request with a leading flag is answered all the same.
  ASSERT_TRUE(host.Send(HexBytes("7E 00 78 F0 7E")));
  std::optional<Bytes> version = host.ReceiveFrame();
  ASSERT_TRUE(version);

  // A frame with a wrong check sequence is not answered; the next good one is.
  ASSERT_TRUE(host.Send(HexBytes("00 78 F1 7E")));
  EXPECT_FALSE(host.ReceiveFrame(std::chrono::milliseconds(200)));
  EXPECT_EQ(phone.droppedFrames(), 1);
  EXPECT_TRUE(host.Exchange(HexBytes("00")));

  // IMEI is protected until the code is accepted.
  EXPECT_EQ(host.Exchange(NvRead(550)), phonesim::DiagError(0x42, NvRead(550)));
  EXPECT_EQ(host.Exchange(HexBytes("41 30 30 30 30 30 30")), HexBytes("41 00"));
  EXPECT_EQ(host.Exchange(kUnlock), HexBytes("41 01"));
  std::optional<Bytes> imei = host.Exchange(NvRead(550));
  ASSERT_TRUE(imei);
  EXPECT_EQ(Status(*imei), 0);
  phonesim::NvValue expected = phonesim::ImeiItemValue(phonesim::GeneratedImei(3));
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), imei->begin() + 3));

  // The ESN item is read-only; an ordinary item takes the write and the dump shows it.
  std::optional<Bytes> refused = host.Exchange(NvWrite(0, {1, 2, 3, 4}));
  ASSERT_TRUE(refused);
  EXPECT_EQ(Status(*refused), 7);
  EXPECT_EQ(host.Exchange(NvWrite(0x077D, {0x7E, 0x7D, 0x5E})), NvWrite(0x077D, {0x7E, 0x7D, 0x5E}));
  Bytes stored = NvRead(0x077D);
  stored[3] = 0x7E, stored[4] = 0x7D, stored[5] = 0x5E;
  EXPECT_EQ(host.Exchange(NvRead(0x077D)), stored);
  std::string line = DumpLine(0x077D, 0, {0x7E, 0x7D, 0x5E});
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(phone.dumpPath()).find(line) != std::string::npos; }));
  ExpectWellFormedDump(ReadFile(phone.dumpPath()));
}

TEST(DiagPhonePty, ResetOnlyFromOfflineThenThePortComesBackAtTheSameIndex) {
  TempDir dir;
  phonesim::DiagnosticPhoneOptions options = At(dir, 5);
  options.resetDelayMs = 300;
  phonesim::DiagnosticPhone phone(options);
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;
  std::string firstPort = phone.portPath();
  {
    DiagHost host(firstPort);
    ASSERT_TRUE(host.open());
    EXPECT_EQ(host.Exchange(kUnlock), HexBytes("41 01"));
    EXPECT_EQ(host.Exchange(NvWrite(0x077D, {0xAB})), NvWrite(0x077D, {0xAB}));
    EXPECT_EQ(host.Exchange(HexBytes("29 02 00")), HexBytes("18 29 02 00"));
    EXPECT_EQ(host.Exchange(HexBytes("29 01 00")), HexBytes("29 01 00"));
    EXPECT_EQ(host.Exchange(HexBytes("29 02 00")), HexBytes("29 02 00"));
    // The dump is current once the reset is answered, and the port goes.
    EXPECT_NE(ReadFile(phone.dumpPath()).find(DumpLine(0x077D, 0, {0xAB})), std::string::npos);
    EXPECT_FALSE(host.ReceiveFrame(std::chrono::milliseconds(1000)));
  }
  auto state = [&] { return bench::ParsePhoneState(ReadFile(bench::StateFilePath(dir.path(), 5))); };
  ASSERT_TRUE(WaitUntil([&] { return state() && state()->mode == "gone"; }, std::chrono::seconds(2)));
  ASSERT_TRUE(WaitUntil([&] { return state() && state()->mode == "diagnostic"; }, std::chrono::seconds(5)));
  EXPECT_EQ(state()->port, phone.portPath());
  EXPECT_EQ(state()->serial, "VB1005");
  EXPECT_EQ(phone.comebacks(), 1);

  // The phone started again: online, locked, its items kept.
  DiagHost again(phone.portPath());
  ASSERT_TRUE(again.open());
  EXPECT_EQ(again.Exchange(NvRead(550))->at(0), 0x42);
  EXPECT_EQ(again.Exchange(HexBytes("29 02 00")), HexBytes("18 29 02 00"));
  std::optional<Bytes> kept = again.Exchange(NvRead(0x077D));
  ASSERT_TRUE(kept);
  EXPECT_EQ((*kept)[3], 0xAB);
}
