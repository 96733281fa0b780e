// The diagnostic port's framing, as the bench's phone speaks it: a packet,
// its X.25 check sequence (low byte first), both byte-stuffed, and a closing
// flag. Unlike the download framing a frame need not open with a flag: the
// first byte received, and every byte after a flag, may start a frame.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/phonesim/sim_frame.h"

namespace phonesim {

inline constexpr std::uint8_t kDiagFlag = 0x7E;
inline constexpr std::uint8_t kDiagEscape = 0x7D;
// Longest packet the phone takes; longer frames are dropped whole.
inline constexpr std::size_t kDiagMaxPacket = 4096;

// The frame of one packet. leadingFlag opens it with a flag as well;
// corruptCheck sends a check sequence that does not match.
Bytes EncodeDiagFrame(const Bytes& packet, bool leadingFlag = false, bool corruptCheck = false);

// Splits a byte stream into packets. Empty frames (two flags in a row) are
// ignored; frames shorter than three bytes, with a bad check sequence, with
// an escape right before the flag, or longer than kDiagMaxPacket are
// dropped and counted.
class DiagDecoder {
 public:
  // Feeds bytes, calling onPacket(const Bytes&) for every good packet.
  template <class OnPacket>
  void Feed(const std::uint8_t* data, std::size_t size, OnPacket&& onPacket) {
    for (std::size_t i = 0; i < size; ++i) {
      if (Take(data[i])) onPacket(static_cast<const Bytes&>(packet_));
    }
  }
  int droppedFrames() const { return dropped_; }

 private:
  bool Take(std::uint8_t byte);  // true when byte closed a good packet
  bool Close();

  Bytes current_;
  Bytes packet_;
  bool escaped_ = false;
  bool overflow_ = false;
  int dropped_ = 0;
};

}  // namespace phonesim
