#include "firehose/sahara_packets.h"

#include "download/byte_order.h"

namespace sahara {

namespace {

constexpr HRESULT kInvalid = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

constexpr size_t kReadDataSize = 0x14;
constexpr size_t kReadData64Size = 0x20;
constexpr size_t kEndImageSize = 0x10;
constexpr size_t kDoneResponseSize = 0x0C;

// The packet holds exactly size bytes, and its header says command and size.
bool Is(std::span<const unsigned char> packet, std::uint32_t command, size_t size) {
  return packet.size() == size && GetLittleEndian32(packet.data()) == command &&
         GetLittleEndian32(packet.data() + 4) == size;
}

// Indexed by status code, 0x00 to 0x28.
constexpr const char* kStatusNames[] = {
    "success",
    "invalid command for current state",
    "protocol mismatch",
    "invalid target protocol version",
    "invalid host protocol version",
    "invalid packet size",
    "unexpected image id",
    "invalid image header size",
    "invalid image data size",
    "invalid image type",
    "invalid transmit length",
    "invalid receive length",
    "general transmit/receive error",
    "error sending READ_DATA",
    "unsupported number of program headers",
    "invalid program-header data length",
    "multiple shared segments",
    "uninitialised program-header location",
    "invalid destination address",
    "invalid image-header data size",
    "invalid ELF header",
    "unknown host error in HELLO_RESP",
    "receive timeout",
    "transmit timeout",
    "invalid host mode",
    "invalid memory read",
    "host cannot handle requested data size",
    "memory debug not supported",
    "invalid mode switch",
    "command execution failed",
    "invalid command parameter",
    "unsupported client command",
    "invalid client command for data response",
    "hash table authentication failed",
    "segment hash verification failed",
    "hash table not found",
    "target initialisation failed",
    "image authentication failed",
    "invalid hash-table size",
    "enumeration failed",
    "hardware bulk-transfer error",
};

}  // namespace

HRESULT DecodeHeader(std::span<const unsigned char> bytes, Header* header) {
  if (bytes.size() < kHeaderSize) return kInvalid;
  header->command = GetLittleEndian32(bytes.data());
  header->length = GetLittleEndian32(bytes.data() + 4);
  return header->length < kHeaderSize || header->length > kMaxPacketSize ? kInvalid : S_OK;
}

HRESULT DecodeHello(std::span<const unsigned char> packet, Hello* hello) {
  if (!Is(packet, kHello, kHelloSize)) return kInvalid;
  hello->version = GetLittleEndian32(packet.data() + 0x08);
  hello->versionCompatible = GetLittleEndian32(packet.data() + 0x0C);
  hello->maxLength = GetLittleEndian32(packet.data() + 0x10);
  hello->mode = GetLittleEndian32(packet.data() + 0x14);
  return S_OK;
}

HRESULT DecodeReadRequest(std::span<const unsigned char> packet, ReadRequest* request) {
  if (Is(packet, kReadData, kReadDataSize)) {
    request->imageId = GetLittleEndian32(packet.data() + 0x08);
    request->offset = GetLittleEndian32(packet.data() + 0x0C);
    request->length = GetLittleEndian32(packet.data() + 0x10);
    return S_OK;
  }
  if (Is(packet, kReadData64, kReadData64Size)) {
    request->imageId = GetLittleEndian64(packet.data() + 0x08);
    request->offset = GetLittleEndian64(packet.data() + 0x10);
    request->length = GetLittleEndian64(packet.data() + 0x18);
    return S_OK;
  }
  return kInvalid;
}

HRESULT DecodeEndImage(std::span<const unsigned char> packet, EndImage* end) {
  if (!Is(packet, kEndImageTransfer, kEndImageSize)) return kInvalid;
  end->imageId = GetLittleEndian32(packet.data() + 0x08);
  end->status = GetLittleEndian32(packet.data() + 0x0C);
  return S_OK;
}

HRESULT DecodeDoneResponse(std::span<const unsigned char> packet, std::uint32_t* status) {
  if (!Is(packet, kDoneResponse, kDoneResponseSize)) return kInvalid;
  *status = GetLittleEndian32(packet.data() + 0x08);
  return S_OK;
}

std::array<unsigned char, kHelloSize> EncodeHelloResponse(std::uint32_t version, std::uint32_t versionCompatible,
                                                           std::uint32_t status, std::uint32_t mode) {
  std::array<unsigned char, kHelloSize> packet{};
  PutLittleEndian32(packet.data(), kHelloResponse);
  PutLittleEndian32(packet.data() + 4, kHelloSize);
  PutLittleEndian32(packet.data() + 0x08, version);
  PutLittleEndian32(packet.data() + 0x0C, versionCompatible);
  PutLittleEndian32(packet.data() + 0x10, status);
  PutLittleEndian32(packet.data() + 0x14, mode);
  return packet;
}

std::array<unsigned char, kHeaderSize> EncodeHeaderOnly(std::uint32_t command) {
  std::array<unsigned char, kHeaderSize> packet{};
  PutLittleEndian32(packet.data(), command);
  PutLittleEndian32(packet.data() + 4, kHeaderSize);
  return packet;
}

const char* StatusName(std::uint32_t status) {
  return status < std::size(kStatusNames) ? kStatusNames[status] : "unknown status";
}

}  // namespace sahara
