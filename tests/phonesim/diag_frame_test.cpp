// The bench's diagnostic framing against the published test vectors, both
// ways, and what its receiver drops.
#include <gtest/gtest.h>

#include <string>

#include "tests/phonesim/diag_bytes.h"
#include "tools/phonesim/diag_frame.h"

using phonesim::Bytes;

namespace {

struct Vector {
  const char* name;
  const char* packet;
  const char* frame;
};

// Packets and their frames (no leading flag), from the note on the protocol.
const Vector kVectors[] = {
    {"nv read 0x077D", "26 7D 07 130x00", "26 7D 5D 07 130x00 6E 40 7E"},
    {"its answer", "26 7D 07 7E 7D 5E 00 B6 125x00", "26 7D 5D 07 7D 5E 7D 5D 5E 00 B6 125x00 93 7D 5E 7E"},
    {"not active", "26 7D 07 128x00 05 00", "26 7D 5D 07 128x00 05 00 D6 3E 7E"},
    {"version", "00", "00 78 F0 7E"},
    {"esn", "01", "01 F1 E1 7E"},
    {"spc 000000", "41 30 30 30 30 30 30", "41 30 30 30 30 30 30 DF 8A 7E"},
    {"spc accepted", "41 01", "41 01 70 41 7E"},
    {"spc rejected", "41 00", "41 00 F9 50 7E"},
    {"offline", "29 01 00", "29 01 00 31 40 7E"},
    {"reset", "29 02 00", "29 02 00 59 6A 7E"},
    {"online", "29 04 00", "29 04 00 89 3E 7E"},
    {"bad command", "13 FE 01 02", "13 FE 01 02 57 BC 7E"},
    {"spc locked", "42 26 7D 07 13x00", "42 26 7D 5D 07 13x00 3D 89 7E"},
    {"bad parameters", "14 26 7D 07 13x00", "14 26 7D 5D 07 13x00 7A C2 7E"},
    {"imei write", "27 26 02 08 4A 09 51 24 30 32 57 81 121x00", "27 26 02 08 4A 09 51 24 30 32 57 81 121x00 74 AB 7E"},
    {"read with context", "4B 30 01 00 7D 07 01 00 130x00", "4B 30 01 00 7D 5D 07 01 00 130x00 6A C8 7E"},
    {"nv read 178", "26 B2 00 130x00", "26 B2 00 130x00 69 6D 7E"},
};

std::vector<Bytes> DecodeAll(const Bytes& stream, int* dropped = nullptr) {
  phonesim::DiagDecoder decoder;
  std::vector<Bytes> packets;
  decoder.Feed(stream.data(), stream.size(), [&](const Bytes& p) { packets.push_back(p); });
  if (dropped) *dropped = decoder.droppedFrames();
  return packets;
}

}  // namespace

TEST(DiagFrame, PublishedVectorsEncodeAndDecode) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(v.name);
    Bytes packet = HexBytes(v.packet), frame = HexBytes(v.frame);
    EXPECT_EQ(phonesim::EncodeDiagFrame(packet), frame);
    Bytes flagged = frame;
    flagged.insert(flagged.begin(), 0x7E);
    EXPECT_EQ(phonesim::EncodeDiagFrame(packet, true), flagged);
    // Without and with a leading flag the receiver finds the same packet.
    EXPECT_EQ(DecodeAll(frame), std::vector<Bytes>{packet});
    EXPECT_EQ(DecodeAll(flagged), std::vector<Bytes>{packet});
  }
  EXPECT_EQ(phonesim::SimCrc(reinterpret_cast<const std::uint8_t*>("123456789"), 9), 0x906E);
}

TEST(DiagFrame, WorstCaseFrameIsTwiceThePacketAndCheckPlusFlag) {
  Bytes packet(133, 0x7E);
  packet[0] = 0x26;
  Bytes frame = phonesim::EncodeDiagFrame(packet);
  // Every byte but the command escaped; the check sequence here needs no escape.
  EXPECT_LE(frame.size(), 2 * (packet.size() + 2) + 1);
  EXPECT_EQ(DecodeAll(frame), std::vector<Bytes>{packet});
}

TEST(DiagFrame, ReceiverDropsDamagedFramesAndResynchronisesAtTheNextFlag) {
  Bytes good = HexBytes("00 78 F0 7E");
  Bytes stream = HexBytes("7E 7E");                       // empty frames: ignored, not counted
  Bytes bad = HexBytes("26 7D 5D 07 130x00 6E 41 7E");    // one bit off in the check sequence
  Bytes tooShort = HexBytes("00 78 7E");                   // fewer than three bytes
  Bytes cutEscape = HexBytes("41 01 70 7D 7E");            // escape right before the flag
  for (const Bytes* part : {&bad, &good, &tooShort, &good, &cutEscape, &good}) stream.insert(stream.end(), part->begin(), part->end());
  int dropped = 0;
  EXPECT_EQ(DecodeAll(stream, &dropped), std::vector<Bytes>(3, HexBytes("00")));
  EXPECT_EQ(dropped, 3);
}

TEST(DiagFrame, OversizeFrameIsDroppedWhole) {
  Bytes packet(phonesim::kDiagMaxPacket + 1, 0x11);
  Bytes stream = phonesim::EncodeDiagFrame(packet);
  Bytes good = phonesim::EncodeDiagFrame(Bytes(phonesim::kDiagMaxPacket, 0x22));
  stream.insert(stream.end(), good.begin(), good.end());
  int dropped = 0;
  EXPECT_EQ(DecodeAll(stream, &dropped), std::vector<Bytes>{Bytes(phonesim::kDiagMaxPacket, 0x22)});
  EXPECT_EQ(dropped, 1);
}

TEST(DiagFrame, FramesSplitAcrossReadsJoin) {
  Bytes stream = HexBytes("26 7D 5D 07 7D 5E 7D 5D 5E 00 B6 125x00 93 7D 5E 7E 01 F1 E1 7E");
  phonesim::DiagDecoder decoder;
  std::vector<Bytes> packets;
  for (std::uint8_t b : stream) decoder.Feed(&b, 1, [&](const Bytes& p) { packets.push_back(p); });
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(packets[0], HexBytes("26 7D 07 7E 7D 5E 00 B6 125x00"));
  EXPECT_EQ(packets[1], HexBytes("01"));
}
