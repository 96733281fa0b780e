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
// a phone: a read request names its length in 2 bytes, so a larger block
// could be written but never read back.
constexpr size_t kHelloResponseCapacity = 1068;
constexpr std::uint32_t kMaxBlock = 65535;

// Checks and decodes a hello response of `size` bytes: the target's text
// (else ERROR_REVISION_MISMATCH), the length up to the window field (else
// ERROR_BAD_FORMAT), then N in 1..65535 and W > 0 (else ERROR_INVALID_DATA).
HRESULT DecodeHelloResponse(const unsigned char* response, size_t size, HelloParameters* out);

class BootImage;

// Opens the boot image (see BootImage::Open). Nothing is sent.
HRESULT OpenBootImage(const std::string& path, BootImage* image);

HRESULT DownloadMiniKernel(const std::string& path, IQStatusReport* sink, SerialPort& port);
// The same with the boot image already open ("Open boot file" is still sent).
HRESULT DownloadMiniKernel(const std::string& path, const BootImage& image, IQStatusReport* sink, SerialPort& port);
