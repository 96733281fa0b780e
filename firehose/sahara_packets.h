// Sahara packets: the boot ROM's upload protocol. Every packet starts with a
// little-endian command and total length; these functions encode the host's
// packets and decode the phone's, with no I/O, so a byte span from a
// test or a port goes through the same checks.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/hresult.h"

namespace sahara {

enum Command : std::uint32_t {
  kHello = 0x01,
  kHelloResponse = 0x02,
  kReadData = 0x03,
  kEndImageTransfer = 0x04,
  kDone = 0x05,
  kDoneResponse = 0x06,
  kReset = 0x07,
  kResetResponse = 0x08,
  kReadData64 = 0x12,
};

inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kHelloSize = 0x30;
// The largest packet a phone may send; anything longer is not Sahara.
inline constexpr size_t kMaxPacketSize = 4096;

// The host's answer to HELLO.
inline constexpr std::uint32_t kHostVersion = 2;
inline constexpr std::uint32_t kHostVersionCompatible = 1;
inline constexpr std::uint32_t kModeImageTransferPending = 0;

struct Header {
  std::uint32_t command = 0;
  std::uint32_t length = 0;
};

struct Hello {
  std::uint32_t version = 0;
  std::uint32_t versionCompatible = 0;
  std::uint32_t maxLength = 0;
  std::uint32_t mode = 0;
};

// READ_DATA and READ_DATA_64 alike.
struct ReadRequest {
  std::uint64_t imageId = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct EndImage {
  std::uint32_t imageId = 0;
  std::uint32_t status = 0;
};

// The header of a packet whose first 8 bytes are given; ERROR_INVALID_DATA
// when its length is below the header or above kMaxPacketSize.
HRESULT DecodeHeader(std::span<const unsigned char> bytes, Header* header);

// Each decoder takes a whole packet and checks its command and exact length
// (ERROR_INVALID_DATA otherwise).
HRESULT DecodeHello(std::span<const unsigned char> packet, Hello* hello);
HRESULT DecodeReadRequest(std::span<const unsigned char> packet, ReadRequest* request);
HRESULT DecodeEndImage(std::span<const unsigned char> packet, EndImage* end);
// DONE_RESP's image transfer status: 1 all images done, 0 more pending.
HRESULT DecodeDoneResponse(std::span<const unsigned char> packet, std::uint32_t* status);

std::array<unsigned char, kHelloSize> EncodeHelloResponse(std::uint32_t version, std::uint32_t versionCompatible,
                                                           std::uint32_t status, std::uint32_t mode);
// A header-only packet: DONE or RESET.
std::array<unsigned char, kHeaderSize> EncodeHeaderOnly(std::uint32_t command);

// The name of an END_IMAGE_TX status code ("image authentication failed");
// "unknown status" for a code outside the table.
const char* StatusName(std::uint32_t status);

}  // namespace sahara
