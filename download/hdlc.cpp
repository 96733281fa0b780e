#include "download/hdlc.h"

#include <array>

namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t v = static_cast<std::uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? static_cast<std::uint16_t>((v >> 1) ^ 0x8408) : static_cast<std::uint16_t>(v >> 1);
    table[i] = v;
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x1189 && kTable[2] == 0x2312);

}  // namespace

std::uint16_t UpdateFrameCheck(std::uint16_t reg, unsigned char byte) {
  return static_cast<std::uint16_t>(kTable[(reg ^ byte) & 0xFF] ^ (reg >> 8));
}

std::uint16_t FrameCheckSequence(const unsigned char* data, size_t size) {
  std::uint16_t reg = 0xFFFF;
  for (size_t i = 0; i < size; ++i) reg = UpdateFrameCheck(reg, data[i]);
  return static_cast<std::uint16_t>(reg ^ 0xFFFF);
}

unsigned char* PutStuffed(unsigned char* out, unsigned char byte) {
  if (byte == kHdlcFlag || byte == kHdlcEscape) {
    *out++ = kHdlcEscape;
    *out++ = byte ^ kHdlcEscapeXor;
  } else {
    *out++ = byte;
  }
  return out;
}

size_t PutFrameBody(unsigned char* out, const unsigned char* payload, size_t size) {
  unsigned char* start = out;
  std::uint16_t reg = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    reg = UpdateFrameCheck(reg, payload[i]);
    out = PutStuffed(out, payload[i]);
  }
  std::uint16_t check = static_cast<std::uint16_t>(reg ^ 0xFFFF);
  out = PutStuffed(out, static_cast<unsigned char>(check & 0xFF));
  out = PutStuffed(out, static_cast<unsigned char>(check >> 8));
  *out++ = kHdlcFlag;
  return static_cast<size_t>(out - start);
}
