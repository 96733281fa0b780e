#include "tools/phonesim/diag_frame.h"

namespace phonesim {

namespace {

void PutStuffed(Bytes& out, std::uint8_t b) {
  if (b == kDiagFlag || b == kDiagEscape) {
    out.push_back(kDiagEscape);
    out.push_back(static_cast<std::uint8_t>(b ^ 0x20));
  } else {
    out.push_back(b);
  }
}

}  // namespace

Bytes EncodeDiagFrame(const Bytes& packet, bool leadingFlag, bool corruptCheck) {
  std::uint16_t fcs = SimCrc(packet.data(), packet.size());
  if (corruptCheck) fcs ^= 0x8001;
  Bytes out;
  out.reserve(2 * (packet.size() + 2) + 2);
  if (leadingFlag) out.push_back(kDiagFlag);
  for (std::uint8_t b : packet) PutStuffed(out, b);
  PutStuffed(out, static_cast<std::uint8_t>(fcs));
  PutStuffed(out, static_cast<std::uint8_t>(fcs >> 8));
  out.push_back(kDiagFlag);
  return out;
}

bool DiagDecoder::Take(std::uint8_t byte) {
  if (byte == kDiagFlag) return Close();
  if (escaped_) {
    escaped_ = false;
    byte ^= 0x20;
  } else if (byte == kDiagEscape) {
    escaped_ = true;
    return false;
  }
  if (current_.size() >= kDiagMaxPacket + 2) {
    overflow_ = true;
    return false;
  }
  current_.push_back(byte);
  return false;
}

bool DiagDecoder::Close() {
  bool empty = current_.empty() && !escaped_ && !overflow_;
  bool good = false;
  if (!empty) {
    if (!overflow_ && !escaped_ && current_.size() >= 3) {
      std::size_t n = current_.size() - 2;
      std::uint16_t sent = static_cast<std::uint16_t>(current_[n] | current_[n + 1] << 8);
      good = SimCrc(current_.data(), n) == sent;
    }
    if (good) {
      current_.resize(current_.size() - 2);
      packet_.swap(current_);
    } else {
      ++dropped_;
    }
  }
  current_.clear();
  escaped_ = overflow_ = false;
  return good;
}

}  // namespace phonesim
