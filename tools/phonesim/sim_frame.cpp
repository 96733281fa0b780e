#include "tools/phonesim/sim_frame.h"

#include <cstring>

namespace phonesim {

namespace {

// The register's change for each byte value, from the bit-by-bit definition.
struct CrcSteps {
  std::uint16_t step[256];
  CrcSteps() {
    for (unsigned value = 0; value < 256; ++value) {
      std::uint16_t crc = 0;
      std::uint8_t byte = static_cast<std::uint8_t>(value);
      for (int bit = 0; bit < 8; ++bit) {
        bool mix = ((crc ^ byte) & 1) != 0;
        crc = static_cast<std::uint16_t>(crc >> 1);
        if (mix) crc ^= 0x8408;
        byte = static_cast<std::uint8_t>(byte >> 1);
      }
      step[value] = crc;
    }
  }
};
const CrcSteps kSteps;

}  // namespace

std::uint16_t SimCrc(const std::uint8_t* data, size_t size) {
  std::uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) crc = static_cast<std::uint16_t>((crc >> 8) ^ kSteps.step[(crc ^ data[i]) & 0xFF]);
  return static_cast<std::uint16_t>(~crc);
}

std::uint8_t* PutEscaped(std::uint8_t* out, const std::uint8_t* in, size_t size) {
  for (size_t i = 0; i < size;) {
    // Runs without a reserved value are copied whole.
    size_t j = i;
    while (j < size && in[j] != 0x7E && in[j] != 0x7D) ++j;
    std::memcpy(out, in + i, j - i);
    out += j - i;
    i = j;
    if (i < size) {
      *out++ = 0x7D;
      *out++ = static_cast<std::uint8_t>(in[i++] ^ 0x20);
    }
  }
  return out;
}

Bytes EncodeFrame(const Bytes& payload, bool corruptCheck) {
  Bytes out;
  AppendFrame(out, payload, corruptCheck);
  return out;
}

void AppendFrame(Bytes& out, const Bytes& payload, bool corruptCheck) {
  std::uint16_t crc = SimCrc(payload.data(), payload.size());
  if (corruptCheck) crc ^= 0x0100;
  const size_t start = out.size();
  out.resize(start + 2 * (payload.size() + 2) + 2);  // room for every byte escaped
  std::uint8_t* p = out.data() + start;
  *p++ = 0x7E;
  p = PutEscaped(p, payload.data(), payload.size());
  const std::uint8_t check[2] = {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)};
  p = PutEscaped(p, check, 2);
  *p++ = 0x7E;
  out.resize(static_cast<size_t>(p - out.data()));
}

bool FrameDecoder::Close() {
  bool complete = false;
  if (inFrame_ && current_.size() >= 3) {
    std::uint16_t got = static_cast<std::uint16_t>(current_[current_.size() - 2] | current_.back() << 8);
    if (SimCrc(current_.data(), current_.size() - 2) == got) {
      current_.resize(current_.size() - 2);
      frame_.swap(current_);
      complete = true;
    } else {
      ++badFrames_;
    }
  }
  current_.clear();
  inFrame_ = true;
  escaped_ = false;
  return complete;
}

}  // namespace phonesim
