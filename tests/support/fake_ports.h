// In-memory serial ports for protocol tests.
//  - ScriptedPort: exact bytes. Answer() queues bytes to read, Timeout()
//    makes one read time out, FailWrites() refuses writes; every write is
//    recorded. An empty queue reads as a timeout, at once.
//  - SimPort: the virtual bench's emergency phone behind the port, with its
//    own framing; it logs each request it decodes ("tx 07@00000400") and each
//    reply the host has read completely ("rx 08@00000400").
#pragma once
#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "download/serial_port.h"
#include "tools/phonesim/emergency_phone.h"
#include "tools/phonesim/link_faults.h"
#include "tools/phonesim/sim_frame.h"

using Bytes = std::vector<unsigned char>;

class ScriptedPort : public SerialPort {
 public:
  void Answer(const Bytes& bytes) {
    for (unsigned char b : bytes) reads_.emplace_back(b);
  }
  void Timeout(int count = 1) {
    for (int i = 0; i < count; ++i) reads_.emplace_back(kReadTimeout);
  }
  void FailReads(HRESULT hr, int count) {
    for (int i = 0; i < count; ++i) reads_.emplace_back(hr);
  }
  void FailWrites(HRESULT hr, int count) { writeFailures_.insert(writeFailures_.end(), count, hr); }

  HRESULT ReadByte(unsigned char* byte, unsigned) override {
    ++readRequests;
    if (reads_.empty()) return kReadTimeout;
    auto next = reads_.front();
    reads_.pop_front();
    if (std::holds_alternative<HRESULT>(next)) return std::get<HRESULT>(next);
    *byte = std::get<unsigned char>(next);
    return S_OK;
  }
  HRESULT Write(const unsigned char* data, size_t size) override {
    ++writeRequests;
    if (!writeFailures_.empty()) {
      HRESULT hr = writeFailures_.front();
      writeFailures_.pop_front();
      return hr;
    }
    writes.emplace_back(data, data + size);
    return S_OK;
  }
  size_t pendingReads() const { return reads_.size(); }

  std::vector<Bytes> writes;
  int readRequests = 0;
  int writeRequests = 0;

 private:
  std::deque<std::variant<unsigned char, HRESULT>> reads_;
  std::deque<HRESULT> writeFailures_;
};

class SimPort : public SerialPort {
 public:
  explicit SimPort(phonesim::EmergencyPhoneConfig config = {}, phonesim::LinkFaults link = {})
      : phone(std::move(config)), shaper_(link) {}

  HRESULT ReadByte(unsigned char* byte, unsigned) override {
    if (pending_.empty()) return vanished_ ? HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) : kReadTimeout;
    *byte = pending_.front().byte;
    if (!pending_.front().closes.empty()) events.push_back("rx " + pending_.front().closes);
    pending_.pop_front();
    return S_OK;
  }
  HRESULT Write(const unsigned char* data, size_t size) override {
    if (vanished_) return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    decoder_.Feed(data, size, [&](const phonesim::Bytes& request) {
      events.push_back("tx " + Describe(request));
      for (const phonesim::Bytes& reply : phone.Handle(request)) Queue(reply);
    });
    return S_OK;
  }

  // "07@00000400" for a packet with an address, else the code alone.
  static std::string Describe(const phonesim::Bytes& p) {
    char text[32];
    bool addressed = (p.size() >= 5 && (p[0] == 0x07 || p[0] == 0x03 || p[0] == 0x04)) || (p.size() == 5 && p[0] == 0x08);
    if (addressed) {
      unsigned a = p[1] | p[2] << 8 | p[3] << 16 | static_cast<unsigned>(p[4]) << 24;
      std::snprintf(text, sizeof text, "%02X@%08X", p[0], a);
    } else {
      std::snprintf(text, sizeof text, "%02X", p[0]);
    }
    return text;
  }

  phonesim::EmergencyPhone phone;
  std::vector<std::string> events;

 private:
  struct Pending {
    unsigned char byte;
    std::string closes;  // set on the last byte of a reply frame
  };
  void Queue(const phonesim::Bytes& reply) {
    phonesim::ReplyAction action = shaper_.Next();
    if (action == phonesim::ReplyAction::Vanish) vanished_ = true;
    if (action != phonesim::ReplyAction::Send && action != phonesim::ReplyAction::Corrupt) return;
    phonesim::Bytes frame = phonesim::EncodeFrame(reply, action == phonesim::ReplyAction::Corrupt);
    for (size_t i = 0; i < frame.size(); ++i) pending_.push_back({frame[i], i + 1 == frame.size() ? Describe(reply) : ""});
  }
  phonesim::FrameDecoder decoder_;
  phonesim::ReplyShaper shaper_;
  std::deque<Pending> pending_;
  bool vanished_ = false;
};
