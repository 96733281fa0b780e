#include "nv/diag_link.h"

#include <chrono>

#include "platform/timing.h"
#include "shell/log.h"

namespace {

constexpr unsigned kDrainQuietMs = 20;
using Clock = std::chrono::steady_clock;

}  // namespace

void DiagLink::Drain() {
  const unsigned quiet = ScaledMilliseconds(kDrainQuietMs);
  unsigned char byte;
  for (int i = 0; i < 65536; ++i) {
    const unsigned char* held = nullptr;
    size_t n = port_.Buffered(&held);
    if (n != 0) {
      port_.Consume(n);
      continue;
    }
    if (port_.ReadByte(&byte, quiet) != S_OK) break;
  }
  decoder_ = DiagFrameDecoder();
}

HRESULT DiagLink::Exchange(const DiagPacket& request) {
  constexpr const char* kName = "DiagLink::Exchange";
  CHexDump sent("DiagRequest\r\n");
  CHexDump received("DiagAnswer\r\n");
  EncodeDiagFrame(request, &frame_);
  HRESULT hr = port_.Write(frame_.data(), frame_.size());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  sent.Append(frame_.data(), frame_.size());

  decoder_.ResetCounts();
  const auto deadline = Clock::now() + std::chrono::milliseconds(ScaledMilliseconds(kDiagAnswerTimeoutMs));
  for (;;) {
    // Bytes the port already holds are taken in one go.
    const unsigned char* bytes = nullptr;
    size_t size = port_.Buffered(&bytes);
    unsigned char fetched = 0;
    if (size == 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      hr = left > 0 ? port_.ReadByte(&fetched, static_cast<unsigned>(left)) : kReadTimeout;
      if (hr == kReadTimeout) {
        hr = decoder_.badFrames() > 0 ? HRESULT_FROM_WIN32(ERROR_CRC) : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
      }
      if (!TraceResult(hr, kName, __LINE__)) return hr;
      bytes = &fetched;
      size = 1;
    }
    size_t used = 0;
    bool done = false;
    while (used < size && !done) {
      bool closed = false;
      used += decoder_.Feed(bytes + used, size - used, &closed);
      done = closed && MatchAnswer(request, decoder_.packet()) != DiagMatch::Foreign;
    }
    received.Append(bytes, used);
    if (bytes != &fetched) port_.Consume(used);
    if (done) return S_OK;
    // A phone that keeps sending other packets gets no more time than a
    // silent one.
    if (Clock::now() >= deadline) {
      hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
      TraceResult(hr, kName, __LINE__);
      return hr;
    }
  }
}

HRESULT OpenDiagPort(const std::string& path, std::unique_ptr<SerialPort>* port) {
  HRESULT hr = OpenSerialPort(path, port);
  TraceResult(hr, "OpenDiagPort", __LINE__);
  return hr;
}
