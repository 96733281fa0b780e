// The boot ROM of a later phone in emergency download mode, speaking Sahara:
// it says HELLO, and once the host answers it asks for the flash programmer
// piece by piece (the ELF header, the program-header table, the hash segment,
// every loadable segment in pieces of at most 4 KiB), reports the end of the
// image and, after DONE, hands over to the programmer. Transport-free: bytes
// from the host go in, packets for the host come out. Integers on the wire
// are little-endian.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/phonesim/sim_frame.h"

namespace phonesim {

namespace sahara {
constexpr std::uint32_t kHello = 0x01, kHelloResp = 0x02, kReadData = 0x03, kEndImageTx = 0x04, kDone = 0x05,
                        kDoneResp = 0x06, kReset = 0x07, kResetResp = 0x08, kReadData64 = 0x12;
constexpr std::uint32_t kProgrammerImage = 13;
// END_IMAGE_TX status codes the ROM uses.
constexpr std::uint32_t kSuccess = 0x00, kInvalidCommand = 0x01, kInvalidHostVersion = 0x04,
                        kInvalidPacketSize = 0x05, kUnsupportedHeaderCount = 0x0E, kInvalidElfHeader = 0x14,
                        kReceiveTimeout = 0x16, kInvalidHostMode = 0x18, kImageAuthFailed = 0x25;
}  // namespace sahara

struct SaharaRomConfig {
  bool profile64 = true;        // READ_DATA_64 and a 0x40-byte header request; else READ_DATA and 0x34
  bool unsigned_ = false;       // every image ends with "image authentication failed"
  std::uint32_t version = 2;
  std::uint32_t compatible = 1;
  std::uint32_t maxLen = 1024;
  std::uint64_t largestImage = 64ull << 20;  // a programmer that claims more is refused
};

class SaharaRom {
 public:
  enum class Stage { AwaitHelloResp, AwaitData, AwaitDone, Handover, Failed };

  explicit SaharaRom(SaharaRomConfig config = {}) : config_(config) {}

  // The HELLO the ROM sends when the host opens the port (and after a reset).
  Bytes Hello();
  // Takes bytes from the host; returns what the ROM sends back.
  Bytes Feed(const std::uint8_t* data, std::size_t size);
  // Bytes that arrived after the hand-over: the first bytes for the programmer.
  Bytes TakeLeftover();
  // No data arrived in time for the outstanding request.
  Bytes ReceiveTimedOut();

  Stage stage() const { return stage_; }
  // The programmer's bytes as the ROM assembled them (zeros where never asked).
  const Bytes& image() const { return image_; }
  std::uint32_t lastStatus() const { return lastStatus_; }
  // True when the host's last bytes could not start a HELLO_RESP and HELLO was said again.
  int hellosRepeated() const { return hellosRepeated_; }

 private:
  struct Piece {
    std::uint64_t offset;
    std::uint64_t length;
  };

  Bytes OnHelloResp(const Bytes& packet);
  Bytes OnPacket();
  Bytes OnData(const Bytes& data);
  Bytes PlanSegments();
  Bytes NextRequest();
  Bytes EndImage(std::uint32_t status);
  Bytes Restart();

  SaharaRomConfig config_;
  Stage stage_ = Stage::AwaitHelloResp;
  Bytes pending_;  // host bytes not yet consumed
  Bytes image_;
  std::vector<Piece> plan_;
  std::size_t next_ = 0;  // index into plan_ of the outstanding request
  bool headerRead_ = false;
  bool tableRead_ = false;
  std::uint32_t lastStatus_ = 0;
  int hellosRepeated_ = 0;
};

}  // namespace phonesim
