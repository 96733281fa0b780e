#include "tools/phonesim/emergency_phone.h"

#include <algorithm>
#include <cstring>

namespace phonesim {

namespace {

std::uint32_t Be32(const Bytes& b, size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 | std::uint32_t{b[at + 2]} << 8 | b[at + 3];
}
std::uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 | std::uint32_t{b[at + 3]} << 24;
}
void AddLe32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void AddLe16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

const Bytes kDmssNak = {0x03, 0x00, 0x01};       // NAK with a reason code
const Bytes kStreamingError = {0x0D, 0x00, 0x00, 0x00, 0x01};

}  // namespace

EmergencyPhone::EmergencyPhone(EmergencyPhoneConfig config)
    : config_(std::move(config)), stage_(config_.startInProgrammer ? Stage::Programmer : Stage::BootLoader) {}

const Replies& EmergencyPhone::Handle(const Bytes& request) {
  replies_.Clear();
  if (request.empty()) return replies_;
  switch (stage_) {
    case Stage::BootLoader: BootLoader(request); break;
    case Stage::Programmer: Programmer(request); break;
    case Stage::Reset: return replies_;
  }
  auto wrong = config_.faults.answerCode.find(request[0]);
  if (wrong != config_.faults.answerCode.end() && !replies_.empty()) replies_.back()[0] = wrong->second;
  return replies_;
}

void EmergencyPhone::BootLoader(const Bytes& r) {
  switch (r[0]) {
    case 0x07: {  // parameter request
      Bytes& reply = replies_.Add();
      reply.assign({0x08, 0x14, 0x01, static_cast<std::uint8_t>(config_.largestWrite >> 8),
                    static_cast<std::uint8_t>(config_.largestWrite), 0x00, 0xFF, 0x00});
      if (config_.faults.parameterResponseLength) reply.resize(*config_.faults.parameterResponseLength, 0x00);
      return;
    }
    case 0x0F: {  // write 32-bit address
      if (r.size() < 7) return Reply(kDmssNak);
      std::uint32_t address = Be32(r, 1);
      size_t length = static_cast<size_t>(r[5] << 8 | r[6]);
      if (r.size() != length + 7 || length > config_.largestWrite) return Reply(kDmssNak);
      if (writes_++ == config_.faults.nakWrite) return Reply(kDmssNak);
      for (size_t i = 0; i < length; ++i) memory_[address + static_cast<std::uint32_t>(i)] = r[7 + i];
      return Reply({0x02});
    }
    case 0x05:  // go
      if (r.size() != 5) return Reply(kDmssNak);
      jumpedTo_ = Be32(r, 1);
      stage_ = Stage::Programmer;
      return Reply({0x02});
    default: return Reply(kDmssNak);
  }
}

Bytes EmergencyPhone::HelloResponse() const {
  static const std::string kTarget = "\x02QCOM fast download protocol targ";
  Bytes b(kTarget.begin(), kTarget.end());
  if (config_.faults.wrongHelloMagic) b[5] ^= 0x20;
  b.push_back(3);  // version
  b.push_back(3);  // compatible version
  AddLe32(b, config_.faults.announcedBlock.value_or(config_.block));
  AddLe32(b, 0);  // reserved
  std::string id = config_.flashId.substr(0, 255);
  b.push_back(static_cast<std::uint8_t>(id.size()));
  b.insert(b.end(), id.begin(), id.end());
  if (config_.faults.shortHello) return b;
  AddLe16(b, config_.faults.announcedWindow.value_or(config_.window));
  AddLe16(b, 512);  // sector size
  b.push_back(0x09);  // features
  return b;
}

void EmergencyPhone::Programmer(const Bytes& r) {
  switch (r[0]) {
    case 0x01:  // hello
      // Every byte counts: the text, version 3, compatible version 3, features 9.
      if (r.size() != 36 || std::memcmp(r.data() + 1, "QCOM fast download protocol host", 32) != 0 || r[33] != 3 ||
          r[34] != 3 || r[35] != 9)
        return Reply(kStreamingError);
      return Reply(HelloResponse());
    case 0x17: {  // security mode
      for (int i = 0; i < config_.faults.logPacketsBeforeSecurity; ++i) {
        std::string text = "log message " + std::to_string(i) + " of the programmer";
        Bytes& log = replies_.Add();
        log.push_back(0x0E);
        log.insert(log.end(), text.begin(), text.end());
      }
      trusted_ = r.size() == 2 && r[1] == 0x01;
      return Reply({0x18});
    }
    case 0x1B:  // open multi-image
      open_ = r.size() == 2 && r[1] == 0x21 && !config_.faults.refuseOpen;
      return Reply({0x1C, static_cast<std::uint8_t>(open_ ? 0x00 : 0x01)});
    case 0x07: return StreamWrite(r);
    case 0x03: return Read(r);
    case 0x15:  // close
      open_ = false;
      return Reply({0x16});
    case 0x0B:  // reset
      stage_ = Stage::Reset;
      return Reply({0x0C});
    default: return Reply(kStreamingError);
  }
}

void EmergencyPhone::StreamWrite(const Bytes& r) {
  if (!open_ || r.size() < 6 || r.size() - 5 > config_.block) return Reply(kStreamingError);
  std::uint32_t address = Le32(r, 1);
  size_t length = r.size() - 5;
  if (address + length > config_.maxEmmcBytes) return Reply(kStreamingError);
  if (emmc_.size() < address + length) emmc_.resize(address + length);
  std::copy(r.begin() + 5, r.end(), emmc_.begin() + address);
  const int write = streamWrites_++;
  Bytes& ack = replies_.Add();
  ack.push_back(static_cast<std::uint8_t>(write == config_.faults.wrongAckCode ? 0x09 : 0x08));
  AddLe32(ack, write == config_.faults.misaddressAck ? address + 1 : address);
}

void EmergencyPhone::Read(const Bytes& r) {
  if (!open_ || r.size() != 7) return Reply(kStreamingError);
  std::uint32_t address = Le32(r, 1);
  size_t length = static_cast<size_t>(r[5] | r[6] << 8);
  Bytes& reply = replies_.Add();
  reply.push_back(0x04);
  AddLe32(reply, reads_++ == config_.faults.misaddressRead ? address + config_.block : address);
  size_t stored = address < emmc_.size() ? std::min(length, emmc_.size() - address) : 0;
  if (stored > 0) reply.insert(reply.end(), emmc_.begin() + address, emmc_.begin() + address + stored);
  reply.resize(5 + length, 0);  // never written: reads as zeros
  if (config_.faults.corruptReadBack) {
    for (size_t i = 5; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(~reply[i]);
  }
  if (config_.faults.corruptLastReadByte && reply.size() > 5) reply.back() ^= 0x01;
}

}  // namespace phonesim
