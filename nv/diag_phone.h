// The commands the NV service gives a running phone over its diagnostic
// link, each turned into a result: version (the probe), ESN, service
// programming code, mode change, NV read and write, plain or for a
// subscription context. A request whose answer does not come (or comes
// garbled) is sent once more; an NV request answered "busy" is asked again
// after a pause, a few times.
#pragma once
#include <cstdint>
#include <string_view>

#include "nv/diag_link.h"

class DiagPhone {
 public:
  explicit DiagPhone(SerialPort& port) : link_(port) {}

  // Drains the port and asks for the version; ERROR_BAD_FORMAT when the
  // answer is too short.
  HRESULT Probe(PhoneVersion* version);
  // The phone's ESN; S_FALSE (and 0) when the phone does not know the command.
  HRESULT ReadEsn(std::uint32_t* esn);
  // HRESULT_FROM_WIN32(ERROR_INVALID_PASSWORD) when the phone refuses code.
  HRESULT Unlock(std::string_view code);
  HRESULT SetMode(std::uint16_t mode);

  // An NV read or write: S_OK with the phone's NV status in answer->status,
  // or the failure an error response stands for (*errorCode is then its
  // code, else 0). Status busy is asked again; it stays only when it lasts.
  HRESULT Read(std::uint16_t id, unsigned char element, NvAnswer* answer, unsigned char* errorCode);
  HRESULT Write(const NvItem& item, NvAnswer* answer, unsigned char* errorCode);
  HRESULT ReadContext(std::uint16_t id, std::uint16_t context, NvAnswer* answer, unsigned char* errorCode);
  HRESULT WriteContext(const NvItem& item, std::uint16_t context, NvAnswer* answer, unsigned char* errorCode);

 private:
  // Exchange with one more try when the answer does not come or is garbled;
  // on S_OK the answer is link_.answer().
  HRESULT Ask(const DiagPacket& request);
  // Asks the NV request in request_.
  HRESULT AskNv(NvAnswer* answer, unsigned char* errorCode);
  DiagLink link_;
  DiagPacket request_;  // the NV request in flight; its storage serves every one
};

// How often, and after what pause, a busy NV request is asked again.
constexpr int kNvBusyRetries = 10;
constexpr unsigned kNvBusyPauseMs = 100;
