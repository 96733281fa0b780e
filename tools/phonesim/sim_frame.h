// The virtual bench's own framing: flags, byte stuffing and the X.25 check
// sequence, written independently of the program's transport so that a
// mistake on one side is caught by the other.
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

namespace phonesim {

using Bytes = std::vector<std::uint8_t>;

// The X.25 frame check sequence, computed bit by bit.
std::uint16_t SimCrc(const std::uint8_t* data, size_t size);

// A whole frame for payload; corruptCheck flips a bit of the check sequence.
Bytes EncodeFrame(const Bytes& payload, bool corruptCheck = false);

// Collects bytes into frames. Feed returns a payload when a frame with a good
// check sequence closes; frames with a bad check sequence are counted and
// dropped.
class FrameDecoder {
 public:
  std::optional<Bytes> Feed(std::uint8_t byte);
  int badFrames() const { return badFrames_; }

 private:
  bool inFrame_ = false;
  bool escaped_ = false;
  Bytes current_;
  int badFrames_ = 0;
};

}  // namespace phonesim
