// The diagnostic protocol's packets and frames, byte for byte against the
// protocol note's vectors, and the link's matching of answers to requests.
#include <gtest/gtest.h>

#include "download/hdlc.h"
#include "download/transport.h"
#include "nv/diag_link.h"
#include "nv/diag_packets.h"
#include "platform/timing.h"
#include "tests/support/fake_diag_phone.h"
#include "tests/support/fake_ports.h"

namespace {

Bytes Zeros(size_t n) { return Bytes(n, 0); }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
std::uint16_t Fcs(const Bytes& p) { return FrameCheckSequence(p.data(), p.size()); }

// The packets a decoder makes of bytes, in order. Fed byte by byte and fed
// in runs as a port hands them over, the decoder must find the same.
std::vector<Bytes> Decode(const Bytes& bytes, int* bad = nullptr) {
  DiagFrameDecoder single, runs;
  std::vector<Bytes> packets, fromRuns;
  for (unsigned char b : bytes)
    if (single.Feed(b)) packets.push_back(single.packet());
  for (size_t at = 0; at < bytes.size();) {
    bool closed = false;
    at += runs.Feed(bytes.data() + at, bytes.size() - at, &closed);
    if (closed) fromRuns.push_back(runs.packet());
  }
  EXPECT_EQ(fromRuns, packets);
  EXPECT_EQ(runs.badFrames(), single.badFrames());
  if (bad) *bad = single.badFrames();
  return packets;
}

NvData Data(std::initializer_list<unsigned char> head) {
  NvData d{};
  std::copy(head.begin(), head.end(), d.begin());
  return d;
}

const Bytes kD2Packet = Cat({{0x26, 0x7D, 0x07, 0x7E, 0x7D, 0x5E, 0x00, 0xB6}, Zeros(125)});
const Bytes kD2Frame = Cat({{0x26, 0x7D, 0x5D, 0x07, 0x7D, 0x5E, 0x7D, 0x5D, 0x5E, 0x00, 0xB6}, Zeros(125), {0x93, 0x7D, 0x5E, 0x7E}});

}  // namespace

TEST(DiagVectors, NvReadRequestAndItsAnswers) {
  // D1: the read request of item 0x077D.
  Bytes d1 = NvReadRequest(0x077D, 0);
  EXPECT_EQ(d1, Cat({{0x26, 0x7D, 0x07}, Zeros(130)}));
  EXPECT_EQ(Fcs(d1), 0x406E);
  EXPECT_EQ(EncodeDiagFrame(d1), Cat({{0x26, 0x7D, 0x5D, 0x07}, Zeros(130), {0x6E, 0x40, 0x7E}}));
  EXPECT_EQ(EncodeDiagFrame(d1).size(), 137u);
  // D2: its answer, status 0; escaping in the id, the data and the check bytes.
  EXPECT_EQ(Fcs(kD2Packet), 0x7E93);
  EXPECT_EQ(EncodeDiagFrame(kD2Packet), kD2Frame);
  EXPECT_EQ(kD2Frame.size(), 140u);
  for (const Bytes& packet : {d1, kD2Packet}) {
    std::uint16_t reg = 0xFFFF;
    std::uint16_t fcs = Fcs(packet);
    for (unsigned char b : Cat({packet, {static_cast<unsigned char>(fcs), static_cast<unsigned char>(fcs >> 8)}}))
      reg = UpdateFrameCheck(reg, b);
    EXPECT_EQ(reg, kGoodFrameCheck);
  }
  ASSERT_EQ(Decode(kD2Frame), std::vector<Bytes>{kD2Packet});
  NvAnswer answer;
  ASSERT_TRUE(ParseNvAnswer(kD2Packet, &answer));
  EXPECT_EQ(answer.id, 0x077D);
  EXPECT_EQ(answer.status, kNvDone);
  EXPECT_EQ(answer.data, Data({0x7E, 0x7D, 0x5E, 0x00, 0xB6}));
  // D3: not active.
  Bytes d3 = Cat({{0x26, 0x7D, 0x07}, Zeros(128), {0x05, 0x00}});
  EXPECT_EQ(Fcs(d3), 0x3ED6);
  EXPECT_EQ(EncodeDiagFrame(d3), Cat({{0x26, 0x7D, 0x5D, 0x07}, Zeros(128), {0x05, 0x00, 0xD6, 0x3E, 0x7E}}));
  ASSERT_TRUE(ParseNvAnswer(d3, &answer));
  EXPECT_EQ(answer.status, kNvNotActive);
  // D8: an independent check value.
  EXPECT_EQ(Fcs(NvReadRequest(178, 0)), 0x6D69);
}

TEST(DiagVectors, ShortPacketsErrorsWritesAndContext) {
  // D4.
  const std::pair<Bytes, Bytes> shortOnes[] = {
      {VersionRequest(), {0x00, 0x78, 0xF0, 0x7E}},
      {EsnRequest(), {0x01, 0xF1, 0xE1, 0x7E}},
      {SpcRequest("000000"), {0x41, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0xDF, 0x8A, 0x7E}},
      {{0x41, 0x01}, {0x41, 0x01, 0x70, 0x41, 0x7E}},
      {{0x41, 0x00}, {0x41, 0x00, 0xF9, 0x50, 0x7E}},
      {ModeRequest(kModeOffline), {0x29, 0x01, 0x00, 0x31, 0x40, 0x7E}},
      {ModeRequest(kModeReset), {0x29, 0x02, 0x00, 0x59, 0x6A, 0x7E}},
      {ModeRequest(kModeOnline), {0x29, 0x04, 0x00, 0x89, 0x3E, 0x7E}},
      {{0x13, 0xFE, 0x01, 0x02}, {0x13, 0xFE, 0x01, 0x02, 0x57, 0xBC, 0x7E}},
  };
  for (const auto& [packet, frame] : shortOnes) {
    EXPECT_EQ(EncodeDiagFrame(packet), frame);
    EXPECT_EQ(Decode(frame), std::vector<Bytes>{packet});
  }
  // D5: the answer to D1 while the code is locked, and the same behind 0x14.
  Bytes d5 = Cat({{0x42, 0x26, 0x7D, 0x07}, Zeros(13)});
  EXPECT_EQ(Fcs(d5), 0x893D);
  EXPECT_EQ(EncodeDiagFrame(d5), Cat({{0x42, 0x26, 0x7D, 0x5D, 0x07}, Zeros(13), {0x3D, 0x89, 0x7E}}));
  EXPECT_EQ(MatchAnswer(NvReadRequest(0x077D, 0), d5), DiagMatch::Error);
  EXPECT_EQ(DiagErrorResult(d5[0]), E_ACCESSDENIED);
  d5[0] = 0x14;
  EXPECT_EQ(Fcs(d5), 0xC27A);
  // D6: the write of an IMEI, and the IMEI read from its data.
  NvData imei = Data({0x08, 0x4A, 0x09, 0x51, 0x24, 0x30, 0x32, 0x57, 0x81});
  Bytes d6 = NvWriteRequest(550, imei);
  EXPECT_EQ(d6, Cat({{0x27, 0x26, 0x02, 0x08, 0x4A, 0x09, 0x51, 0x24, 0x30, 0x32, 0x57, 0x81}, Zeros(121)}));
  EXPECT_EQ(Fcs(d6), 0xAB74);
  EXPECT_EQ(EncodeDiagFrame(d6), Cat({d6, {0x74, 0xAB, 0x7E}}));
  EXPECT_EQ(ImeiFromItem(imei), "490154203237518");
  imei[3] = 0x5C;  // a digit that is no digit
  EXPECT_EQ(ImeiFromItem(imei), "");
  // D7: read with context 1.
  Bytes d7 = NvContextReadRequest(0x077D, 1);
  EXPECT_EQ(d7, Cat({{0x4B, 0x30, 0x01, 0x00, 0x7D, 0x07, 0x01, 0x00}, Zeros(130)}));
  EXPECT_EQ(d7.size(), kNvContextPacketSize);
  EXPECT_EQ(Fcs(d7), 0xC86A);
  EXPECT_EQ(EncodeDiagFrame(d7), Cat({{0x4B, 0x30, 0x01, 0x00, 0x7D, 0x5D, 0x07, 0x01, 0x00}, Zeros(130), {0x6A, 0xC8, 0x7E}}));
}

TEST(DiagFrames, EveryByteAfterAFlagStartsAFrame) {
  // With and without an opening flag, after repeated flags, and after
  // garbage that ends at a flag: each answer is found.
  Bytes garbage = {0x11, 0x22, 0x33, 0x7E};
  int bad = 0;
  auto packets = Decode(Cat({kD2Frame, {0x7E, 0x7E}, kD2Frame, garbage, kD2Frame}), &bad);
  EXPECT_EQ(packets, (std::vector<Bytes>{kD2Packet, kD2Packet, kD2Packet}));
  EXPECT_EQ(bad, 1);
  // A wrong check sequence, and a frame too short to hold one, are dropped.
  Bytes corrupt = kD2Frame;
  corrupt[20] ^= 0x40;
  EXPECT_TRUE(Decode(Cat({corrupt, {0x41, 0x7E}}), &bad).empty());
  EXPECT_EQ(bad, 2);
  // The largest packet is kept; one byte more and the frame is dropped whole.
  const Bytes largest(kMaxDiagPacket, 0x7D);
  EXPECT_EQ(Decode(EncodeDiagFrame(largest)), std::vector<Bytes>{largest});
  EXPECT_EQ(Decode(Cat({EncodeDiagFrame(Bytes(kMaxDiagPacket + 1, 0x11)), kD2Frame})), std::vector<Bytes>{kD2Packet});
  // The download receiver, which hunts for an opening flag, would lose the
  // first answer of a phone that sends none; this one does not.
  ScriptedPort port;
  port.Answer(Cat({kD2Frame, kD2Frame}));
  unsigned char buffer[200];
  size_t received = 0;
  ASSERT_EQ(ReceivePacket(port, buffer, sizeof buffer, false, kIgnoreNothing, &received), S_OK);
  EXPECT_EQ(port.pendingReads(), 0u);  // it took the first frame's closing flag as an opening one
  EXPECT_EQ(Decode(kD2Frame).size(), 1u);
}

TEST(DiagLinkTest, AnswersAreMatchedAndOtherPacketsSkipped) {
  FakeDiagPhone phone;
  phone.items[{0x077D, 0}] = Data({0x7E, 0x7D, 0x5E, 0x00, 0xB6});
  phone.leadingFlag = true;
  phone.noise = {0x79, 0x01, 0x02};  // an extended message before every answer
  DiagLink link(phone);
  ASSERT_EQ(link.Exchange(NvReadRequest(0x077D, 0)), S_OK);
  EXPECT_EQ(link.answer(), kD2Packet);
  ASSERT_EQ(link.Exchange({0xFE, 0x01, 0x02}), S_OK);  // unknown: the error response answers
  EXPECT_EQ(link.answer(), (Bytes{0x13, 0xFE, 0x01, 0x02}));

  // An answer for another item is no answer to this request.
  ScriptedPort port;
  Bytes other = kD2Packet;
  other[1] = 0x01;
  port.Answer(Cat({EncodeDiagFrame(other), kD2Frame}));
  DiagLink scripted(port);
  ASSERT_EQ(scripted.Exchange(NvReadRequest(0x077D, 0)), S_OK);
  EXPECT_EQ(scripted.answer(), kD2Packet);
  EXPECT_EQ(port.writes.at(0), EncodeDiagFrame(NvReadRequest(0x077D, 0)));  // no opening flag sent
}

TEST(DiagLinkTest, SilenceAndGarbledAnswersHaveCodesOfTheirOwn) {
  FakeDiagPhone silent;
  silent.silentAfter = 0;
  EXPECT_EQ(DiagLink(silent).Exchange(VersionRequest()), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  FakeDiagPhone garbled;
  garbled.corruptFrom = 0;
  EXPECT_EQ(DiagLink(garbled).Exchange(VersionRequest()), HRESULT_FROM_WIN32(ERROR_CRC));
  ScriptedPort gone;
  gone.FailReads(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), 1);
  EXPECT_EQ(DiagLink(gone).Exchange(VersionRequest()), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
}

namespace {
// A phone that never stops sending log packets; after a guard number of
// bytes it reports the port gone, so a reader that never gives up ends.
class ChattyPort : public SerialPort {
 public:
  HRESULT ReadByte(unsigned char* byte, unsigned) override {
    if (++sent_ > kGuard) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    *byte = log_[sent_ % log_.size()];
    return S_OK;
  }
  HRESULT Write(const unsigned char*, size_t) override { return S_OK; }
  size_t Buffered(const unsigned char** data) override {
    if (sent_ > kGuard) return 0;
    *data = log_.data();
    return log_.size();
  }
  void Consume(size_t n) override { sent_ += n; }
  size_t sent() const { return sent_; }

 private:
  static constexpr size_t kGuard = 200u << 20;
  DiagPacket log_ = EncodeDiagFrame({0x10, 0x00, 0x12, 0x34});
  size_t sent_ = 0;
};
}  // namespace

TEST(DiagLinkTest, APhoneThatOnlyChattersTimesOut) {
  ScopedTimeScale fast(0.01);
  ChattyPort port;
  EXPECT_EQ(DiagLink(port).Exchange(VersionRequest()), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_LT(port.sent(), 50u << 20);  // it gave up at its deadline, not when the port ran dry
}
