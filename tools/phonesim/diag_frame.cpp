#include "tools/phonesim/diag_frame.h"

#include <algorithm>

namespace phonesim {

Bytes EncodeDiagFrame(const Bytes& packet, bool leadingFlag, bool corruptCheck) {
  Bytes out;
  AppendDiagFrame(out, packet, leadingFlag, corruptCheck);
  return out;
}

void AppendDiagFrame(Bytes& out, const Bytes& packet, bool leadingFlag, bool corruptCheck) {
  std::uint16_t fcs = SimCrc(packet.data(), packet.size());
  if (corruptCheck) fcs ^= 0x8001;
  const std::size_t start = out.size();
  out.resize(start + 2 * (packet.size() + 2) + 2);  // room for every byte stuffed
  std::uint8_t* p = out.data() + start;
  if (leadingFlag) *p++ = kDiagFlag;
  p = PutEscaped(p, packet.data(), packet.size());
  const std::uint8_t check[2] = {static_cast<std::uint8_t>(fcs), static_cast<std::uint8_t>(fcs >> 8)};
  p = PutEscaped(p, check, 2);
  *p++ = kDiagFlag;
  out.resize(static_cast<std::size_t>(p - out.data()));
}

void DiagDecoder::Keep(const std::uint8_t* bytes, std::size_t size) {
  const std::size_t room = kDiagMaxPacket + 2 - std::min(current_.size(), kDiagMaxPacket + 2);
  const std::size_t kept = std::min(size, room);
  current_.insert(current_.end(), bytes, bytes + kept);
  if (kept < size) overflow_ = true;
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
