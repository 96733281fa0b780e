#include "download/hdlc.h"

#include <cstring>

std::uint16_t UpdateFrameCheck(std::uint16_t reg, const unsigned char* data, size_t size) {
  const auto& t = hdlc_detail::kFrameCheckTables;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const unsigned char* b = data + i;
    reg = static_cast<std::uint16_t>(t[7][(reg ^ b[0]) & 0xFF] ^ t[6][((reg >> 8) ^ b[1]) & 0xFF] ^ t[5][b[2]] ^
                                     t[4][b[3]] ^ t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]]);
  }
  for (; i < size; ++i) reg = UpdateFrameCheck(reg, data[i]);
  return reg;
}

std::uint16_t FrameCheckSequence(const unsigned char* data, size_t size) {
  return static_cast<std::uint16_t>(UpdateFrameCheck(0xFFFF, data, size) ^ 0xFFFF);
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

// Runs of ordinary bytes are copied whole; only a reserved byte is stuffed.
size_t PutFrameBody(unsigned char* out, const unsigned char* payload, size_t size) {
  unsigned char* start = out;
  for (size_t i = 0; i < size;) {
    size_t end = FindReserved(payload, i, size);
    if (end > i) std::memcpy(out, payload + i, end - i);
    out += end - i;
    if (end < size) out = PutStuffed(out, payload[end++]);
    i = end;
  }
  std::uint16_t check = FrameCheckSequence(payload, size);
  out = PutStuffed(out, static_cast<unsigned char>(check & 0xFF));
  out = PutStuffed(out, static_cast<unsigned char>(check >> 8));
  *out++ = kHdlcFlag;
  return static_cast<size_t>(out - start);
}
