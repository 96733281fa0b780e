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

// Whether an NV request has one of its two accepted sizes: with or without
// the trailing status field.
bool NvRequestSize(const Bytes& r, std::size_t full) { return r.size() == full || r.size() == full - 2; }

}  // namespace

void PutDiagError(Bytes& out, std::uint8_t code, const Bytes& request) {
  std::size_t echo = std::min(request.size(), diag::kErrorEcho);
  out.resize(1 + echo);
  out[0] = code;
  std::copy_n(request.begin(), echo, out.begin() + 1);
}

Bytes DiagError(std::uint8_t code, const Bytes& request) {
  Bytes b;
  PutDiagError(b, code, request);
  return b;
}

DiagResponder::DiagResponder(DiagPhoneConfig config, NvStore store) : config_(std::move(config)), store_(std::move(store)) {}

void DiagResponder::Restart() {
  offline_ = false;
  spcAccepted_ = false;
}

const DiagAnswer& DiagResponder::Handle(const Bytes& r) {
  using namespace diag;
  answer_.packet.clear();
  answer_.nvRequest = answer_.storeChanged = answer_.resets = false;
  if (r.empty()) return answer_;
  switch (r[0]) {
    case kVersion:
      if (r.size() == 1) Version();
      else Error(kBadLength, r);
      break;
    case kEsn: Esn(r); break;
    case kSpc: Spc(r); break;
    case kMode: ModeChange(r); break;
    case kNvRead:
    case kNvWrite:
      if (NvRequestSize(r, kNvPacket)) Nv(r, kNvPacket, 1, 3, 0, r[0] == kNvWrite);
      else Error(kBadLength, r);
      break;
    case kSubsystem: Subsystem(r); break;
    default: Error(kBadCommand, r); break;
  }
  return answer_;
}

void DiagResponder::Error(std::uint8_t code, const Bytes& r) { PutDiagError(answer_.packet, code, r); }

void DiagResponder::Version() {
  Bytes& b = answer_.packet;
  b.assign(diag::kVersionPacket, 0);
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
}

void DiagResponder::Esn(const Bytes& r) {
  if (r.size() != 1) return Error(diag::kBadLength, r);
  const NvValue* esn = store_.Find({0, kNvEsnItem, 0});
  Bytes& b = answer_.packet;
  b.assign({diag::kEsn, 0, 0, 0, 0});
  if (esn) std::copy(esn->begin(), esn->begin() + 4, b.begin() + 1);
}

void DiagResponder::Spc(const Bytes& r) {
  if (r.size() != 7) return Error(diag::kBadLength, r);
  bool right = !config_.faults.refuseSpc && std::equal(r.begin() + 1, r.end(), config_.spc.begin(), config_.spc.end());
  if (right) spcAccepted_ = true;
  answer_.packet.assign({diag::kSpc, static_cast<std::uint8_t>(right ? 1 : 0)});
}

void DiagResponder::ModeChange(const Bytes& r) {
  using namespace diag;
  if (r.size() != 3) return Error(kBadLength, r);
  switch (Le16(r, 1)) {
    case kModeOffline: offline_ = true; break;
    case kModeOnline: offline_ = false; break;
    case kModeReset:
      if (!offline_) return Error(kBadMode, r);
      answer_.resets = true;
      break;
    default: return Error(kBadParameters, r);
  }
  answer_.packet.assign(r.begin(), r.end());
}

void DiagResponder::Subsystem(const Bytes& r) {
  using namespace diag;
  if (r.size() < 4) return Error(kBadLength, r);
  std::uint16_t command = Le16(r, 2);
  if (r[1] != kNvSubsystem || (command != 1 && command != 2)) return Error(kBadCommand, r);
  if (!NvRequestSize(r, kNvContextPacket)) return Error(kBadLength, r);
  std::uint16_t context = Le16(r, 6);
  if (context > 2) return Error(kBadParameters, r);
  Nv(r, kNvContextPacket, 4, 8, context, command == 2);
}

void DiagResponder::Nv(const Bytes& r, std::size_t full, std::size_t idAt, std::size_t dataAt, std::uint16_t context,
                       bool write) {
  using namespace diag;
  std::uint16_t id = Le16(r, idAt);
  if (id >= kIdLimit) return Error(kBadParameters, r);
  answer_.nvRequest = true;
  const bool busy = nvRequests_++ < config_.faults.busyNvRequests;
  if (!busy && store_.IsProtected(id) && !spcAccepted_) return Error(kBadSpcMode, r);
  Bytes& p = answer_.packet;
  p.assign(r.begin(), r.end());
  p.resize(full, 0);
  SetLe16(p, full - 2, busy ? kBusy : ReadOrWrite(p, dataAt, id, context, write));
}

std::uint16_t DiagResponder::ReadOrWrite(Bytes& p, std::size_t dataAt, std::uint16_t id, std::uint16_t context,
                                         bool write) {
  using namespace diag;
  std::uint16_t elements = store_.Elements(id);
  NvKey key{context, id, static_cast<std::uint16_t>(elements > 0 ? p[dataAt] : 0)};
  auto data = p.begin() + static_cast<std::ptrdiff_t>(dataAt);
  if (!write) std::fill(data, data + kNvDataSize, 0);  // a read answers with the value or zeros
  if (elements > 0 && key.index >= elements) return kBadParameter;
  if (write) {
    if (store_.IsReadOnly(id)) return kReadOnly;
    NvValue value;
    std::copy(data, data + kNvDataSize, value.begin());
    store_.Put(key, value);
    if (config_.faults.badReadBack) written_.insert(key);
    answer_.storeChanged = true;
    return kDone;
  }
  const NvValue* value = store_.Find(key);
  if (!value) return store_.IsDefined(id) || elements > 0 ? kNotActive : kBadParameter;
  std::copy(value->begin(), value->end(), data);
  if (config_.faults.badReadBack && written_.count(key) != 0) {
    for (std::size_t i = 1; i < kNvDataSize; ++i) data[static_cast<std::ptrdiff_t>(i)] ^= 0xA5;
  }
  return kDone;
}

}  // namespace phonesim
