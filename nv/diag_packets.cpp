#include "nv/diag_packets.h"

#include <algorithm>
#include <cstring>

#include "download/byte_order.h"
#include "download/hdlc.h"

namespace {

void NvPacket(unsigned char code, std::uint16_t id, const NvData& data, DiagPacket* packet) {
  packet->assign(kNvPacketSize, 0);
  unsigned char* p = packet->data();
  p[0] = code;
  PutLittleEndian16(&p[1], id);
  std::memcpy(&p[3], data.data(), kNvDataSize);
}

void NvContextPacket(std::uint16_t command, std::uint16_t id, std::uint16_t context, const NvData& data,
                     DiagPacket* packet) {
  packet->assign(kNvContextPacketSize, 0);
  unsigned char* p = packet->data();
  p[0] = kDiagSubsystem;
  p[1] = kNvSubsystem;
  PutLittleEndian16(&p[2], command);
  PutLittleEndian16(&p[4], id);
  PutLittleEndian16(&p[6], context);
  std::memcpy(&p[8], data.data(), kNvDataSize);
}

// A request built by one of the writing forms, as a packet of its own.
template <class Build>
DiagPacket Built(Build build) {
  DiagPacket packet;
  build(&packet);
  return packet;
}

std::string Text(const unsigned char* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i] != 0; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '?';
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

}  // namespace

DiagPacket VersionRequest() { return {kDiagVersion}; }
DiagPacket EsnRequest() { return {kDiagEsn}; }

DiagPacket SpcRequest(std::string_view code) {
  DiagPacket p{kDiagSpc};
  for (size_t i = 0; i < 6; ++i) p.push_back(i < code.size() ? static_cast<unsigned char>(code[i]) : '0');
  return p;
}

DiagPacket ModeRequest(std::uint16_t mode) {
  DiagPacket p{kDiagModeChange, 0, 0};
  PutLittleEndian16(&p[1], mode);
  return p;
}

void NvReadRequest(std::uint16_t id, unsigned char element, DiagPacket* packet) {
  NvData data{};
  data[0] = element;
  NvPacket(kDiagNvRead, id, data, packet);
}

void NvWriteRequest(std::uint16_t id, const NvData& data, DiagPacket* packet) {
  NvPacket(kDiagNvWrite, id, data, packet);
}

void NvContextReadRequest(std::uint16_t id, std::uint16_t context, DiagPacket* packet) {
  NvContextPacket(kNvContextRead, id, context, NvData{}, packet);
}

void NvContextWriteRequest(std::uint16_t id, std::uint16_t context, const NvData& data, DiagPacket* packet) {
  NvContextPacket(kNvContextWrite, id, context, data, packet);
}

DiagPacket NvReadRequest(std::uint16_t id, unsigned char element) {
  return Built([&](DiagPacket* p) { NvReadRequest(id, element, p); });
}

DiagPacket NvWriteRequest(std::uint16_t id, const NvData& data) {
  return Built([&](DiagPacket* p) { NvWriteRequest(id, data, p); });
}

DiagPacket NvContextReadRequest(std::uint16_t id, std::uint16_t context) {
  return Built([&](DiagPacket* p) { NvContextReadRequest(id, context, p); });
}

DiagPacket NvContextWriteRequest(std::uint16_t id, std::uint16_t context, const NvData& data) {
  return Built([&](DiagPacket* p) { NvContextWriteRequest(id, context, data, p); });
}

bool ParseNvAnswer(const DiagPacket& p, NvAnswer* answer) {
  size_t at;
  if (!p.empty() && (p[0] == kDiagNvRead || p[0] == kDiagNvWrite) && p.size() >= kNvPacketSize) {
    at = 1;
  } else if (p.size() >= kNvContextPacketSize && p[0] == kDiagSubsystem && p[1] == kNvSubsystem) {
    at = 4;
  } else {
    return false;
  }
  answer->id = GetLittleEndian16(&p[at]);
  size_t data = at == 1 ? 3 : 8;
  std::memcpy(answer->data.data(), &p[data], kNvDataSize);
  answer->status = GetLittleEndian16(&p[data + kNvDataSize]);
  return true;
}

bool ParseVersion(const DiagPacket& p, PhoneVersion* version) {
  if (p.size() < 47 || p[0] != kDiagVersion) return false;
  version->compiled = Text(&p[1], 11) + " " + Text(&p[12], 8);
  version->model = Text(&p[39], 8);
  version->modelNumber = p.size() > 49 ? p[49] : -1;
  return true;
}

bool IsDiagError(unsigned char code) {
  return (code >= kDiagBadCommand && code <= kDiagBadMode) || code == kDiagBadSpcMode || code == kDiagBadSecurityMode;
}

HRESULT DiagErrorResult(unsigned char code) {
  switch (code) {
    case kDiagBadCommand: return HRESULT_FROM_WIN32(ERROR_BAD_COMMAND);
    case kDiagBadParameters: return E_INVALIDARG;
    case kDiagBadLength: return HRESULT_FROM_WIN32(ERROR_BAD_LENGTH);
    case kDiagNotAccepted: return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    case kDiagBadMode: return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    case kDiagBadSpcMode:
    case kDiagBadSecurityMode: return E_ACCESSDENIED;
    default: return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  }
}

HRESULT NvStatusResult(std::uint16_t status) {
  switch (status) {
    case kNvDone: return S_OK;
    case kNvBusy: return HRESULT_FROM_WIN32(ERROR_BUSY);
    case kNvBadCommand: return HRESULT_FROM_WIN32(ERROR_BAD_COMMAND);
    case kNvFull:
    case kNvNoMemory: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case kNvFail: return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
    case kNvNotActive: return HRESULT_FROM_WIN32(ERROR_NO_DATA);
    case kNvBadParameter: return E_INVALIDARG;
    case kNvReadOnly: return E_ACCESSDENIED;
    case kNvBadTarget: return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    case kNvNotAllocated: return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    default: return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  }
}

DiagMatch MatchAnswer(const DiagPacket& request, const DiagPacket& packet) {
  if (packet.empty() || request.empty()) return DiagMatch::Foreign;
  if (packet[0] == request[0]) {
    // NV answers echo the item id; subsystem answers repeat the header.
    if (request[0] == kDiagNvRead || request[0] == kDiagNvWrite) {
      return packet.size() >= 3 && packet[1] == request[1] && packet[2] == request[2] ? DiagMatch::Answer : DiagMatch::Foreign;
    }
    if (request[0] == kDiagSubsystem) {
      return packet.size() >= 4 && request.size() >= 4 && std::memcmp(&packet[1], &request[1], 3) == 0 ? DiagMatch::Answer
                                                                                                        : DiagMatch::Foreign;
    }
    return DiagMatch::Answer;
  }
  // An error response names the failed command in byte 1 when it has one.
  if (IsDiagError(packet[0]) && (packet.size() < 2 || packet[1] == request[0])) return DiagMatch::Error;
  return DiagMatch::Foreign;
}

void EncodeDiagFrame(const DiagPacket& packet, DiagPacket* frame) {
  frame->resize(MaxFrameBody(packet.size()));
  frame->resize(PutFrameBody(frame->data(), packet.data(), packet.size()));
}

DiagPacket EncodeDiagFrame(const DiagPacket& packet) {
  return Built([&](DiagPacket* frame) { EncodeDiagFrame(packet, frame); });
}

size_t DiagFrameDecoder::Feed(const unsigned char* bytes, size_t size, bool* closed) {
  *closed = false;
  size_t i = 0;
  while (i < size) {
    if (!escaped_) {
      // A run of ordinary bytes is checked eight bytes a step and kept whole.
      const size_t start = i;
      i = FindReserved(bytes, i, size);
      reg_ = UpdateFrameCheck(reg_, bytes + start, i - start);
      Keep(bytes + start, i - start);
      if (i == size) break;
    }
    const unsigned char byte = bytes[i++];
    if (byte == kHdlcFlag) {
      if (Close()) {
        *closed = true;
        break;
      }
    } else if (byte == kHdlcEscape) {
      escaped_ = true;
    } else {  // the byte behind an escape
      const unsigned char unstuffed = Unstuffed(byte);
      escaped_ = false;
      reg_ = UpdateFrameCheck(reg_, unstuffed);
      Keep(&unstuffed, 1);
    }
  }
  return i;
}

void DiagFrameDecoder::Keep(const unsigned char* bytes, size_t size) {
  if (size == 0) return;
  constexpr size_t kKept = kMaxDiagPacket + 2;  // the packet and its check bytes
  if (count_ == 0) packet_.clear();
  const size_t kept = count_ < kKept ? std::min(size, kKept - count_) : 0;
  packet_.insert(packet_.end(), bytes, bytes + kept);
  if (kept < size) oversize_ = true;
  count_ += size;
}

bool DiagFrameDecoder::Close() {
  bool good = count_ >= 3 && !oversize_ && !escaped_ && reg_ == kGoodFrameCheck;
  if (count_ > 0 && !good && reg_ != kGoodFrameCheck) ++badFrames_;
  if (good) packet_.resize(count_ - 2);  // the check bytes go
  count_ = 0;
  reg_ = 0xFFFF;
  escaped_ = false;
  oversize_ = false;
  return good;
}

std::string ImeiFromItem(const NvData& data) {
  // Byte 0 is the length (8); byte 1 holds digit 1 in its high nibble
  // behind the type nibble; bytes 2..8 hold digits 2..15, low nibble first.
  if (data[0] != 8) return "";
  std::string digits;
  auto add = [&](unsigned nibble) { return nibble <= 9 ? (digits += static_cast<char>('0' + nibble), true) : nibble == 0xF; };
  if (!add(data[1] >> 4)) return "";
  for (size_t i = 2; i <= 8; ++i) {
    if (!add(data[i] & 0x0F) || !add(data[i] >> 4)) return "";
  }
  return digits;
}
