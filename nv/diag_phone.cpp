#include "nv/diag_phone.h"

#include "download/byte_order.h"
#include "platform/timing.h"
#include "shell/log.h"

namespace {

constexpr int kAttempts = 2;

bool IsLinkFailure(HRESULT hr) { return hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT) || hr == HRESULT_FROM_WIN32(ERROR_CRC); }

}  // namespace

HRESULT DiagPhone::Ask(const DiagPacket& request) {
  HRESULT hr = E_FAIL;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    hr = link_.Exchange(request);
    if (!IsLinkFailure(hr)) break;
  }
  TraceResult(hr, "DiagPhone::Ask", __LINE__);
  return hr;
}

HRESULT DiagPhone::Probe(PhoneVersion* version) {
  constexpr const char* kName = "DiagPhone::Probe";
  link_.Drain();
  HRESULT hr = Ask(VersionRequest());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  const DiagPacket& answer = link_.answer();
  if (answer[0] != kDiagVersion) hr = DiagErrorResult(answer[0]);
  else if (!ParseVersion(answer, version)) hr = HRESULT_FROM_WIN32(ERROR_BAD_FORMAT);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT DiagPhone::ReadEsn(std::uint32_t* esn) {
  *esn = 0;
  HRESULT hr = Ask(EsnRequest());
  if (!TraceResult(hr, "DiagPhone::ReadEsn", __LINE__)) return hr;
  const DiagPacket& answer = link_.answer();
  if (answer[0] == kDiagEsn && answer.size() >= 5) {
    *esn = GetLittleEndian32(&answer[1]);
    return S_OK;
  }
  return S_FALSE;  // an error response or a short answer: the ESN is not known
}

HRESULT DiagPhone::Unlock(std::string_view code) {
  constexpr const char* kName = "DiagPhone::Unlock";
  HRESULT hr = Ask(SpcRequest(code));
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  const DiagPacket& answer = link_.answer();
  if (answer[0] != kDiagSpc) hr = DiagErrorResult(answer[0]);
  else if (answer.size() < 2 || answer[1] != 1) hr = HRESULT_FROM_WIN32(ERROR_INVALID_PASSWORD);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT DiagPhone::SetMode(std::uint16_t mode) {
  constexpr const char* kName = "DiagPhone::SetMode";
  HRESULT hr = Ask(ModeRequest(mode));
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  const DiagPacket& answer = link_.answer();
  if (answer[0] != kDiagModeChange) hr = DiagErrorResult(answer[0]);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT DiagPhone::AskNv(NvAnswer* nv, unsigned char* errorCode) {
  constexpr const char* kName = "DiagPhone::AskNv";
  *errorCode = 0;
  for (int busy = 0;; ++busy) {
    HRESULT hr = Ask(request_);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    const DiagPacket& answer = link_.answer();
    if (IsDiagError(answer[0])) {
      *errorCode = answer[0];
      return DiagErrorResult(answer[0]);  // the caller decides whether it matters
    }
    if (!ParseNvAnswer(answer, nv)) {
      TraceResult(HRESULT_FROM_WIN32(ERROR_BAD_LENGTH), kName, __LINE__);
      return HRESULT_FROM_WIN32(ERROR_BAD_LENGTH);
    }
    if (nv->status != kNvBusy || busy == kNvBusyRetries) return S_OK;
    if (!WaitUnlessStopped(kNvBusyPauseMs)) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  }
}

HRESULT DiagPhone::Read(std::uint16_t id, unsigned char element, NvAnswer* answer, unsigned char* errorCode) {
  NvReadRequest(id, element, &request_);
  return AskNv(answer, errorCode);
}

HRESULT DiagPhone::Write(const NvItem& item, NvAnswer* answer, unsigned char* errorCode) {
  NvWriteRequest(item.id, item.data, &request_);
  return AskNv(answer, errorCode);
}

HRESULT DiagPhone::ReadContext(std::uint16_t id, std::uint16_t context, NvAnswer* answer, unsigned char* errorCode) {
  NvContextReadRequest(id, context, &request_);
  return AskNv(answer, errorCode);
}

HRESULT DiagPhone::WriteContext(const NvItem& item, std::uint16_t context, NvAnswer* answer, unsigned char* errorCode) {
  NvContextWriteRequest(item.id, context, item.data, &request_);
  return AskNv(answer, errorCode);
}
