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

// Writes size bytes from in at out, a flag or an escape byte as the escape
// byte and the byte ^ 0x20 (out holds 2 * size bytes); returns the position
// behind them.
std::uint8_t* PutEscaped(std::uint8_t* out, const std::uint8_t* in, size_t size);

// A whole frame for payload; corruptCheck flips a bit of the check sequence.
Bytes EncodeFrame(const Bytes& payload, bool corruptCheck = false);
// The same frame appended to out, so several replies go out in one write.
void AppendFrame(Bytes& out, const Bytes& payload, bool corruptCheck = false);

// Collects bytes into frames. Feed returns true when a frame with a good
// check sequence closes; its payload is then frame() until the next Feed.
// Frames with a bad check sequence are counted and dropped.
class FrameDecoder {
 public:
  bool Feed(std::uint8_t byte) {
    if (byte == 0x7E) return Close();
    if (!inFrame_) return false;
    if (byte == 0x7D) {
      escaped_ = true;
      return false;
    }
    current_.push_back(escaped_ ? static_cast<std::uint8_t>(byte ^ 0x20) : byte);
    escaped_ = false;
    return false;
  }
  // Feeds a run of bytes, calling onFrame(frame()) for each frame that closes.
  template <class OnFrame>
  void Feed(const std::uint8_t* data, size_t size, OnFrame&& onFrame) {
    size_t i = 0;
    while (i < size) {
      if (inFrame_ && !escaped_) {
        size_t j = i;
        while (j < size && data[j] != 0x7E && data[j] != 0x7D) ++j;
        current_.insert(current_.end(), data + i, data + j);
        i = j;
        if (i == size) break;
      }
      if (Feed(data[i++])) onFrame(frame_);
    }
  }
  const Bytes& frame() const { return frame_; }
  int badFrames() const { return badFrames_; }

 private:
  bool Close();
  Bytes frame_;
  bool inFrame_ = false;
  bool escaped_ = false;
  Bytes current_;
  int badFrames_ = 0;
};

}  // namespace phonesim
