#include "download/hdlc.h"

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
