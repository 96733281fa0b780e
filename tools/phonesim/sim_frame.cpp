#include "tools/phonesim/sim_frame.h"

namespace phonesim {

std::uint16_t SimCrc(const std::uint8_t* data, size_t size) {
  std::uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < size; ++i) {
    std::uint8_t byte = data[i];
    for (int bit = 0; bit < 8; ++bit) {
      bool mix = ((crc ^ byte) & 1) != 0;
      crc = static_cast<std::uint16_t>(crc >> 1);
      if (mix) crc ^= 0x8408;
      byte = static_cast<std::uint8_t>(byte >> 1);
    }
  }
  return static_cast<std::uint16_t>(~crc);
}

namespace {
void PutEscaped(Bytes& out, std::uint8_t b) {
  if (b == 0x7E || b == 0x7D) {
    out.push_back(0x7D);
    out.push_back(static_cast<std::uint8_t>(b ^ 0x20));
  } else {
    out.push_back(b);
  }
}
}  // namespace

Bytes EncodeFrame(const Bytes& payload, bool corruptCheck) {
  std::uint16_t crc = SimCrc(payload.data(), payload.size());
  if (corruptCheck) crc ^= 0x0100;
  Bytes out;
  out.reserve(payload.size() + 8);
  out.push_back(0x7E);
  for (std::uint8_t b : payload) PutEscaped(out, b);
  PutEscaped(out, static_cast<std::uint8_t>(crc));
  PutEscaped(out, static_cast<std::uint8_t>(crc >> 8));
  out.push_back(0x7E);
  return out;
}

std::optional<Bytes> FrameDecoder::Feed(std::uint8_t byte) {
  if (byte == 0x7E) {
    std::optional<Bytes> result;
    if (inFrame_ && current_.size() >= 3) {
      std::uint16_t got = static_cast<std::uint16_t>(current_[current_.size() - 2] | current_.back() << 8);
      if (SimCrc(current_.data(), current_.size() - 2) == got) {
        current_.resize(current_.size() - 2);
        result = std::move(current_);
      } else {
        ++badFrames_;
      }
    }
    current_.clear();
    inFrame_ = true;
    escaped_ = false;
    return result;
  }
  if (!inFrame_) return std::nullopt;
  if (byte == 0x7D) {
    escaped_ = true;
    return std::nullopt;
  }
  current_.push_back(escaped_ ? static_cast<std::uint8_t>(byte ^ 0x20) : byte);
  escaped_ = false;
  return std::nullopt;
}

}  // namespace phonesim
