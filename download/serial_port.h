// The port a download run talks through: one byte read within a time
// limit, one buffer written. The tty implementation serves real phones and
// the virtual bench's pseudo-terminals; tests use in-memory fakes.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "platform/hresult.h"

// A read that returned no byte within its time limit.
constexpr HRESULT kReadTimeout = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);  // 0x80070026

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // S_OK with *byte set; kReadTimeout when no byte came within timeoutMs; a
  // failure when the device failed or vanished; ports that wait in slices
  // give up with HRESULT_FROM_WIN32(ERROR_CANCELLED) once the thread's work
  // is asked to stop.
  virtual HRESULT ReadByte(unsigned char* byte, unsigned timeoutMs) = 0;
  // Writes every byte; a failure when the device failed or vanished.
  virtual HRESULT Write(const unsigned char* data, size_t size) = 0;
  // Bytes already received and not yet handed out, which a reader may take
  // without a request: *data points at them until the next call. Consume(n)
  // hands out the first n. Ports without a buffer hold none.
  virtual size_t Buffered(const unsigned char** data) {
    *data = nullptr;
    return 0;
  }
  virtual void Consume(size_t) {}
};

// Opens a serial device read-write, exclusive (TIOCEXCL) and raw. Reads are
// served from an internal buffer filled by large reads, so each byte costs a
// read request only when the buffer is empty; each fill is one blocking read
// that the tty ends after 100 ms without a byte, so the thread's stop request
// is seen within 100 ms however long the time-out and whatever the phone
// sends (ERROR_CANCELLED). A device that hangs up or fails reads as
// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED). Writes never time out, but
// give up with ERROR_CANCELLED when the thread's work is asked to stop.
HRESULT OpenSerialPort(const std::string& path, std::unique_ptr<SerialPort>* port);
