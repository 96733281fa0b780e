// Second stage of an emergency download: the streaming download protocol
// writes the boot image into the eMMC USER partition of a phone that runs
// the flash programmer, reads it back, and resets the phone into it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "download/serial_port.h"
#include "jobs/status_sink.h"

struct HelloParameters {
  std::uint32_t largestBlock = 0;  // N: data bytes per write or read packet
  std::uint16_t window = 0;        // W: write packets that may await acknowledgement
};

// The most a hello response is read for, and the largest block accepted from
// a phone (a phone's numbers never size an allocation unchecked).
constexpr size_t kHelloResponseCapacity = 1068;
constexpr std::uint32_t kMaxBlock = 1024 * 1024;

// Checks and decodes a hello response of `size` bytes: the target's text
// (else ERROR_REVISION_MISMATCH), the length up to the window field (else
// ERROR_BAD_FORMAT), then N in 1..1 MiB and W > 0 (else ERROR_INVALID_DATA).
HRESULT DecodeHelloResponse(const unsigned char* response, size_t size, HelloParameters* out);

HRESULT DownloadMiniKernel(const std::string& path, IQStatusReport* sink, SerialPort& port);
