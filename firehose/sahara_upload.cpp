#include "firehose/sahara_upload.h"

#include "download/transport.h"
#include "firehose/port_reads.h"
#include "firehose/sahara_packets.h"
#include "shell/log.h"

namespace {

constexpr const char* kName = "UploadProgrammer";
constexpr HRESULT kInvalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
constexpr int kMaxHellos = 32;
// How long the line must stay quiet after a HELLO before it is answered.
constexpr unsigned kHelloQuietMs = 100;
constexpr int kMaxPackets = 1 << 20;
constexpr int kRequestsPerStatus = 16;

HRESULT Fail(HRESULT hr, int line) {
  TraceResult(hr, kName, line);
  return hr;
}

// The state of one upload.
struct Upload {
  SerialPort& port;
  const std::vector<unsigned char>& programmer;
  IQStatusReport* sink;
  bool helloAnswered = false;
  bool resetSent = false;
  bool imageKnown = false;
  std::uint64_t imageId = 0;
  int hellos = 0;
  int requests = 0;
  bool done = false;
  std::vector<unsigned char> next;  // a packet read ahead, handled next
};

HRESULT Write(Upload& u, const unsigned char* data, size_t size) {
  HRESULT hr = u.port.Write(data, size);
  return SUCCEEDED(hr) ? hr : Fail(hr, __LINE__);
}

// The packet that begins within the quiet time, or S_FALSE when none does.
HRESULT PacketWithin(SerialPort& port, unsigned quietMs, std::vector<unsigned char>* packet) {
  packet->assign(1, 0);
  HRESULT hr = firehose::ReadByteBefore(port, firehose::DeadlineIn(quietMs), packet->data());
  if (hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) {
    packet->clear();
    return S_FALSE;
  }
  if (FAILED(hr)) return hr;
  return firehose::CompleteSaharaPacket(port, firehose::DeadlineIn(kSaharaPacketWaitMs), packet);
}

// A HELLO is answered once the line is quiet. A phone that heard noise on a
// freshly opened port repeats its HELLO, once for each piece of noise; of
// such a run only the last is answered, as each answer after the first would
// be taken for programmer data. A packet of another kind that follows is
// handled after the answer.
HRESULT AnswerHello(Upload& u, const std::vector<unsigned char>& first) {
  std::vector<unsigned char> packet = first;
  sahara::Hello hello;
  for (;;) {
    HRESULT hr = sahara::DecodeHello(packet, &hello);
    if (FAILED(hr)) return Fail(hr, __LINE__);
    if (++u.hellos > kMaxHellos) return Fail(kInvalid, __LINE__);
    hr = PacketWithin(u.port, kHelloQuietMs, &u.next);
    if (FAILED(hr)) return Fail(hr, __LINE__);
    if (hr == S_FALSE || u.next[0] != sahara::kHello) break;
    WriteLog("Sahara: HELLO repeated before it was answered; the last one is answered");
    packet = std::move(u.next);
    u.next.clear();
  }
  NotifyStatus(u.sink, "Sahara hello: version %u, mode %u", hello.version, hello.mode);
  auto answer = sahara::EncodeHelloResponse(sahara::kHostVersion, sahara::kHostVersionCompatible, 0,
                                            sahara::kModeImageTransferPending);
  u.helloAnswered = true;
  return Write(u, answer.data(), answer.size());
}

HRESULT ServeRead(Upload& u, const std::vector<unsigned char>& packet) {
  sahara::ReadRequest r;
  HRESULT hr = sahara::DecodeReadRequest(packet, &r);
  if (FAILED(hr)) return Fail(hr, __LINE__);
  if (!u.imageKnown) u.imageId = r.imageId;
  u.imageKnown = true;
  if (r.imageId != u.imageId || r.length == 0 || r.length > kMaxSaharaReadLength || r.offset > u.programmer.size() ||
      r.length > u.programmer.size() - r.offset) {
    NotifyStatus(u.sink, "Sahara read of image %llu at %#llx, %#llx bytes is outside the programmer (%zu bytes)",
                 static_cast<unsigned long long>(r.imageId), static_cast<unsigned long long>(r.offset),
                 static_cast<unsigned long long>(r.length), u.programmer.size());
    return Fail(kInvalid, __LINE__);
  }
  if (u.requests++ % kRequestsPerStatus == 0)
    NotifyStatus(u.sink, "Sahara read data offset %#llx, size %#llx", static_cast<unsigned long long>(r.offset),
                 static_cast<unsigned long long>(r.length));
  return Write(u, u.programmer.data() + r.offset, static_cast<size_t>(r.length));
}

HRESULT EndImage(Upload& u, const std::vector<unsigned char>& packet) {
  sahara::EndImage end;
  HRESULT hr = sahara::DecodeEndImage(packet, &end);
  if (FAILED(hr)) return Fail(hr, __LINE__);
  if (end.status != 0) {
    NotifyStatus(u.sink, "Sahara: the phone refused the programmer: %s (status %#x)", sahara::StatusName(end.status),
                 end.status);
    return Fail(SaharaStatusResult(end.status), __LINE__);
  }
  NotifyStatus(u.sink, "Sahara: programmer accepted, send done");
  auto done = sahara::EncodeHeaderOnly(sahara::kDone);
  return Write(u, done.data(), done.size());
}

HRESULT Handle(Upload& u, const std::vector<unsigned char>& packet) {
  sahara::Header header;
  HRESULT hr = sahara::DecodeHeader(packet, &header);
  if (FAILED(hr)) return Fail(hr, __LINE__);
  if (header.command == sahara::kHello) return AnswerHello(u, packet);
  // A ROM that speaks first with anything but HELLO was left in an earlier
  // exchange's state: a RESET brings it back to HELLO.
  if (!u.helloAnswered) {
    if (header.command == sahara::kResetResponse && u.resetSent) return S_OK;
    if (u.resetSent) return Fail(kInvalid, __LINE__);
    NotifyStatus(u.sink, "Sahara: phone not at hello (command %#x), send reset", header.command);
    u.resetSent = true;
    auto reset = sahara::EncodeHeaderOnly(sahara::kReset);
    return Write(u, reset.data(), reset.size());
  }
  switch (header.command) {
    case sahara::kReadData:
    case sahara::kReadData64: return ServeRead(u, packet);
    case sahara::kEndImageTransfer: return EndImage(u, packet);
    case sahara::kDoneResponse: {
      std::uint32_t status = 0;
      hr = sahara::DecodeDoneResponse(packet, &status);
      if (FAILED(hr)) return Fail(hr, __LINE__);
      // With a single programmer, "more images pending" after it means done too.
      u.done = true;
      return S_OK;
    }
    default:
      WriteLog("Sahara: packet %#x of %u bytes ignored", header.command, header.length);
      return S_OK;
  }
}

}  // namespace

HRESULT SaharaStatusResult(std::uint32_t status) {
  if (status == 0x16 || status == 0x17) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  if (status == 0x14) return HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  if (status >= 0x21 && status <= 0x25) return E_ACCESSDENIED;
  return kInvalid;
}

HRESULT UploadProgrammer(SerialPort& port, const std::vector<unsigned char>& programmer,
                         std::vector<unsigned char> first, IQStatusReport* sink) {
  NotifyStatus(sink, "Sahara: upload programmer (%zu bytes)", programmer.size());
  Upload u{port, programmer, sink};
  std::vector<unsigned char> packet = std::move(first);
  for (int count = 0; count < kMaxPackets; ++count) {
    if (packet.empty()) packet.swap(u.next);
    if (packet.empty()) {
      HRESULT hr = firehose::ReadSaharaPacket(port, kSaharaPacketWaitMs, &packet);
      if (FAILED(hr)) return Fail(hr, __LINE__);
    }
    HRESULT hr = Handle(u, packet);
    if (FAILED(hr)) return hr;
    if (u.done) return S_OK;
    packet.clear();
  }
  return Fail(kInvalid, __LINE__);
}
