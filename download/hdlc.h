// The parts of HDLC-style framing that every serial protocol of the program
// shares: the CRC-16/X-25 check sequence (register 0xFFFF, reflected
// polynomial 0x8408, final XOR 0xFFFF, sent least significant byte first)
// and the stuffing of the flag 0x7E and the escape 0x7D as 0x7D, byte ^ 0x20.
// Where frames begin and which flags they carry is the business of each
// protocol's own sender and receiver.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

constexpr unsigned char kHdlcFlag = 0x7E;
constexpr unsigned char kHdlcEscape = 0x7D;
constexpr unsigned char kHdlcEscapeXor = 0x20;

namespace hdlc_detail {

// Table k holds the effect of a byte followed by k zero bytes, so that eight
// bytes are checked with eight independent lookups instead of a chain of
// eight dependent ones.
constexpr std::array<std::array<std::uint16_t, 256>, 8> MakeFrameCheckTables() {
  std::array<std::array<std::uint16_t, 256>, 8> tables{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t v = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? static_cast<std::uint16_t>((v >> 1) ^ 0x8408) : static_cast<std::uint16_t>(v >> 1);
    tables[0][i] = v;
  }
  for (unsigned k = 1; k < 8; ++k)
    for (unsigned i = 0; i < 256; ++i)
      tables[k][i] = static_cast<std::uint16_t>(tables[0][tables[k - 1][i] & 0xFF] ^ (tables[k - 1][i] >> 8));
  return tables;
}

inline constexpr std::array<std::array<std::uint16_t, 256>, 8> kFrameCheckTables = MakeFrameCheckTables();
inline constexpr const std::array<std::uint16_t, 256>& kFrameCheckTable = kFrameCheckTables[0];
static_assert(kFrameCheckTable[1] == 0x1189 && kFrameCheckTable[2] == 0x2312);

}  // namespace hdlc_detail

// One step of the check register; inline, as the receivers run it per byte.
inline std::uint16_t UpdateFrameCheck(std::uint16_t reg, unsigned char byte) {
  return static_cast<std::uint16_t>(hdlc_detail::kFrameCheckTable[(reg ^ byte) & 0xFF] ^ (reg >> 8));
}

// The check register after a run of bytes: the same as UpdateFrameCheck byte
// by byte, eight bytes a step.
std::uint16_t UpdateFrameCheck(std::uint16_t reg, const unsigned char* data, size_t size);

// Where the next flag or escape byte is in [from, size), or size.
inline size_t FindReserved(const unsigned char* data, size_t from, size_t size) {
  while (from < size && data[from] != kHdlcFlag && data[from] != kHdlcEscape) ++from;
  return from;
}

// The frame check sequence over data.
std::uint16_t FrameCheckSequence(const unsigned char* data, size_t size);
// What the register holds after a correct frame's payload and check bytes.
constexpr std::uint16_t kGoodFrameCheck = 0xF0B8;

// The byte behind an escape byte.
constexpr unsigned char Unstuffed(unsigned char byte) { return byte ^ kHdlcEscapeXor; }

// Writes byte at out, stuffed when it is a flag or an escape byte; returns
// the position behind it.
unsigned char* PutStuffed(unsigned char* out, unsigned char byte);

// The most bytes PutFrameBody writes for a payload of size bytes.
constexpr size_t MaxFrameBody(size_t size) { return 2 * (size + 2) + 1; }
// Writes payload and its check sequence, both stuffed, and the closing flag
// at out (which holds MaxFrameBody(size) bytes); returns how many it wrote.
// No opening flag: a sender that wants one puts it first.
size_t PutFrameBody(unsigned char* out, const unsigned char* payload, size_t size);
