// The diagnostic link to a running phone: one request at a time, each
// answered by the packet that matches it (same command code, the same item
// for NV packets, the same header for subsystem packets) or by an error
// response. Packets that answer nothing (logs, messages, events) are skipped.
#pragma once
#include <memory>
#include <string>

#include "download/serial_port.h"
#include "nv/diag_packets.h"

// How long an answer may take (through the timing seam).
constexpr unsigned kDiagAnswerTimeoutMs = 3000;

class DiagLink {
 public:
  explicit DiagLink(SerialPort& port) : port_(port) {}

  // Drops what the phone has queued before the first request.
  void Drain();

  // Sends request and waits for its answer. On S_OK answer() is the answer
  // or the error response (the caller tells them apart by the first byte).
  // Failures: HRESULT_FROM_WIN32(ERROR_TIMEOUT) when nothing matching came
  // in time, ERROR_CRC when only frames with a wrong check sequence came,
  // the port's failure when it failed or vanished.
  HRESULT Exchange(const DiagPacket& request);
  // The last answer, read in place in the link's receive buffer: valid until
  // the next Exchange or Drain.
  const DiagPacket& answer() const { return decoder_.packet(); }

 private:
  SerialPort& port_;
  DiagFrameDecoder decoder_;
  DiagPacket frame_;  // the request's frame; its storage serves every request
};

// Opens a phone's diagnostic port as the serial transport opens its ports
// (exclusive, raw).
HRESULT OpenDiagPort(const std::string& path, std::unique_ptr<SerialPort>* port);
