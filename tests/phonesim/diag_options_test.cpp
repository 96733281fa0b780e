// vantor-phonesim's diagnostic-phone options, each observed on the port or
// in the bench folder.
#include <gtest/gtest.h>

#include <memory>

#include "process/command_line.h"
#include "process/executor.h"
#include "tests/phonesim/diag_bytes.h"
#include "tests/phonesim/diag_host.h"
#include "tests/phonesim/gsf_qcn_writer.h"
#include "tests/support/temp_dir.h"
#include "tools/bench_state/bench_state.h"

using phonesim::Bytes;

namespace {

class DiagOptions : public ::testing::Test {
 protected:
  // A bench of `phones` diagnostic phones (indexes 1..) with `options`;
  // false when phone 1 was not published in time.
  bool StartBench(const std::string& options, int phones = 1) {
    bench_ = std::make_unique<CAutoExecutor>(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(dir.path()) +
                                             " --phones 0 --diagnostic-phones " + std::to_string(phones) + " " + options);
    return WaitUntil([&] { return Port(phones) != ""; });
  }
  std::optional<bench::PhoneState> State(unsigned index) {
    return bench::ParsePhoneState(ReadFile(bench::StateFilePath(dir.path(), index)));
  }
  std::string Port(unsigned index) {
    auto s = State(index);
    return s && s->mode == "diagnostic" ? s->port : "";
  }
  std::string Dump(unsigned index) { return ReadFile(dir / ("nv-" + std::to_string(index) + ".txt")); }

  TempDir dir;
  std::unique_ptr<CAutoExecutor> bench_;
};

Bytes NvPacket(std::uint8_t command, std::uint16_t id, std::uint8_t first = 0) {
  Bytes r(133, 0);
  r[0] = command;
  r[1] = static_cast<std::uint8_t>(id);
  r[2] = static_cast<std::uint8_t>(id >> 8);
  r[3] = first;
  return r;
}

std::uint16_t Status(const std::optional<Bytes>& answer) {
  return answer && answer->size() == 133 ? static_cast<std::uint16_t>((*answer)[131] | (*answer)[132] << 8) : 0xFFFF;
}

const Bytes kVersion = HexBytes("00");
const Bytes kUnlock = HexBytes("41 34 38 32 36 31 35");
constexpr std::uint16_t kOrdinaryItem = 1;  // a generated item neither protected nor read-only

}  // namespace

TEST_F(DiagOptions, SilenceAfterK) {
  ASSERT_TRUE(StartBench("--diag-silence-after 3"));
  DiagHost host(Port(1));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(host.Exchange(kVersion)) << i;
  EXPECT_FALSE(host.Exchange(kVersion, std::chrono::milliseconds(300)));
  EXPECT_FALSE(host.Exchange(kUnlock, std::chrono::milliseconds(300)));
}

TEST_F(DiagOptions, CorruptCheckSequenceFromTheKthAnswer) {
  ASSERT_TRUE(StartBench("--diag-corrupt-fcs 2"));
  DiagHost host(Port(1));
  EXPECT_EQ(host.Exchange(HexBytes("29 01 00")), HexBytes("29 01 00"));
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(host.Send(phonesim::EncodeDiagFrame(HexBytes("29 01 00"))));
    std::optional<Bytes> frame = host.ReceiveFrame();
    ASSERT_TRUE(frame);  // an answer comes, with the right packet and a wrong check sequence
    EXPECT_EQ(Bytes(frame->begin(), frame->begin() + 3), HexBytes("29 01 00"));
    EXPECT_NE(*frame, HexBytes("29 01 00 31 40 7E"));
  }
}

TEST_F(DiagOptions, RefusedCodeKeepsProtectedItemsLocked) {
  ASSERT_TRUE(StartBench("--diag-refuse-spc"));
  DiagHost host(Port(1));
  EXPECT_EQ(host.Exchange(kUnlock), HexBytes("41 00"));
  std::optional<Bytes> imei = host.Exchange(NvPacket(0x26, 550));
  ASSERT_TRUE(imei);
  EXPECT_EQ((*imei)[0], 0x42);
}

TEST_F(DiagOptions, OwnCodeReplacesTheDefault) {
  ASSERT_TRUE(StartBench("--spc 000000"));
  DiagHost host(Port(1));
  EXPECT_EQ(host.Exchange(kUnlock), HexBytes("41 00"));
  EXPECT_EQ(host.Exchange(HexBytes("41 30 30 30 30 30 30")), HexBytes("41 01"));
  EXPECT_EQ(Status(host.Exchange(NvPacket(0x26, 550))), 0);
}

TEST_F(DiagOptions, BusyForTheFirstNRequests) {
  ASSERT_TRUE(StartBench("--diag-busy 2"));
  DiagHost host(Port(1));
  EXPECT_EQ(Status(host.Exchange(NvPacket(0x26, kOrdinaryItem))), 1);
  EXPECT_EQ(Status(host.Exchange(NvPacket(0x27, kOrdinaryItem, 0x99))), 1);
  EXPECT_EQ(Status(host.Exchange(NvPacket(0x26, kOrdinaryItem))), 0);
  EXPECT_EQ(Dump(1).find("\n1 0 99"), std::string::npos);  // the busy write stored nothing
}

TEST_F(DiagOptions, BadReadBackAfterAWrite) {
  ASSERT_TRUE(StartBench("--diag-bad-readback"));
  DiagHost host(Port(1));
  Bytes write = NvPacket(0x27, kOrdinaryItem, 0x99);
  EXPECT_EQ(host.Exchange(write), write);
  std::optional<Bytes> back = host.Exchange(NvPacket(0x26, kOrdinaryItem));
  ASSERT_EQ(Status(back), 0);
  EXPECT_NE(Bytes(back->begin() + 3, back->begin() + 131), Bytes(write.begin() + 3, write.begin() + 131));
  // The phone holds what was written; only the read-back differs.
  EXPECT_TRUE(WaitUntil([&] { return Dump(1).find("\n1 0 99" + std::string(254, '0') + "\n") != std::string::npos; }));
}

TEST_F(DiagOptions, LeadingFlagOnAnswers) {
  ASSERT_TRUE(StartBench("--diag-leading-flag"));
  DiagHost host(Port(1));
  ASSERT_TRUE(host.Send(HexBytes("29 04 00 89 3E 7E")));
  EXPECT_EQ(host.ReceiveFrame(), HexBytes("7E 29 04 00 89 3E 7E"));
}

TEST_F(DiagOptions, ResetDelayKeepsThePhoneAwayThatLong) {
  ASSERT_TRUE(StartBench("--diag-reset-delay 2000"));
  std::string first = Port(1);
  DiagHost host(first);
  EXPECT_EQ(host.Exchange(HexBytes("29 01 00")), HexBytes("29 01 00"));
  EXPECT_EQ(host.Exchange(HexBytes("29 02 00")), HexBytes("29 02 00"));
  auto gone = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return Port(1).empty(); }));
  ASSERT_TRUE(WaitUntil([&] { return !Port(1).empty(); }));
  EXPECT_GE(std::chrono::steady_clock::now() - gone, std::chrono::milliseconds(1500));
  DiagHost again(Port(1));
  EXPECT_TRUE(again.Exchange(kVersion));
}

TEST_F(DiagOptions, SeedFileGivesEveryPhoneItsItems) {
  QcnContent c;
  for (std::uint16_t id : {5, 465, 900}) {
    phonesim::NvRecord r;
    r.key = {0, id, 0};
    r.data[0] = static_cast<std::uint8_t>(id);
    c.items.push_back(r);
  }
  c.items.push_back(c.items[1]);
  c.items.back().key.index = 1;
  c.items.back().data[1] = 0xEE;
  ASSERT_TRUE(WriteQcnWithGsf(dir / "seed.qcn", c));
  ASSERT_TRUE(StartBench("--nv-seed " + QuoteArgument(dir / "seed.qcn"), 2));
  std::string expected = "5 0 05" + std::string(254, '0') + "\n465 0 d1" + std::string(254, '0') + "\n465 1 d1ee" +
                         std::string(252, '0') + "\n900 0 84" + std::string(254, '0') + "\n";
  EXPECT_EQ(Dump(1), expected);
  EXPECT_EQ(Dump(2), expected);
  DiagHost host(Port(2));
  std::optional<Bytes> element = host.Exchange(NvPacket(0x26, 465, 1));
  ASSERT_EQ(Status(element), 0);
  EXPECT_EQ((*element)[4], 0xEE);
}

TEST_F(DiagOptions, BadSeedFileOrCodeStopsTheBench) {
  WriteFile(dir / "bad.qcn", "not a compound file at all");
  std::string out;
  EXPECT_EQ(ExecuteCommand(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(dir.path()) +
                               " --diagnostic-phones 1 --nv-seed " + QuoteArgument(dir / "bad.qcn"),
                           &out),
            2);
  EXPECT_NE(out.find("not a compound file"), std::string::npos) << out;
  EXPECT_EQ(ExecuteCommand(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(dir.path()) + " --spc 12345x", &out), 2);
}
