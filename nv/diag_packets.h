// The packets of the phone's diagnostic protocol that the NV service uses,
// and the frames they travel in. A frame is the packet and its check
// sequence, stuffed, closed by a flag; no opening flag is sent, and a
// receiver takes the first byte it sees and every byte after a flag as the
// start of a frame, so an answer with or without an opening flag is read
// alike. Integers are little-endian.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hresult.h"

using DiagPacket = std::vector<unsigned char>;

enum : unsigned char {
  kDiagVersion = 0x00,
  kDiagEsn = 0x01,
  kDiagBadCommand = 0x13,
  kDiagBadParameters = 0x14,
  kDiagBadLength = 0x15,
  kDiagNotAccepted = 0x16,
  kDiagBadMode = 0x18,
  kDiagNvRead = 0x26,
  kDiagNvWrite = 0x27,
  kDiagModeChange = 0x29,
  kDiagSpc = 0x41,
  kDiagBadSpcMode = 0x42,
  kDiagBadSecurityMode = 0x47,
  kDiagSubsystem = 0x4B,
};

// The NV subsystem of the subsystem dispatch, and its two commands.
enum : unsigned char { kNvSubsystem = 0x30 };
enum : std::uint16_t { kNvContextRead = 1, kNvContextWrite = 2 };

// Modes of the mode change.
enum : std::uint16_t { kModeOffline = 1, kModeReset = 2, kModeOnline = 4 };

// NV status codes of read and write answers.
enum : std::uint16_t {
  kNvDone = 0,
  kNvBusy = 1,
  kNvBadCommand = 2,
  kNvFull = 3,
  kNvFail = 4,
  kNvNotActive = 5,
  kNvBadParameter = 6,
  kNvReadOnly = 7,
  kNvBadTarget = 8,
  kNvNoMemory = 9,
  kNvNotAllocated = 10,
};

constexpr size_t kNvDataSize = 128;
constexpr size_t kNvPacketSize = 133;         // code, item, data, status
constexpr size_t kNvContextPacketSize = 138;  // 4-byte header, item, context, data, status
// The largest packet a receiver keeps; longer frames are discarded.
constexpr size_t kMaxDiagPacket = 4096;

using NvData = std::array<unsigned char, kNvDataSize>;

// An NV item's value as the phone keeps it: id, element of an indexed item
// (or 0), and its 128 data bytes.
struct NvItem {
  std::uint16_t id = 0;
  std::uint16_t index = 0;
  NvData data{};
  bool operator==(const NvItem&) const = default;
};

DiagPacket VersionRequest();
DiagPacket EsnRequest();
// "41" and the six digits of the code.
DiagPacket SpcRequest(std::string_view code);
DiagPacket ModeRequest(std::uint16_t mode);
// A read of one item; element goes into data byte 0 for indexed items.
DiagPacket NvReadRequest(std::uint16_t id, unsigned char element);
DiagPacket NvWriteRequest(std::uint16_t id, const NvData& data);
// The same through the NV subsystem, for a subscription context (1, 2).
DiagPacket NvContextReadRequest(std::uint16_t id, std::uint16_t context);
DiagPacket NvContextWriteRequest(std::uint16_t id, std::uint16_t context, const NvData& data);
// The four NV requests written into *packet, whose storage is reused: a
// walk of thousands of items builds them all in one buffer.
void NvReadRequest(std::uint16_t id, unsigned char element, DiagPacket* packet);
void NvWriteRequest(std::uint16_t id, const NvData& data, DiagPacket* packet);
void NvContextReadRequest(std::uint16_t id, std::uint16_t context, DiagPacket* packet);
void NvContextWriteRequest(std::uint16_t id, std::uint16_t context, const NvData& data, DiagPacket* packet);

// An NV read or write answer, plain or with context.
struct NvAnswer {
  std::uint16_t id = 0;
  NvData data{};
  std::uint16_t status = 0;
};
bool ParseNvAnswer(const DiagPacket& packet, NvAnswer* answer);

// What the version answer tells (it is at least 47 bytes; the rest is
// optional).
struct PhoneVersion {
  std::string compiled;  // "Jun 11 2011 12:00:00"
  std::string model;     // the version directory / model text, trimmed
  int modelNumber = -1;  // -1 when the answer is too short to hold it
};
bool ParseVersion(const DiagPacket& packet, PhoneVersion* version);

// Whether code is one of the generic error responses.
bool IsDiagError(unsigned char code);
// The result an error response stands for.
HRESULT DiagErrorResult(unsigned char code);
// The result an NV status stands for (S_OK for kNvDone).
HRESULT NvStatusResult(std::uint16_t status);

// How a received packet relates to the request in flight.
enum class DiagMatch { Answer, Error, Foreign };
DiagMatch MatchAnswer(const DiagPacket& request, const DiagPacket& packet);

// The frame of a packet as it is sent.
DiagPacket EncodeDiagFrame(const DiagPacket& packet);
// The same written into *frame, whose storage is reused.
void EncodeDiagFrame(const DiagPacket& packet, DiagPacket* frame);

// Turns received bytes into packets. Bytes up to a flag make one frame; a
// frame with a wrong check sequence, fewer than three bytes or more than
// kMaxDiagPacket is discarded (and counted), an empty one ignored. The
// packet is built in a buffer the decoder holds for its life (room for the
// largest one is taken once), so decoding allocates nothing.
class DiagFrameDecoder {
 public:
  DiagFrameDecoder() { packet_.reserve(kMaxDiagPacket + 2); }
  // True when byte ended a good frame, whose packet is then in packet().
  bool Feed(unsigned char byte) {
    bool closed = false;
    Feed(&byte, 1, &closed);
    return closed;
  }
  // Takes bytes up to and including the first one that ends a good frame
  // (*closed is then true and its packet in packet()), or all of them;
  // returns how many it took.
  size_t Feed(const unsigned char* bytes, size_t size, bool* closed);
  // Valid until the next byte is fed.
  const DiagPacket& packet() const { return packet_; }
  // Frames discarded for a wrong check sequence since the last ResetCounts.
  int badFrames() const { return badFrames_; }
  void ResetCounts() { badFrames_ = 0; }

 private:
  // Adds frame bytes (already unstuffed and checked) to the packet; those
  // beyond the largest packet only mark the frame oversize.
  void Keep(const unsigned char* bytes, size_t size);
  bool Close();
  DiagPacket packet_;
  std::uint16_t reg_ = 0xFFFF;
  bool escaped_ = false;
  bool oversize_ = false;
  int badFrames_ = 0;
  size_t count_ = 0;
};

// The IMEI that item 550's data holds (digits, "" when it holds none).
std::string ImeiFromItem(const NvData& data);
