// The conversation of a phone in emergency download mode: first its boot
// loader (DMSS download: parameters, memory writes, go), then the flash
// programmer it was given (streaming download: hello, security mode, open,
// stream writes into the eMMC, read-back, close, reset). Transport-free: it
// turns one request payload into the reply payloads.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/phonesim/sim_frame.h"

namespace phonesim {

struct ProtocolFaults {
  int nakWrite = -1;                          // write32 number K (from 0) is refused
  bool wrongHelloMagic = false;
  std::optional<std::uint32_t> announcedBlock;  // hello N instead of the real one (0, huge)
  std::optional<std::uint16_t> announcedWindow; // hello W instead of the real one (0)
  int logPacketsBeforeSecurity = 0;
  bool corruptReadBack = false;               // read responses carry other bytes
  bool shortHello = false;                    // hello response cut before its window field
  int misaddressAck = -1;                     // stream write K (from 0) is acknowledged with another address
  bool refuseOpen = false;                    // the USER partition cannot be opened
  std::map<std::uint8_t, std::uint8_t> answerCode;  // request code -> another first byte of its reply
  int wrongAckCode = -1;                      // stream write K (from 0) is acknowledged with code 0x09
  int misaddressRead = -1;                    // read K (from 0) echoes another address
  bool corruptLastReadByte = false;           // read responses differ in their last byte only
  std::optional<std::size_t> parameterResponseLength;  // DMSS parameter response cut or padded to this length
};

struct EmergencyPhoneConfig {
  std::uint16_t largestWrite = 1024;  // DMSS: largest write32 length
  std::uint32_t block = 1024;         // streaming: N
  std::uint16_t window = 8;           // streaming: W
  std::string flashId = "VBENCH eMMC 4GB";
  std::size_t maxEmmcBytes = 1u << 30;
  bool startInProgrammer = false;     // the flash programmer already runs
  ProtocolFaults faults;
};

// The reply payloads to one request. Their buffers are kept from request to
// request, so that answering allocates nothing once they have grown to the
// replies' sizes.
class Replies {
 public:
  // A new, empty reply at the end (valid until the next Add or Clear).
  Bytes& Add() {
    if (count_ == slots_.size()) slots_.emplace_back();
    Bytes& reply = slots_[count_++];
    reply.clear();
    return reply;
  }
  void Clear() { count_ = 0; }

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  const Bytes& at(std::size_t i) const {
    if (i >= count_) throw std::out_of_range("Replies::at");
    return slots_[i];
  }
  Bytes& back() { return slots_[count_ - 1]; }
  const Bytes* begin() const { return slots_.data(); }
  const Bytes* end() const { return slots_.data() + count_; }

 private:
  std::vector<Bytes> slots_;
  std::size_t count_ = 0;
};

class EmergencyPhone {
 public:
  enum class Stage { BootLoader, Programmer, Reset };

  explicit EmergencyPhone(EmergencyPhoneConfig config);

  // The replies to request, valid until the next call.
  const Replies& Handle(const Bytes& request);

  Stage stage() const { return stage_; }
  // Memory written by the boot loader, byte by byte.
  const std::map<std::uint32_t, std::uint8_t>& memory() const { return memory_; }
  std::optional<std::uint32_t> jumpedTo() const { return jumpedTo_; }
  const Bytes& emmc() const { return emmc_; }
  bool trusted() const { return trusted_; }

 private:
  // Each adds the replies to r.
  void BootLoader(const Bytes& r);
  void Programmer(const Bytes& r);
  void StreamWrite(const Bytes& r);
  void Read(const Bytes& r);
  void Reply(const Bytes& payload) { replies_.Add() = payload; }
  void Reply(std::initializer_list<std::uint8_t> payload) { replies_.Add().assign(payload); }
  Bytes HelloResponse() const;

  EmergencyPhoneConfig config_;
  Stage stage_;
  std::map<std::uint32_t, std::uint8_t> memory_;
  std::optional<std::uint32_t> jumpedTo_;
  int writes_ = 0;
  int streamWrites_ = 0;
  int reads_ = 0;
  bool trusted_ = false;
  bool open_ = false;
  Bytes emmc_;
  Replies replies_;
};

}  // namespace phonesim
