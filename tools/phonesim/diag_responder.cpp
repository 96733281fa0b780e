#include "tools/phonesim/diag_responder.h"

#include <algorithm>
#include <cstring>

#include "tools/phonesim/generated_nv.h"

namespace phonesim {

namespace {

std::uint16_t Le16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }

void SetLe16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

DiagAnswer Reply(Bytes packet) { return DiagAnswer{std::move(packet)}; }

// A request of one of two accepted sizes (with or without the trailing
// status field), padded to the full one; empty when the size is wrong.
Bytes PaddedNvRequest(const Bytes& r, std::size_t full) {
  if (r.size() != full && r.size() != full - 2) return {};
  Bytes padded = r;
  padded.resize(full, 0);
  return padded;
}

}  // namespace

Bytes DiagError(std::uint8_t code, const Bytes& request) {
  std::size_t echo = std::min(request.size(), diag::kErrorEcho);
  Bytes b(1 + echo);
  b[0] = code;
  std::copy_n(request.begin(), echo, b.begin() + 1);
  return b;
}

DiagResponder::DiagResponder(DiagPhoneConfig config, NvStore store) : config_(std::move(config)), store_(std::move(store)) {}

void DiagResponder::Restart() {
  offline_ = false;
  spcAccepted_ = false;
}

DiagAnswer DiagResponder::Handle(const Bytes& r) {
  using namespace diag;
  if (r.empty()) return {};
  switch (r[0]) {
    case kVersion:
      return Reply(r.size() == 1 ? Version() : DiagError(kBadLength, r));
    case kEsn: {
      if (r.size() != 1) return Reply(DiagError(kBadLength, r));
      const NvValue* esn = store_.Find({0, kNvEsnItem, 0});
      Bytes b{kEsn, 0, 0, 0, 0};
      if (esn) std::copy(esn->begin(), esn->begin() + 4, b.begin() + 1);
      return Reply(b);
    }
    case kSpc: return Spc(r);
    case kMode: return ModeChange(r);
    case kNvRead:
    case kNvWrite: {
      Bytes padded = PaddedNvRequest(r, kNvPacket);
      if (padded.empty()) return Reply(DiagError(kBadLength, r));
      return Nv(std::move(padded), 1, 3, 0, r[0] == kNvWrite);
    }
    case kSubsystem: return Subsystem(r);
    default: return Reply(DiagError(kBadCommand, r));
  }
}

Bytes DiagResponder::Version() const {
  Bytes b(diag::kVersionPacket, 0);
  auto text = [&](std::size_t at, std::size_t size, const char* s) { std::memcpy(&b[at], s, std::min(size, std::strlen(s))); };
  b[0] = diag::kVersion;
  text(1, 11, "Jun 11 2011");
  text(12, 8, "10:42:17");
  text(20, 11, "Jun 11 2011");
  text(31, 8, "10:45:03");
  text(39, 8, "VB8660  ");
  b[47] = 0x2A;  // station class mark
  b[48] = 6;     // CAI revision
  b[49] = 0x5A;  // model number
  SetLe16(b, 50, static_cast<std::uint16_t>(0x0100 + config_.phoneIndex % 0x100));
  b[52] = 2;  // slot cycle index
  b[53] = 0x86;
  b[54] = 0x60;
  return b;
}

DiagAnswer DiagResponder::Spc(const Bytes& r) {
  if (r.size() != 7) return Reply(DiagError(diag::kBadLength, r));
  bool right = !config_.faults.refuseSpc && std::string(r.begin() + 1, r.end()) == config_.spc;
  if (right) spcAccepted_ = true;
  return Reply({diag::kSpc, static_cast<std::uint8_t>(right ? 1 : 0)});
}

DiagAnswer DiagResponder::ModeChange(const Bytes& r) {
  using namespace diag;
  if (r.size() != 3) return Reply(DiagError(kBadLength, r));
  switch (Le16(r, 1)) {
    case kModeOffline: offline_ = true; return Reply(r);
    case kModeOnline: offline_ = false; return Reply(r);
    case kModeReset: {
      if (!offline_) return Reply(DiagError(kBadMode, r));
      DiagAnswer a = Reply(r);
      a.resets = true;
      return a;
    }
    default: return Reply(DiagError(kBadParameters, r));
  }
}

DiagAnswer DiagResponder::Subsystem(const Bytes& r) {
  using namespace diag;
  if (r.size() < 4) return Reply(DiagError(kBadLength, r));
  std::uint16_t command = Le16(r, 2);
  if (r[1] != kNvSubsystem || (command != 1 && command != 2)) return Reply(DiagError(kBadCommand, r));
  Bytes padded = PaddedNvRequest(r, kNvContextPacket);
  if (padded.empty()) return Reply(DiagError(kBadLength, r));
  std::uint16_t context = Le16(padded, 6);
  if (context > 2) return Reply(DiagError(kBadParameters, r));
  return Nv(std::move(padded), 4, 8, context, command == 2);
}

DiagAnswer DiagResponder::Nv(Bytes r, std::size_t idAt, std::size_t dataAt, std::uint16_t context, bool write) {
  using namespace diag;
  std::uint16_t id = Le16(r, idAt);
  if (id >= kIdLimit) return Reply(DiagError(kBadParameters, r));
  DiagAnswer a;
  a.nvRequest = true;
  std::size_t statusAt = r.size() - 2;
  auto answer = [&](std::uint16_t status) {
    SetLe16(r, statusAt, status);
    a.packet = std::move(r);
    return a;
  };
  if (nvRequests_++ < config_.faults.busyNvRequests) return answer(kBusy);
  if (store_.IsProtected(id) && !spcAccepted_) {
    a.packet = DiagError(kBadSpcMode, r);
    return a;
  }
  std::uint16_t elements = store_.Elements(id);
  NvKey key{context, id, static_cast<std::uint16_t>(elements > 0 ? r[dataAt] : 0)};
  auto data = r.begin() + static_cast<std::ptrdiff_t>(dataAt);
  if (!write) std::fill(data, data + kNvDataSize, 0);  // a read answers with the value or zeros
  if (elements > 0 && key.index >= elements) return answer(kBadParameter);
  if (write) {
    if (store_.IsReadOnly(id)) return answer(kReadOnly);
    NvValue value;
    std::copy(data, data + kNvDataSize, value.begin());
    store_.Put(key, value);
    written_.insert(key);
    a.storeChanged = true;
    return answer(kDone);
  }
  const NvValue* value = store_.Find(key);
  if (!value) return answer(store_.IsDefined(id) || elements > 0 ? kNotActive : kBadParameter);
  std::copy(value->begin(), value->end(), data);
  if (config_.faults.badReadBack && written_.count(key) != 0) {
    for (std::size_t i = 1; i < kNvDataSize; ++i) data[static_cast<std::ptrdiff_t>(i)] ^= 0xA5;
  }
  return answer(kDone);
}

}  // namespace phonesim
