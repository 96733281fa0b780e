#include "firehose/protocol_probe.h"

#include <algorithm>
#include <chrono>

#include "download/transport.h"
#include "firehose/port_reads.h"
#include "firehose/sahara_packets.h"
#include "shell/log.h"

namespace {

constexpr const char* kListenName = "ListenToPhone";
constexpr const char* kAskName = "AskPhone";
constexpr unsigned char kFlag = 0x7E;
// The DMSS parameter request, framed: the first packet the DMSS download sends.
constexpr unsigned char kDmssParameterRequest[] = {0x7E, 0x07, 0xC7, 0x84, 0x7E};
constexpr size_t kMaxDmssAnswer = 64;
constexpr HRESULT kTimeout = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
// However far the waits are scaled down, a probe waits at least this long:
// an answer read late would be taken for the answer to the next request.
constexpr auto kShortestProbeWait = std::chrono::milliseconds(200);

firehose::Deadline ProbeDeadline(unsigned ms) {
  return std::max(firehose::DeadlineIn(ms), std::chrono::steady_clock::now() + kShortestProbeWait);
}

bool IsSaharaStart(unsigned char byte) {
  return byte == sahara::kHello || byte == sahara::kEndImageTransfer || byte == sahara::kReadData ||
         byte == sahara::kReadData64;
}

// Reads the rest of a DMSS frame whose opening flag was read.
HRESULT DrainDmssFrame(SerialPort& port, firehose::Deadline deadline) {
  for (size_t count = 0; count < kMaxDmssAnswer; ++count) {
    unsigned char byte = 0;
    HRESULT hr = firehose::ReadByteBefore(port, deadline, &byte);
    if (FAILED(hr)) return hr;
    if (byte == kFlag && count > 0) return S_OK;
  }
  return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}

// Sorts the phone by its first byte and reads what belongs to it.
HRESULT Classify(SerialPort& port, unsigned char first, firehose::Deadline deadline, ProbeResult* result) {
  result->bytes.assign(1, first);
  if (IsSaharaStart(first)) {
    result->protocol = PhoneProtocol::kSahara;
    return firehose::CompleteSaharaPacket(port, deadline, &result->bytes);
  }
  if (first == '<') {
    result->protocol = PhoneProtocol::kFirehose;
    const unsigned char* held = nullptr;
    size_t count = port.Buffered(&held);
    result->bytes.insert(result->bytes.end(), held, held + count);
    port.Consume(count);
    return S_OK;
  }
  if (first == kFlag) {
    result->protocol = PhoneProtocol::kDmss;
    return DrainDmssFrame(port, deadline);
  }
  return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
}

// Writes a probe and sorts the answer; kSilent when none comes in time.
HRESULT Probe(SerialPort& port, const unsigned char* probe, size_t size, ProbeResult* result) {
  HRESULT hr = port.Write(probe, size);
  if (FAILED(hr)) return hr;
  unsigned char first = 0;
  hr = firehose::ReadByteBefore(port, ProbeDeadline(kAskWaitMs), &first);
  if (hr == kTimeout) return S_OK;
  if (FAILED(hr)) return hr;
  return Classify(port, first, ProbeDeadline(kAskWaitMs), result);
}

const char* ProtocolText(PhoneProtocol protocol) {
  switch (protocol) {
    case PhoneProtocol::kSahara: return "Sahara boot ROM: programmer upload, then Firehose";
    case PhoneProtocol::kFirehose: return "Firehose programmer already running";
    case PhoneProtocol::kDmss: return "DMSS boot loader: programmer download, then streaming download";
    default: return "no answer from the phone";
  }
}

}  // namespace

HRESULT ListenToPhone(SerialPort& port, IQStatusReport* sink, ProbeResult* result) {
  *result = ProbeResult{};
  NotifyStatus(sink, "Listen for the phone's boot ROM");
  unsigned char first = 0;
  HRESULT hr = firehose::ReadByteBefore(port, ProbeDeadline(kListenWaitMs), &first);
  if (hr == kTimeout) return S_OK;
  if (SUCCEEDED(hr)) hr = Classify(port, first, ProbeDeadline(kAskWaitMs), result);
  if (!TraceResult(hr, kListenName, __LINE__)) return hr;
  NotifyStatus(sink, "%s", ProtocolText(result->protocol));
  return S_OK;
}

HRESULT AskPhone(SerialPort& port, IQStatusReport* sink, ProbeResult* result) {
  *result = ProbeResult{};
  NotifyStatus(sink, "Ask the phone which protocol it speaks");
  HRESULT hr = Probe(port, kDmssParameterRequest, sizeof kDmssParameterRequest, result);
  if (SUCCEEDED(hr) && result->protocol == PhoneProtocol::kSilent) {
    auto hello = sahara::EncodeHelloResponse(sahara::kHostVersion, sahara::kHostVersionCompatible, 0,
                                             sahara::kModeImageTransferPending);
    hr = Probe(port, hello.data(), hello.size(), result);
  }
  if (!TraceResult(hr, kAskName, __LINE__)) return hr;
  NotifyStatus(sink, "%s", ProtocolText(result->protocol));
  return S_OK;
}
