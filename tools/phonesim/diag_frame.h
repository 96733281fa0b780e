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
// The same frame appended to out, whose storage is reused from answer to answer.
void AppendDiagFrame(Bytes& out, const Bytes& packet, bool leadingFlag = false, bool corruptCheck = false);

// Splits a byte stream into packets. Empty frames (two flags in a row) are
// ignored; frames shorter than three bytes, with a bad check sequence, with
// an escape right before the flag, or longer than kDiagMaxPacket are
// dropped and counted.
class DiagDecoder {
 public:
  // Room for the largest frame is taken once: decoding allocates nothing.
  DiagDecoder() {
    current_.reserve(kDiagMaxPacket + 2);
    packet_.reserve(kDiagMaxPacket + 2);
  }
  // Feeds bytes, calling onPacket(const Bytes&) for every good packet.
  template <class OnPacket>
  void Feed(const std::uint8_t* data, std::size_t size, OnPacket&& onPacket) {
    std::size_t i = 0;
    while (i < size) {
      if (!escaped_) {
        // A run of ordinary bytes is kept whole.
        std::size_t j = i;
        while (j < size && data[j] != kDiagFlag && data[j] != kDiagEscape) ++j;
        Keep(data + i, j - i);
        i = j;
        if (i == size) break;
      }
      if (Take(data[i++])) onPacket(static_cast<const Bytes&>(packet_));
    }
  }
  int droppedFrames() const { return dropped_; }

 private:
  bool Take(std::uint8_t byte);  // true when byte closed a good packet
  // Adds ordinary bytes to the frame; those beyond the largest packet and
  // its check bytes only mark it too long.
  void Keep(const std::uint8_t* bytes, std::size_t size);
  bool Close();

  Bytes current_;
  Bytes packet_;
  bool escaped_ = false;
  bool overflow_ = false;
  int dropped_ = 0;
};

}  // namespace phonesim
