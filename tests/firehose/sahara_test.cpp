#include <gtest/gtest.h>

#include "firehose/protocol_probe.h"
#include "firehose/sahara_packets.h"
#include "firehose/sahara_upload.h"
#include "platform/timing.h"
#include "tests/firehose/wire_vectors.h"
#include "tests/support/fake_ports.h"
#include "tests/support/status_list.h"

using namespace vectors;

namespace {

Bytes Packet64(std::uint32_t command, std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  Bytes p(0x20);
  auto put = [&](size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  put(0, command, 4);
  put(4, 0x20, 4);
  put(8, a, 8);
  put(16, b, 8);
  put(24, c, 8);
  return p;
}

Bytes Read32(std::uint32_t offset, std::uint32_t length) {
  Bytes p = kReadData;
  for (int i = 0; i < 4; ++i) {
    p[12 + i] = static_cast<unsigned char>(offset >> (8 * i));
    p[16 + i] = static_cast<unsigned char>(length >> (8 * i));
  }
  return p;
}

Bytes EndImage(std::uint32_t status) {
  Bytes p = kEndImageOk;
  p[12] = static_cast<unsigned char>(status);
  return p;
}

Bytes Slice(const Bytes& file, size_t offset, size_t length) {
  return Bytes(file.begin() + offset, file.begin() + offset + length);
}

}  // namespace

// The note's packets decode to their fields, and the host's encode to the bytes.
TEST(SaharaPackets, VectorsDecodeAndEncode) {
  sahara::Hello hello;
  ASSERT_EQ(sahara::DecodeHello(kHello, &hello), S_OK);
  EXPECT_EQ(hello.version, 2u);
  EXPECT_EQ(hello.versionCompatible, 1u);
  EXPECT_EQ(hello.maxLength, 1024u);
  EXPECT_EQ(hello.mode, 0u);
  auto answer = sahara::EncodeHelloResponse(2, 1, 0, 0);
  EXPECT_EQ(Bytes(answer.begin(), answer.end()), kHelloResponse);

  sahara::ReadRequest r;
  ASSERT_EQ(sahara::DecodeReadRequest(kReadData, &r), S_OK);
  EXPECT_EQ(r.imageId, 13u);
  EXPECT_EQ(r.offset, 0u);
  EXPECT_EQ(r.length, 0x34u);
  ASSERT_EQ(sahara::DecodeReadRequest(kReadData64, &r), S_OK);
  EXPECT_EQ(r.imageId, 13u);
  EXPECT_EQ(r.offset, 0x40u);
  EXPECT_EQ(r.length, 0x38u);
  // 64-bit fields use their high halves.
  ASSERT_EQ(sahara::DecodeReadRequest(Packet64(0x12, 13, 0x100000000ull, 2), &r), S_OK);
  EXPECT_EQ(r.offset, 0x100000000ull);

  sahara::EndImage end;
  ASSERT_EQ(sahara::DecodeEndImage(kEndImageOk, &end), S_OK);
  EXPECT_EQ(end.imageId, 13u);
  EXPECT_EQ(end.status, 0u);
  std::uint32_t status = 0;
  ASSERT_EQ(sahara::DecodeDoneResponse(kDoneResponse, &status), S_OK);
  EXPECT_EQ(status, 1u);
  auto done = sahara::EncodeHeaderOnly(sahara::kDone);
  EXPECT_EQ(Bytes(done.begin(), done.end()), kDone);
  auto reset = sahara::EncodeHeaderOnly(sahara::kReset);
  EXPECT_EQ(Bytes(reset.begin(), reset.end()), kReset);
  EXPECT_STREQ(sahara::StatusName(0x25), "image authentication failed");
  EXPECT_STREQ(sahara::StatusName(0x14), "invalid ELF header");
  EXPECT_STREQ(sahara::StatusName(0x99), "unknown status");
}

// A packet whose header disagrees with its size, or claims an absurd length,
// is refused rather than read past.
TEST(SaharaPackets, MalformedPacketsAreRefused) {
  const HRESULT invalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  sahara::Hello hello;
  Bytes shortHello(kHello.begin(), kHello.end() - 1);
  EXPECT_EQ(sahara::DecodeHello(shortHello, &hello), invalid);
  Bytes lying = kHello;
  lying[4] = 0x31;
  EXPECT_EQ(sahara::DecodeHello(lying, &hello), invalid);
  sahara::ReadRequest r;
  EXPECT_EQ(sahara::DecodeReadRequest(kHello, &r), invalid);
  sahara::Header header;
  EXPECT_EQ(sahara::DecodeHeader(Bytes{1, 0, 0, 0, 4, 0, 0, 0}, &header), invalid);
  EXPECT_EQ(sahara::DecodeHeader(Bytes{1, 0, 0, 0, 0x01, 0x10, 0, 0}, &header), invalid);  // 4097
  EXPECT_EQ(sahara::DecodeHeader(Bytes{1, 0, 0, 0}, &header), invalid);
}

// The 64-bit ROM profile on the synthetic programmer: every request is
// answered with exactly the bytes asked for, then DONE.
TEST(SaharaUpload, SixtyFourBitProfileGetsExactBytes) {
  ScopedTimeScale fast(0.01);
  Bytes programmer = SyntheticProgrammer();
  ScriptedPort port;
  port.Answer(kHello);
  port.Answer(Packet64(0x12, 13, 0, 0x40));
  port.Answer(kReadData64);
  port.Answer(Packet64(0x12, 13, 0x1000, 0x10));
  port.Answer(kEndImageOk);
  port.Answer(kDoneResponse);
  StatusList status;
  ASSERT_EQ(UploadProgrammer(port, programmer, {}, &status), S_OK);
  ASSERT_EQ(port.writes.size(), 5u);
  EXPECT_EQ(port.writes[0], kHelloResponse);
  EXPECT_EQ(port.writes[1], Slice(programmer, 0, 0x40));
  EXPECT_EQ(port.writes[2], Slice(programmer, 0x40, 0x38));
  EXPECT_EQ(port.writes[3], Slice(programmer, 0x1000, 0x10));
  EXPECT_EQ(port.writes[4], kDone);
  EXPECT_EQ(port.pendingReads(), 0u);
}

// The 32-bit profile, a HELLO repeated mid-transfer (answered again), and a
// DONE_RESP "more pending" after the only image, which ends the upload too.
TEST(SaharaUpload, ThirtyTwoBitProfileRepeatedHelloAndPendingDone) {
  ScopedTimeScale fast(0.01);
  Bytes programmer(0x200, 0x5A);
  programmer[0] = 0x7F;
  ScriptedPort port;
  port.Answer(kHello);
  port.Answer(kReadData);
  port.Answer(kHello);
  port.Answer(Read32(0x34, 0x100));
  port.Answer(kEndImageOk);
  Bytes pending = kDoneResponse;
  pending[8] = 0;
  port.Answer(pending);
  ASSERT_EQ(UploadProgrammer(port, programmer, {}, nullptr), S_OK);
  ASSERT_EQ(port.writes.size(), 5u);
  EXPECT_EQ(port.writes[1], Slice(programmer, 0, 0x34));
  EXPECT_EQ(port.writes[2], kHelloResponse);
  EXPECT_EQ(port.writes[3], Slice(programmer, 0x34, 0x100));
}

// A phone that heard noise on a freshly opened port repeats its HELLO before
// any answer: only the last HELLO of the run is answered, once.
TEST(SaharaUpload, ARunOfHellosIsAnsweredOnce) {
  ScopedTimeScale fast(0.01);
  Bytes programmer = SyntheticProgrammer();
  ScriptedPort port;
  for (int i = 0; i < 6; ++i) port.Answer(kHello);
  port.Answer(Packet64(0x12, 13, 0, 0x40));
  port.Answer(kEndImageOk);
  port.Answer(kDoneResponse);
  ASSERT_EQ(UploadProgrammer(port, programmer, {}, nullptr), S_OK);
  ASSERT_EQ(port.writes.size(), 3u);
  EXPECT_EQ(port.writes[0], kHelloResponse);
  EXPECT_EQ(port.writes[1], Slice(programmer, 0, 0x40));
  EXPECT_EQ(port.writes[2], kDone);
}

// What the ROM may do wrong or refuse: a read past the end of the file, a
// refused image (its status named), silence, a first packet that is not
// HELLO (answered with RESET, then the upload proceeds).
TEST(SaharaUpload, RefusalsAndFaults) {
  ScopedTimeScale fast(0.01);
  Bytes programmer = SyntheticProgrammer();
  {
    ScriptedPort port;
    port.Answer(kHello);
    port.Answer(Packet64(0x12, 13, 0x1000, 0x11));  // one byte past the end
    EXPECT_EQ(UploadProgrammer(port, programmer, {}, nullptr), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_EQ(port.writes.size(), 1u);  // nothing served
  }
  {
    ScriptedPort port;
    port.Answer(kHello);
    port.Answer(EndImage(0x25));
    StatusList status;
    EXPECT_EQ(UploadProgrammer(port, programmer, {}, &status), E_ACCESSDENIED);
    EXPECT_EQ(status.Count("Sahara: the phone refused the programmer: image authentication failed (status 0x25)"), 1);
    EXPECT_EQ(port.writes.size(), 1u);  // no DONE after a refusal
  }
  {
    ScriptedPort port;
    port.Answer(kHello);
    EXPECT_EQ(UploadProgrammer(port, programmer, {}, nullptr), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  }
  {
    ScriptedPort port;
    port.Answer(kResetResponse);
    port.Answer(kHello);
    port.Answer(Packet64(0x12, 13, 0, 0x40));
    port.Answer(kEndImageOk);
    port.Answer(kDoneResponse);
    ASSERT_EQ(UploadProgrammer(port, programmer, EndImage(0x01), nullptr), S_OK);
    ASSERT_EQ(port.writes.size(), 4u);
    EXPECT_EQ(port.writes[0], kReset);
    EXPECT_EQ(port.writes[1], kHelloResponse);
  }
}

// The probe: a Sahara ROM is recognised by listening alone; a DMSS loader
// answers the parameter request and its whole answer is consumed; a ROM
// whose HELLO was lost answers the unsolicited HELLO_RESP; XML means a
// programmer already runs.
TEST(ProtocolProbe, TellsTheKindsApartWithoutDisturbingThem) {
  ScopedTimeScale fast(0.01);
  {
    ScriptedPort port;
    port.Answer(kHello);
    ProbeResult result;
    ASSERT_EQ(ListenToPhone(port, nullptr, &result), S_OK);
    EXPECT_EQ(result.protocol, PhoneProtocol::kSahara);
    EXPECT_EQ(result.bytes, kHello);
    EXPECT_TRUE(port.writes.empty());
  }
  {
    ScriptedPort port;
    ProbeResult result;
    ASSERT_EQ(ListenToPhone(port, nullptr, &result), S_OK);
    EXPECT_EQ(result.protocol, PhoneProtocol::kSilent);
    EXPECT_TRUE(port.writes.empty());
    port.Answer({0x7E, 0x08, 0x01, 0x02, 0x7D, 0x5E, 0x03, 0x04, 0x05, 0x06, 0x7E, 0x99});
    ASSERT_EQ(AskPhone(port, nullptr, &result), S_OK);
    EXPECT_EQ(result.protocol, PhoneProtocol::kDmss);
    ASSERT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(port.writes[0], (Bytes{0x7E, 0x07, 0xC7, 0x84, 0x7E}));
    EXPECT_EQ(port.pendingReads(), 1u);  // only the byte after the closing flag is left
  }
  {
    ScriptedPort port;
    ProbeResult result;
    ASSERT_EQ(AskPhone(port, nullptr, &result), S_OK);
    EXPECT_EQ(result.protocol, PhoneProtocol::kSilent);
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[1], kHelloResponse);
  }
  {
    ScriptedPort port;
    std::string xml = "<?xml version=\"1.0\" ?><data><log value=\"x\" /></data>";
    port.Answer(Bytes(xml.begin(), xml.end()));
    ProbeResult result;
    ASSERT_EQ(ListenToPhone(port, nullptr, &result), S_OK);
    EXPECT_EQ(result.protocol, PhoneProtocol::kFirehose);
    EXPECT_EQ(result.bytes.front(), '<');
  }
  {
    ScriptedPort port;
    port.Answer({0x55, 0x55});
    ProbeResult result;
    EXPECT_EQ(ListenToPhone(port, nullptr, &result), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  }
}
