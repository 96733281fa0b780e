// The bench's Sahara boot ROM against the published vectors and the ways a
// host can go wrong: the synthetic 64-bit programmer's whole upload, a
// 32-bit ROM, files it must refuse, noise before HELLO_RESP, a reset, a
// request left unanswered.
#include <gtest/gtest.h>

#include "tests/phonesim/diag_bytes.h"
#include "tools/phonesim/sahara_rom.h"

using phonesim::Bytes;
using phonesim::SaharaRom;

namespace {

const char kHelloVector[] =
    "01 00 00 00 30 00 00 00 02 00 00 00 01 00 00 00 00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
const char kHelloRespVector[] =
    "02 00 00 00 30 00 00 00 02 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
    " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

// The note's synthetic programmer: ELF64 header, one PT_LOAD at 0x1000 of 16 bytes.
Bytes SyntheticProgrammer() {
  Bytes f = HexBytes(
      "7f 45 4c 46 02 01 01 00 00 00 00 00 00 00 00 00 02 00 b7 00 01 00 00 00 00 00 68 14 00 00 00 00"
      " 40 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 40 00 38 00 01 00 00 00 00 00 00 00"
      " 01 00 00 00 05 00 00 00 00 10 00 00 00 00 00 00 00 00 68 14 00 00 00 00 00 00 68 14 00 00 00 00"
      " 10 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00 00 10 00 00 00 00 00 00");
  f.resize(0x1010, 0);
  for (int i = 0; i < 16; ++i) f[0x1000 + i] = static_cast<std::uint8_t>(0xA0 + i);
  return f;
}

Bytes Feed(SaharaRom& rom, const Bytes& b) { return rom.Feed(b.data(), b.size()); }

Bytes Slice(const Bytes& f, std::size_t at, std::size_t n) {
  return Bytes(f.begin() + static_cast<std::ptrdiff_t>(at), f.begin() + static_cast<std::ptrdiff_t>(at + n));
}

Bytes ReadData64(std::uint64_t offset, std::uint64_t length) {
  Bytes p = HexBytes("12 00 00 00 20 00 00 00 0d 00 00 00 00 00 00 00");
  for (std::uint64_t v : {offset, length})
    for (int i = 0; i < 8; ++i) p.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return p;
}

// 32-bit ELF with a hash segment (flags 0x02000000, PT_NULL) of 0x1800 bytes at 0x1000
// and a PT_LOAD of 0x30 bytes at 0x3000.
Bytes Elf32Programmer() {
  Bytes f(0x3030, 0);
  const std::uint8_t ident[] = {0x7f, 'E', 'L', 'F', 1, 1, 1};
  std::copy(std::begin(ident), std::end(ident), f.begin());
  auto put = [&](std::size_t at, std::uint32_t v, int width) {
    for (int i = 0; i < width; ++i) f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(0x1C, 0x34, 4);  // e_phoff
  put(0x2A, 0x20, 2);  // e_phentsize
  put(0x2C, 2, 2);     // e_phnum
  put(0x34 + 4, 0x1000, 4);
  put(0x34 + 16, 0x1800, 4);
  put(0x34 + 24, 0x02000000, 4);
  put(0x54 + 0, 1, 4);
  put(0x54 + 4, 0x3000, 4);
  put(0x54 + 16, 0x30, 4);
  return f;
}

// Serves every request of a 32-bit ROM from `file`; returns the requests' (offset, length).
std::vector<std::pair<std::uint32_t, std::uint32_t>> Serve32(SaharaRom& rom, const Bytes& file, Bytes* last) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> asked;
  Bytes reply = Feed(rom, HexBytes(kHelloRespVector));
  while (reply.size() == 0x14 && reply[0] == 0x03) {
    auto word = [&](int at) { return reply[at] | reply[at + 1] << 8 | reply[at + 2] << 16 | reply[at + 3] << 24; };
    asked.emplace_back(word(12), word(16));
    reply = Feed(rom, Slice(file, word(12), word(16)));
  }
  *last = reply;
  return asked;
}

}  // namespace

TEST(SaharaRomTest, UploadsTheSyntheticProgrammerAsTheVectorsShow) {
  SaharaRom rom;
  EXPECT_EQ(rom.Hello(), HexBytes(kHelloVector));
  const Bytes file = SyntheticProgrammer();
  EXPECT_EQ(Feed(rom, HexBytes(kHelloRespVector)), ReadData64(0, 0x40));
  Bytes second = Feed(rom, Slice(file, 0, 0x40));
  EXPECT_EQ(second, HexBytes("12 00 00 00 20 00 00 00 0d 00 00 00 00 00 00 00 40 00 00 00 00 00 00 00 38 00 00 00 00 00 00 00"));
  EXPECT_EQ(Feed(rom, Slice(file, 0x40, 0x38)), ReadData64(0x1000, 0x10));
  EXPECT_EQ(Feed(rom, Slice(file, 0x1000, 0x10)), HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 00 00 00 00"));
  EXPECT_EQ(Feed(rom, HexBytes("05 00 00 00 08 00 00 00")), HexBytes("06 00 00 00 0c 00 00 00 01 00 00 00"));
  EXPECT_EQ(rom.stage(), SaharaRom::Stage::Handover);
  EXPECT_EQ(Slice(rom.image(), 0x1000, 0x10), Slice(file, 0x1000, 0x10));
}

TEST(SaharaRomTest, DataSplitAtEveryByteAndGluedToTheNextPacketIsTakenTheSame) {
  const Bytes file = SyntheticProgrammer();
  Bytes stream = HexBytes(kHelloRespVector);
  for (auto [at, n] : {std::pair<std::size_t, std::size_t>{0, 0x40}, {0x40, 0x38}, {0x1000, 0x10}}) {
    Bytes piece = Slice(file, at, n);
    stream.insert(stream.end(), piece.begin(), piece.end());
  }
  Bytes done = HexBytes("05 00 00 00 08 00 00 00");
  stream.insert(stream.end(), done.begin(), done.end());
  for (std::size_t cut = 1; cut < stream.size(); cut += 7) {
    SaharaRom rom;
    rom.Hello();
    Bytes out = rom.Feed(stream.data(), cut);
    Bytes rest = rom.Feed(stream.data() + cut, stream.size() - cut);
    out.insert(out.end(), rest.begin(), rest.end());
    ASSERT_EQ(rom.stage(), SaharaRom::Stage::Handover) << "cut at " << cut;
    EXPECT_EQ(Slice(out, out.size() - 12, 12), HexBytes("06 00 00 00 0c 00 00 00 01 00 00 00"));
  }
}

TEST(SaharaRomTest, A32BitRomAsksForTheHashSegmentInPiecesThenTheLoadSegment) {
  phonesim::SaharaRomConfig config;
  config.profile64 = false;
  SaharaRom rom(config);
  rom.Hello();
  Bytes last;
  auto asked = Serve32(rom, Elf32Programmer(), &last);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {0, 0x34}, {0x34, 0x40}, {0x1000, 0x1000}, {0x2000, 0x800}, {0x3000, 0x30}};
  EXPECT_EQ(asked, expected);
  EXPECT_EQ(last, HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 00 00 00 00"));
}

TEST(SaharaRomTest, RefusesWhatItCannotLoad) {
  {  // a 64-bit file on a 32-bit ROM
    phonesim::SaharaRomConfig config;
    config.profile64 = false;
    SaharaRom rom(config);
    rom.Hello();
    Feed(rom, HexBytes(kHelloRespVector));
    EXPECT_EQ(Feed(rom, Slice(SyntheticProgrammer(), 0, 0x34)), HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 14 00 00 00"));
  }
  {  // not an ELF file at all
    SaharaRom rom;
    rom.Hello();
    Feed(rom, HexBytes(kHelloRespVector));
    EXPECT_EQ(Feed(rom, Bytes(0x40, 0x55)), HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 14 00 00 00"));
  }
  {  // an unsigned programmer is read whole, then refused
    phonesim::SaharaRomConfig config;
    config.unsigned_ = true;
    SaharaRom rom(config);
    rom.Hello();
    const Bytes file = SyntheticProgrammer();
    Feed(rom, HexBytes(kHelloRespVector));
    Feed(rom, Slice(file, 0, 0x40));
    Feed(rom, Slice(file, 0x40, 0x38));
    EXPECT_EQ(Feed(rom, Slice(file, 0x1000, 0x10)), HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 25 00 00 00"));
    EXPECT_EQ(rom.stage(), SaharaRom::Stage::Failed);
    EXPECT_TRUE(Feed(rom, HexBytes("05 00 00 00 08 00 00 00")).empty()) << "DONE after a failure is not answered";
  }
  {  // a HELLO_RESP asking for command mode
    SaharaRom rom;
    rom.Hello();
    Bytes resp = HexBytes(kHelloRespVector);
    resp[0x14] = 3;
    EXPECT_EQ(Feed(rom, resp), HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 18 00 00 00"));
  }
}

TEST(SaharaRomTest, NoiseBeforeTheAnswerBringsHelloAgainAndAResetStartsOver) {
  SaharaRom rom;
  rom.Hello();
  // The DMSS no-op frame a host may probe with.
  EXPECT_EQ(Feed(rom, HexBytes("7e 06 4e 95 7e")), HexBytes(kHelloVector));
  EXPECT_EQ(rom.hellosRepeated(), 1);
  EXPECT_EQ(Feed(rom, HexBytes(kHelloRespVector)), ReadData64(0, 0x40));
  rom.Feed(SyntheticProgrammer().data(), 0x40);
  rom.Feed(SyntheticProgrammer().data() + 0x40, 0x38);
  EXPECT_EQ(rom.ReceiveTimedOut(), HexBytes("04 00 00 00 10 00 00 00 0d 00 00 00 16 00 00 00"));
  Bytes restarted = Feed(rom, HexBytes("07 00 00 00 08 00 00 00"));
  Bytes expected = HexBytes("08 00 00 00 08 00 00 00");
  Bytes hello = HexBytes(kHelloVector);
  expected.insert(expected.end(), hello.begin(), hello.end());
  EXPECT_EQ(restarted, expected);
  EXPECT_EQ(Feed(rom, HexBytes(kHelloRespVector)), ReadData64(0, 0x40));
}
