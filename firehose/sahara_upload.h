// Sahara: the boot ROM asks for the flash programmer piece by piece and
// starts it. The host answers HELLO, serves every read request from the
// programmer file exactly, and ends with DONE once the ROM accepted the image.
#pragma once
#include <vector>

#include "download/serial_port.h"
#include "jobs/status_sink.h"

// How long the host waits for each packet of the boot ROM.
inline constexpr unsigned kSaharaPacketWaitMs = 5000;
// The largest piece served for one read request.
inline constexpr std::uint64_t kMaxSaharaReadLength = 0x100000;

// Uploads the programmer. first is a packet the protocol probe already read
// (empty when none). A phone that refuses the image ends the upload with its
// status reported by name; no packet within the wait is
// HRESULT_FROM_WIN32(ERROR_TIMEOUT).
HRESULT UploadProgrammer(SerialPort& port, const std::vector<unsigned char>& programmer,
                         std::vector<unsigned char> first, IQStatusReport* sink);

// The result an END_IMAGE_TX status turns into.
HRESULT SaharaStatusResult(std::uint32_t status);
