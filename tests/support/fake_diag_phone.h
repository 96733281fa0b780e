// An in-memory running phone behind a serial port, for the NV service's
// tests: it answers version, ESN, SPC, mode change and NV read/write (plain
// and with context) from a store of items, and can misbehave on request.
// Every request it decodes is recorded by its first byte ("26 550/0").
#pragma once
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "download/byte_order.h"
#include "download/serial_port.h"
#include "nv/diag_packets.h"

class FakeDiagPhone : public SerialPort {
 public:
  using Key = std::pair<std::uint16_t, std::uint16_t>;  // id, element (or context for context items)

  // Store and rules.
  std::map<Key, NvData> items;
  std::map<Key, NvData> contextItems;  // (id, context)
  std::set<std::uint16_t> arrays;  // items whose element is data byte 0
  std::set<std::uint16_t> readOnly;
  std::set<std::uint16_t> locked;  // answer 0x42 until the code is accepted
  std::string spc = "482615";
  std::uint32_t esn = 0x80123456;
  bool knowsContexts = true;
  // Faults.
  int silentAfter = -1;     // answers sent before it falls silent (-1: never)
  int corruptFrom = -1;     // answers from this one on carry a wrong check sequence
  int busyRequests = 0;     // NV requests answered "busy" first
  bool badReadback = false; // writes are stored with one byte changed
  bool refuseSpc = false;
  bool refuseModes = false;  // mode changes answered "bad mode"
  bool leadingFlag = false;
  std::vector<unsigned char> noise;  // sent before every answer (e.g. a log packet)

  // What happened.
  std::vector<std::string> requests;
  std::uint16_t mode = kModeOnline;
  int answers = 0;

  HRESULT ReadByte(unsigned char* byte, unsigned) override {
    if (out_.empty()) return kReadTimeout;
    *byte = out_.front();
    out_.pop_front();
    return S_OK;
  }
  HRESULT Write(const unsigned char* data, size_t size) override {
    for (size_t i = 0; i < size; ++i)
      if (decoder_.Feed(data[i])) Handle(decoder_.packet());
    return S_OK;
  }

  // The items written, in order ("27 550/0").
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& r : requests) n += r.rfind(prefix, 0) == 0;
    return n;
  }

 private:
  void Send(DiagPacket answer) {
    int number = answers++;
    if (silentAfter >= 0 && number >= silentAfter) return;
    if (!noise.empty()) Queue(noise, false);
    Queue(answer, corruptFrom >= 0 && number >= corruptFrom);
  }
  void Queue(const DiagPacket& packet, bool corrupt) {
    DiagPacket frame = EncodeDiagFrame(packet);
    if (corrupt) frame[frame.size() - 2] ^= 0x01;
    if (leadingFlag) out_.push_back(0x7E);
    out_.insert(out_.end(), frame.begin(), frame.end());
  }
  DiagPacket Error(unsigned char code, const DiagPacket& request) {
    DiagPacket e{code};
    e.insert(e.end(), request.begin(), request.begin() + std::min<size_t>(request.size(), 16));
    return e;
  }

  void Handle(const DiagPacket& p) {
    char tag[48];
    bool nv = (p[0] == kDiagNvRead || p[0] == kDiagNvWrite) && p.size() == kNvPacketSize;
    bool ctx = p[0] == kDiagSubsystem && p.size() == kNvContextPacketSize && p[1] == kNvSubsystem;
    if (nv) std::snprintf(tag, sizeof tag, "%02X %u/%u", p[0], GetLittleEndian16(&p[1]), p[3]);
    else if (ctx) std::snprintf(tag, sizeof tag, "4B%u %u@%u", p[2], GetLittleEndian16(&p[4]), GetLittleEndian16(&p[6]));
    else std::snprintf(tag, sizeof tag, "%02X", p[0]);
    requests.push_back(tag);
    switch (p[0]) {
      case kDiagVersion: {
        DiagPacket v(55, 0);
        std::memcpy(&v[1], "Jun 11 201112:00:00", 19);
        std::memcpy(&v[39], "FAKE8660", 8);
        return Send(v);
      }
      case kDiagEsn: {
        DiagPacket e(5, kDiagEsn);
        PutLittleEndian32(&e[1], esn);
        return Send(e);
      }
      case kDiagSpc: {
        unlocked_ = !refuseSpc && std::string(p.begin() + 1, p.end()) == spc;
        return Send({kDiagSpc, static_cast<unsigned char>(unlocked_)});
      }
      case kDiagModeChange:
        if (p.size() != 3) return Send(Error(kDiagBadLength, p));
        if (refuseModes) return Send(Error(kDiagBadMode, p));
        mode = GetLittleEndian16(&p[1]);
        return Send(p);
      case kDiagNvRead:
      case kDiagNvWrite:
        if (!nv) return Send(Error(kDiagBadLength, p));
        return Nv(p, GetLittleEndian16(&p[1]), 0, 3, p[0] == kDiagNvWrite, false);
      case kDiagSubsystem:
        if (!ctx || !knowsContexts) return Send(Error(kDiagBadCommand, p));
        return Nv(p, GetLittleEndian16(&p[4]), GetLittleEndian16(&p[6]), 8, GetLittleEndian16(&p[2]) == kNvContextWrite,
                  true);
      default:
        return Send(Error(kDiagBadCommand, p));
    }
  }

  void Nv(DiagPacket answer, std::uint16_t id, std::uint16_t context, size_t data, bool write, bool withContext) {
    if (locked.count(id) && !unlocked_) return Send(Error(kDiagBadSpcMode, answer));
    std::uint16_t status = kNvDone;
    NvData value;
    std::memcpy(value.data(), &answer[data], kNvDataSize);
    auto& store = withContext ? contextItems : items;
    Key key{id, withContext ? context : static_cast<std::uint16_t>(arrays.count(id) ? answer[data] : 0)};
    if (busyRequests > 0) {
      --busyRequests;
      status = kNvBusy;
    } else if (write) {
      if (readOnly.count(id)) {
        status = kNvReadOnly;
      } else {
        if (badReadback) value[5] ^= 0xFF;
        store[key] = value;
      }
    } else {
      auto it = store.find(key);
      if (it == store.end()) {
        status = kNvNotActive;
        value.fill(0);
      } else {
        value = it->second;
      }
      std::memcpy(&answer[data], value.data(), kNvDataSize);
    }
    PutLittleEndian16(&answer[data + kNvDataSize], status);
    Send(answer);
  }

  DiagFrameDecoder decoder_;
  std::deque<unsigned char> out_;
  bool unlocked_ = false;
};
