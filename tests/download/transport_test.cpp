#include "download/transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>

#include "platform/timing.h"
#include "tests/support/fake_ports.h"
#include "tests/support/hex_writer.h"
#include "tests/support/log_capture.h"

namespace {

Bytes Frame(const Bytes& payload) {
  ScriptedPort port;
  EXPECT_EQ(TransmitPacket(port, payload.data(), payload.size()), S_OK);
  return port.writes.at(0);
}

// A frame built by the bench's own codec, so both sides check each other.
Bytes SimFrame(const Bytes& payload, bool corrupt = false) { return phonesim::EncodeFrame(payload, corrupt); }

}  // namespace

TEST(Transport, FramesAreByteExact) {
  EXPECT_EQ(Frame({0x07}), (Bytes{0x7E, 0x07, 0xC7, 0x84, 0x7E}));
  EXPECT_EQ(Frame({0x02}), (Bytes{0x7E, 0x02, 0x6A, 0xD3, 0x7E}));
  EXPECT_EQ(Frame({0x7E}), (Bytes{0x7E, 0x7D, 0x5E, 0x81, 0x6A, 0x7E}));
  const char* check = "123456789";
  EXPECT_EQ(FrameCheckSequence(reinterpret_cast<const unsigned char*>(check), 9), 0x906E);
  Bytes payload = {0x7D, 0x01, 0x7E};
  EXPECT_EQ(Frame(payload), SimFrame(payload));
}

// Frames are built and checked a run of bytes at a time: every length and
// position of reserved bytes gives the frame the bench's own codec builds,
// and the register agrees with the one-byte step.
TEST(Transport, LongFramesMatchTheBenchCodecAtEveryLength) {
  Bytes payload = Pattern(1100, 3);
  for (size_t i = 0; i < payload.size(); i += 37) payload[i] = (i / 37) % 2 ? 0x7E : 0x7D;
  for (size_t size : {0, 1, 7, 8, 9, 15, 16, 17, 63, 64, 65, 1029, 1100}) {
    for (size_t from : {0, 1, 5}) {
      if (from + size > payload.size()) continue;
      Bytes part(payload.begin() + static_cast<long>(from), payload.begin() + static_cast<long>(from + size));
      EXPECT_EQ(Frame(part), SimFrame(part)) << size << " bytes from " << from;
      std::uint16_t oneByOne = 0xFFFF;
      for (unsigned char b : part) oneByOne = UpdateFrameCheck(oneByOne, b);
      EXPECT_EQ(UpdateFrameCheck(0xFFFF, part.data(), part.size()), oneByOne) << size << " bytes from " << from;
    }
  }
}

TEST(Transport, StuffedCheckBytesRoundTrip) {
  // Find payloads whose check sequence holds a reserved value, in each byte.
  int lowStuffed = 0, highStuffed = 0;
  for (unsigned v = 0; v < 65536 && (lowStuffed == 0 || highStuffed == 0); ++v) {
    Bytes payload = {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    std::uint16_t fcs = FrameCheckSequence(payload.data(), payload.size());
    bool low = (fcs & 0xFF) == 0x7E || (fcs & 0xFF) == 0x7D, high = (fcs >> 8) == 0x7E || (fcs >> 8) == 0x7D;
    if (!low && !high) continue;
    Bytes frame = Frame(payload);
    EXPECT_EQ(frame, SimFrame(payload));
    ScriptedPort port;
    port.Answer(frame);
    unsigned char buffer[4] = {};
    size_t received = 0;
    ASSERT_EQ(ReceivePacket(port, buffer, 2, true, kIgnoreNothing, &received), S_OK);
    EXPECT_EQ(received, 2u);
    EXPECT_EQ(std::memcmp(buffer, payload.data(), 2), 0);
    lowStuffed += low;
    highStuffed += high;
  }
  EXPECT_GT(lowStuffed, 0);
  EXPECT_GT(highStuffed, 0);
}

TEST(Transport, NoiseRepeatedFlagsAndIgnoredFramesArePassedOver) {
  ScriptedPort port;
  port.Answer({0x11, 0x22, 0x7E, 0x7E, 0x7E});  // noise, then flags and empty frames
  Bytes log(300, 0x41);
  log[0] = 0x0E;  // a log packet longer than the caller's buffer
  port.Answer(SimFrame(log));
  port.Answer(SimFrame({0x18}));
  unsigned char answer[1] = {};
  ASSERT_EQ(ReceivePacket(port, answer, 1, true, 0x0E), S_OK);
  EXPECT_EQ(answer[0], 0x18);
  EXPECT_EQ(port.pendingReads(), 0u);
}

TEST(Transport, ChecksAtTheClosingFlagComeInOrder) {
  struct Case {
    Bytes wire;
    size_t capacity;
    bool exact;
    HRESULT expected;
  };
  Bytes corruptAndLong = SimFrame({0x04, 1, 2, 3, 4, 5, 6}, true);
  Case cases[] = {
      {corruptAndLong, 2, true, HRESULT_FROM_WIN32(ERROR_CRC)},  // the check sequence is tested first
      {{0x7E, 0x02, 0x7E}, 1, true, HRESULT_FROM_WIN32(ERROR_CRC)},
      {SimFrame({0x08, 1, 2, 3}), 8, true, HRESULT_FROM_WIN32(ERROR_BAD_LENGTH)},
      {SimFrame({0x08, 1, 2, 3}), 8, false, S_OK},
      {SimFrame({0x08, 1, 2, 3, 4, 5, 6, 7, 8}), 8, false, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)},
      {SimFrame({0x02}), 1, true, S_OK},
  };
  for (const Case& c : cases) {
    ScriptedPort port;
    port.Answer(c.wire);
    port.Answer({0x99});  // a byte after the frame must stay unread
    std::vector<unsigned char> buffer(c.capacity + 2);
    EXPECT_EQ(ReceivePacket(port, buffer.data(), c.capacity, c.exact, kIgnoreNothing), c.expected);
    EXPECT_EQ(port.pendingReads(), 1u);
  }
  // The shortest frame with a valid check sequence: the two check bytes alone.
  std::uint16_t fcs = FrameCheckSequence(nullptr, 0);
  ScriptedPort port;
  port.Answer({0x7E, static_cast<unsigned char>(fcs), static_cast<unsigned char>(fcs >> 8), 0x7E});
  unsigned char buffer[4];
  EXPECT_EQ(ReceivePacket(port, buffer, 1, false, kIgnoreNothing), HRESULT_FROM_WIN32(ERROR_BAD_FORMAT));
}

TEST(Transport, ASilentPhoneIsGivenUpAfterTenReadsWithElevenTraceLines) {
  ScopedTimeScale fast(0.001);
  LogCapture log;
  ScriptedPort port;
  unsigned char buffer[8];
  EXPECT_EQ(ReceivePacket(port, buffer, 8, true, kIgnoreNothing), kReadTimeout);
  EXPECT_EQ(port.readRequests, 10);
  EXPECT_EQ(log.Count("ReceivePacket("), 11);
  EXPECT_EQ(log.Count("(0x80070026)"), 11);
}

TEST(Transport, AReadThatRecoversWithinTenRequestsContinuesTheFrame) {
  ScopedTimeScale fast(0.001);
  LogCapture log;
  ScriptedPort port;
  Bytes frame = SimFrame({0x02});
  port.Answer({frame[0], frame[1]});
  port.Timeout(9);
  port.Answer({frame.begin() + 2, frame.end()});
  unsigned char answer = 0;
  EXPECT_EQ(ReceivePacket(port, &answer, 1, true, kIgnoreNothing), S_OK);
  EXPECT_EQ(log.Count("ReceivePacket("), 9);
}

namespace {

// A port on a clock of its own: each byte arrives at a set time, and a read
// request waits at most the time-out it is given for the next one.
class LatePort : public SerialPort {
 public:
  void Arrive(unsigned atMs, const Bytes& bytes) {
    for (unsigned char b : bytes) arrivals_.push_back({atMs, b});
  }
  HRESULT ReadByte(unsigned char* byte, unsigned timeoutMs) override {
    ++requests;
    if (arrivals_.empty() || arrivals_.front().first > nowMs_ + timeoutMs) {
      nowMs_ += timeoutMs;
      return kReadTimeout;
    }
    nowMs_ = std::max(nowMs_, arrivals_.front().first);
    *byte = arrivals_.front().second;
    arrivals_.pop_front();
    return S_OK;
  }
  HRESULT Write(const unsigned char*, size_t) override { return S_OK; }
  int requests = 0;

 private:
  std::deque<std::pair<unsigned, unsigned char>> arrivals_;
  unsigned nowMs_ = 0;
};

// How many read requests one frame whose first byte arrives at atMs takes.
int RequestsForAFrameArrivingAt(unsigned atMs) {
  LatePort port;
  Bytes frame = SimFrame({0x02});
  port.Arrive(atMs, frame);
  unsigned char answer = 0;
  EXPECT_EQ(ReceivePacket(port, &answer, 1, true, kIgnoreNothing), S_OK);
  return port.requests - static_cast<int>(frame.size());
}

}  // namespace

// Each read request waits 1000 ms for its byte, scaled by the timing seam.
TEST(Transport, AReadRequestWaitsOneSecond) {
  {
    ScopedTimeScale real(1.0);
    EXPECT_EQ(RequestsForAFrameArrivingAt(600), 0);   // still read by the first request
    EXPECT_EQ(RequestsForAFrameArrivingAt(1001), 1);  // one request timed out first
  }
  ScopedTimeScale fast(0.01);
  EXPECT_EQ(RequestsForAFrameArrivingAt(6), 0);
  EXPECT_EQ(RequestsForAFrameArrivingAt(11), 1);
}

TEST(Transport, TheByteAfterAnEscapeIsNotRetried) {
  ScopedTimeScale fast(0.001);
  ScriptedPort port;
  port.Answer({0x7E, 0x01, 0x7D});
  port.Timeout();
  port.Answer({0x5E});
  unsigned char buffer[4];
  EXPECT_EQ(ReceivePacket(port, buffer, 4, false, kIgnoreNothing), kReadTimeout);
  EXPECT_EQ(port.readRequests, 4);
}

TEST(Transport, TenFailedWritesLeaveElevenTraceLines) {
  ScopedTimeScale fast(0.001);
  {
    LogCapture log;
    ScriptedPort port;
    port.FailWrites(HRESULT_FROM_WIN32(ERROR_IO_DEVICE), 10);
    unsigned char packet = 0x07;
    EXPECT_EQ(TransmitPacket(port, &packet, 1), HRESULT_FROM_WIN32(ERROR_IO_DEVICE));
    EXPECT_EQ(port.writeRequests, 10);
    EXPECT_EQ(log.Count("TransmitPacket("), 11);
  }
  LogCapture log;
  ScriptedPort port;
  port.FailWrites(HRESULT_FROM_WIN32(ERROR_IO_DEVICE), 9);
  unsigned char packet = 0x07;
  EXPECT_EQ(TransmitPacket(port, &packet, 1), S_OK);
  EXPECT_EQ(port.writes.size(), 1u);
  EXPECT_EQ(log.Count("TransmitPacket("), 9);
}

TEST(Transport, AStopRequestEndsTheRetries) {
  std::stop_source stop;
  stop.request_stop();
  ScopedStopToken scoped(stop.get_token());
  ScriptedPort port;
  unsigned char buffer[1];
  EXPECT_EQ(ReceivePacket(port, buffer, 1, true, kIgnoreNothing), HRESULT_FROM_WIN32(ERROR_CANCELLED));
  EXPECT_EQ(port.readRequests, 1);
}

namespace {

// Hands its bytes out in runs of `chunk` through Buffered, as the tty port
// does after a large read.
class ChunkPort : public SerialPort {
 public:
  ChunkPort(Bytes bytes, size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
  HRESULT ReadByte(unsigned char* byte, unsigned) override {
    if (pos_ >= bytes_.size()) return kReadTimeout;
    available_ = std::min(chunk_, bytes_.size() - pos_) - 1;
    *byte = bytes_[pos_++];
    return S_OK;
  }
  HRESULT Write(const unsigned char*, size_t) override { return S_OK; }
  size_t Buffered(const unsigned char** data) override {
    *data = bytes_.data() + pos_;
    return available_;
  }
  void Consume(size_t n) override {
    pos_ += n;
    available_ -= n;
  }
  size_t left() const { return bytes_.size() - pos_; }

 private:
  Bytes bytes_;
  size_t chunk_, pos_ = 0, available_ = 0;
};

}  // namespace

TEST(Transport, BufferedBytesGiveTheSameFramesAsSingleReads) {
  ScopedTimeScale fast(0.001);
  // A stream of frames with every kind of byte, noise, skipped log packets
  // and a corrupted frame, read with several run lengths.
  std::vector<Bytes> payloads;
  Bytes wire = {0x01, 0x7D};  // noise, including an escape outside a frame
  for (unsigned n = 0; n < 40; ++n) {
    Bytes payload = Pattern(1 + n * 7 % 50, n);
    if (n % 5 == 0) payload.insert(payload.end(), {0x7E, 0x7D, 0x7D, 0x7E});
    if (n % 9 == 4) payload[0] = 0x0E;  // a log packet, skipped
    payloads.push_back(payload);
    Bytes frame = SimFrame(payload, n == 33);
    wire.insert(wire.end(), frame.begin(), frame.end());
    if (n % 3 == 0) wire.push_back(0x7E);  // a repeated flag
  }
  auto readAll = [&](SerialPort& port) {
    std::vector<std::pair<HRESULT, Bytes>> out;
    for (;;) {
      unsigned char buffer[64] = {};
      size_t received = 0;
      HRESULT hr = ReceivePacket(port, buffer, 60, false, 0x0E, &received);
      if (hr == kReadTimeout) return out;
      out.emplace_back(hr, Bytes(buffer, buffer + (SUCCEEDED(hr) ? received : 0)));
    }
  };
  ScriptedPort single;
  single.Answer(wire);
  auto expected = readAll(single);
  ASSERT_EQ(expected.size(), 40u - 4u);  // four log packets were skipped
  EXPECT_EQ(expected[29].first, HRESULT_FROM_WIN32(ERROR_CRC));
  for (size_t chunk : {1, 2, 3, 7, 64, 100000}) {
    ChunkPort port(wire, chunk);
    EXPECT_EQ(readAll(port), expected) << "runs of " << chunk;
    EXPECT_EQ(port.left(), 0u);
  }
}

namespace {
struct RecordingSink : IQStatusReport {
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT NewStatus(LONG id, const Bstr& first, const Bstr& second) override {
    ids.push_back(id);
    firstWasNull.push_back(first.IsNull());
    texts.push_back(second.str());
    return E_FAIL;  // ignored by the caller
  }
  std::vector<LONG> ids;
  std::vector<bool> firstWasNull;
  std::vector<std::string> texts;
};
}  // namespace

TEST(Transport, NotifyStatusSendsTheTextAsTheSecondString) {
  RecordingSink sink;
  NotifyStatus(&sink, "Send hello command %d", 7);
  NotifyStatus(nullptr, "%s", "nobody listens");
  ASSERT_EQ(sink.texts.size(), 1u);
  EXPECT_EQ(sink.texts[0], "Send hello command 7");
  EXPECT_EQ(sink.ids[0], 0);
  EXPECT_TRUE(sink.firstWasNull[0]);
}

TEST(TransportDump, EachCallWritesOneDumpLineWhenDumpsAreOn) {
  if (!DumpEnabled()) GTEST_SKIP() << "runs in the dumps-on pass";
  LogCapture log;
  ScriptedPort port;
  unsigned char packet = 0x07;
  TransmitPacket(port, &packet, 1);
  port.Answer({0x55, 0x7E, 0x02, 0x6A, 0xD3, 0x7E});
  unsigned char answer;
  ReceivePacket(port, &answer, 1, true, kIgnoreNothing);
  EXPECT_EQ(log.Text(), "TransmitPacket\r\n7E 07 C7 84 7E \r\nReceivePacket\r\n55 7E 02 6A D3 7E \r\n");
}
