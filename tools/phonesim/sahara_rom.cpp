#include "tools/phonesim/sahara_rom.h"

#include <algorithm>

namespace phonesim {
namespace {

constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kHelloBytes = 0x30;
constexpr std::uint64_t kPieceBytes = 0x1000;
constexpr std::uint32_t kMaxProgramHeaders = 128;
constexpr std::uint32_t kPtLoad = 1;
constexpr std::uint32_t kHashFlagsMask = 0x07000000, kHashFlags = 0x02000000;

std::uint64_t Le(const Bytes& b, std::size_t at, std::size_t width) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(b[at + i]) << (8 * i);
  return v;
}

void PutLe(Bytes& b, std::uint64_t v, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes Packet(std::uint32_t command, std::initializer_list<std::uint32_t> words) {
  Bytes p;
  PutLe(p, command, 4);
  PutLe(p, kHeaderBytes + 4 * words.size(), 4);
  for (std::uint32_t w : words) PutLe(p, w, 4);
  return p;
}

// True while the bytes so far can still be the start of `expected`.
bool CouldStart(const Bytes& got, std::initializer_list<std::uint8_t> expected) {
  std::size_t n = std::min(got.size(), expected.size());
  return std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(n), expected.begin());
}

const std::initializer_list<std::uint8_t> kHelloRespStart = {0x02, 0, 0, 0, 0x30, 0, 0, 0};
const std::initializer_list<std::uint8_t> kResetStart = {0x07, 0, 0, 0, 0x08, 0, 0, 0};

}  // namespace

Bytes SaharaRom::Hello() {
  stage_ = Stage::AwaitHelloResp;
  pending_.clear();
  Bytes p = Packet(sahara::kHello, {config_.version, config_.compatible, config_.maxLen, 0, 0, 0, 0, 0, 0, 0});
  return p;
}

Bytes SaharaRom::Restart() {
  image_.clear();
  plan_.clear();
  next_ = 0;
  headerRead_ = tableRead_ = false;
  lastStatus_ = 0;
  Bytes out = Packet(sahara::kResetResp, {});
  Bytes hello = Hello();
  out.insert(out.end(), hello.begin(), hello.end());
  return out;
}

Bytes SaharaRom::Feed(const std::uint8_t* data, std::size_t size) {
  pending_.insert(pending_.end(), data, data + size);
  Bytes out;
  for (;;) {
    Bytes reply;
    std::size_t before = pending_.size();
    Stage stageBefore = stage_;
    if (stage_ == Stage::Handover) break;
    if (stage_ == Stage::AwaitData) {
      std::size_t want = static_cast<std::size_t>(plan_[next_].length);
      if (pending_.size() < want) break;
      Bytes piece(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(want));
      pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(want));
      reply = OnData(piece);
    } else if (stage_ == Stage::AwaitHelloResp) {
      if (!CouldStart(pending_, kHelloRespStart) && !CouldStart(pending_, kResetStart)) {
        // Not an answer to HELLO (a probe of another protocol, noise): say HELLO again.
        ++hellosRepeated_;
        pending_.clear();
        Bytes hello = Hello();
        out.insert(out.end(), hello.begin(), hello.end());
        break;
      }
      if (pending_.size() < kHeaderBytes) break;
      reply = OnPacket();
    } else {
      if (pending_.size() < kHeaderBytes) break;
      reply = OnPacket();
    }
    out.insert(out.end(), reply.begin(), reply.end());
    if (pending_.size() == before && stage_ == stageBefore && reply.empty()) break;
  }
  return out;
}

Bytes SaharaRom::TakeLeftover() {
  Bytes rest;
  rest.swap(pending_);
  return rest;
}

// One whole packet from the host at the front of pending_ (the header is there).
Bytes SaharaRom::OnPacket() {
  std::uint32_t command = static_cast<std::uint32_t>(Le(pending_, 0, 4));
  std::uint32_t length = static_cast<std::uint32_t>(Le(pending_, 4, 4));
  if (length < kHeaderBytes || length > config_.maxLen) {
    pending_.clear();
    return stage_ == Stage::Failed ? Bytes{} : EndImage(sahara::kInvalidPacketSize);
  }
  if (pending_.size() < length) return {};
  Bytes packet(pending_.begin(), pending_.begin() + length);
  pending_.erase(pending_.begin(), pending_.begin() + length);
  if (command == sahara::kReset) return length == kHeaderBytes ? Restart() : EndImage(sahara::kInvalidPacketSize);
  if (stage_ == Stage::Failed) return {};  // after a failure only a reset is heard
  if (stage_ == Stage::AwaitHelloResp && command == sahara::kHelloResp) {
    return length == kHelloBytes ? OnHelloResp(packet) : EndImage(sahara::kInvalidPacketSize);
  }
  if (stage_ == Stage::AwaitDone && command == sahara::kDone) {
    if (length != kHeaderBytes) return EndImage(sahara::kInvalidPacketSize);
    stage_ = Stage::Handover;
    return Packet(sahara::kDoneResp, {1});
  }
  return EndImage(sahara::kInvalidCommand);
}

Bytes SaharaRom::OnHelloResp(const Bytes& p) {
  std::uint32_t version = static_cast<std::uint32_t>(Le(p, 8, 4));
  std::uint32_t status = static_cast<std::uint32_t>(Le(p, 0x10, 4));
  std::uint32_t mode = static_cast<std::uint32_t>(Le(p, 0x14, 4));
  if (version < config_.compatible) return EndImage(sahara::kInvalidHostVersion);
  if (status != 0 || mode != 0) return EndImage(sahara::kInvalidHostMode);
  plan_ = {Piece{0, config_.profile64 ? 0x40u : 0x34u}};
  next_ = 0;
  stage_ = Stage::AwaitData;
  return NextRequest();
}

Bytes SaharaRom::NextRequest() {
  const Piece& piece = plan_[next_];
  Bytes p;
  if (config_.profile64) {
    PutLe(p, sahara::kReadData64, 4);
    PutLe(p, 0x20, 4);
    PutLe(p, sahara::kProgrammerImage, 8);
    PutLe(p, piece.offset, 8);
    PutLe(p, piece.length, 8);
  } else {
    p = Packet(sahara::kReadData, {sahara::kProgrammerImage, static_cast<std::uint32_t>(piece.offset),
                                   static_cast<std::uint32_t>(piece.length)});
  }
  return p;
}

Bytes SaharaRom::OnData(const Bytes& data) {
  const Piece piece = plan_[next_];
  if (image_.size() < piece.offset + piece.length) image_.resize(piece.offset + piece.length, 0);
  std::copy(data.begin(), data.end(), image_.begin() + static_cast<std::ptrdiff_t>(piece.offset));
  if (!headerRead_) {
    headerRead_ = true;
    const std::uint8_t wantClass = config_.profile64 ? 2 : 1;
    if (!(data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F') || data[4] != wantClass)
      return EndImage(sahara::kInvalidElfHeader);
    std::uint64_t phoff = config_.profile64 ? Le(data, 0x20, 8) : Le(data, 0x1C, 4);
    std::uint32_t entsize = static_cast<std::uint32_t>(Le(data, config_.profile64 ? 0x36 : 0x2A, 2));
    std::uint32_t count = static_cast<std::uint32_t>(Le(data, config_.profile64 ? 0x38 : 0x2C, 2));
    if (entsize != (config_.profile64 ? 0x38u : 0x20u)) return EndImage(sahara::kInvalidElfHeader);
    if (count == 0 || count > kMaxProgramHeaders) return EndImage(sahara::kUnsupportedHeaderCount);
    if (phoff > config_.largestImage) return EndImage(sahara::kInvalidElfHeader);
    plan_.push_back(Piece{phoff, static_cast<std::uint64_t>(count) * entsize});
  } else if (!tableRead_) {
    tableRead_ = true;
    Bytes failure = PlanSegments();
    if (!failure.empty()) return failure;
  }
  if (++next_ < plan_.size()) return NextRequest();
  return EndImage(config_.unsigned_ ? sahara::kImageAuthFailed : sahara::kSuccess);
}

// From the program-header table just read: the hash segment first, then
// every loadable segment with file bytes, each in pieces of at most 4 KiB
// counted from the segment's own file offset.
Bytes SaharaRom::PlanSegments() {
  const Piece table = plan_[next_];
  const std::size_t entsize = config_.profile64 ? 0x38 : 0x20;
  std::vector<Piece> hash, load;
  for (std::uint64_t at = table.offset; at + entsize <= table.offset + table.length; at += entsize) {
    Bytes h(image_.begin() + static_cast<std::ptrdiff_t>(at), image_.begin() + static_cast<std::ptrdiff_t>(at + entsize));
    std::uint32_t type = static_cast<std::uint32_t>(Le(h, 0, 4));
    std::uint32_t flags = static_cast<std::uint32_t>(config_.profile64 ? Le(h, 4, 4) : Le(h, 24, 4));
    std::uint64_t offset = config_.profile64 ? Le(h, 8, 8) : Le(h, 4, 4);
    std::uint64_t filesz = config_.profile64 ? Le(h, 32, 8) : Le(h, 16, 4);
    if (filesz == 0) continue;
    if (offset > config_.largestImage || filesz > config_.largestImage - offset) return EndImage(sahara::kInvalidElfHeader);
    if ((flags & kHashFlagsMask) == kHashFlags) hash.push_back(Piece{offset, filesz});
    else if (type == kPtLoad) load.push_back(Piece{offset, filesz});
  }
  for (const std::vector<Piece>* segments : {&hash, &load})
    for (const Piece& s : *segments)
      for (std::uint64_t done = 0; done < s.length; done += kPieceBytes)
        plan_.push_back(Piece{s.offset + done, std::min(kPieceBytes, s.length - done)});
  return {};
}

Bytes SaharaRom::EndImage(std::uint32_t status) {
  lastStatus_ = status;
  stage_ = status == sahara::kSuccess ? Stage::AwaitDone : Stage::Failed;
  return Packet(sahara::kEndImageTx, {sahara::kProgrammerImage, status});
}

Bytes SaharaRom::ReceiveTimedOut() {
  if (stage_ != Stage::AwaitData) return {};
  pending_.clear();
  return EndImage(sahara::kReceiveTimeout);
}

}  // namespace phonesim
