// What a running phone answers on its diagnostic port, one request packet
// at a time, transport-free: version and ESN, the service programming code,
// NV read and write (plain and with a SIM context), mode changes, and the
// generic error answers. The phone never speaks unasked.
#pragma once
#include <cstdint>
#include <set>
#include <string>

#include "tools/phonesim/nv_store.h"
#include "tools/phonesim/sim_frame.h"

namespace phonesim {

// Faults of the phone itself (the link's faults belong to the port).
struct DiagFaults {
  bool refuseSpc = false;    // every code is answered "wrong"
  int busyNvRequests = 0;    // the first N NV requests are answered with status 1
  bool badReadBack = false;  // items written in this run read back altered
};

struct DiagPhoneConfig {
  unsigned phoneIndex = 1;
  std::string spc = "482615";
  DiagFaults faults;
};

struct DiagAnswer {
  Bytes packet;               // empty when there is nothing to send
  bool nvRequest = false;     // an NV read or write, plain or with context
  bool storeChanged = false;  // a value was written
  bool resets = false;        // the phone restarts once this is sent
};

// Command codes, NV status codes and sizes of the diagnostic protocol.
namespace diag {
inline constexpr std::uint8_t kVersion = 0x00, kEsn = 0x01, kBadCommand = 0x13, kBadParameters = 0x14,
                              kBadLength = 0x15, kBadMode = 0x18, kNvRead = 0x26, kNvWrite = 0x27, kMode = 0x29,
                              kSpc = 0x41, kBadSpcMode = 0x42, kSubsystem = 0x4B, kNvSubsystem = 0x30;
inline constexpr std::uint16_t kDone = 0, kBusy = 1, kNotActive = 5, kBadParameter = 6, kReadOnly = 7;
inline constexpr std::uint16_t kModeOffline = 1, kModeReset = 2, kModeOnline = 4;
inline constexpr std::size_t kNvPacket = 133, kNvContextPacket = 138, kVersionPacket = 55, kErrorEcho = 16;
inline constexpr std::uint16_t kIdLimit = 8192;  // ids from here on are out of range
}  // namespace diag

class DiagResponder {
 public:
  DiagResponder(DiagPhoneConfig config, NvStore store);

  // The answer to request. It is built in the responder's own buffer, which
  // serves every answer, and stays valid until the next call.
  const DiagAnswer& Handle(const Bytes& request);
  // The phone starts again after a reset: online, code not accepted.
  void Restart();

  bool offline() const { return offline_; }
  bool spcAccepted() const { return spcAccepted_; }
  const NvStore& store() const { return store_; }

 private:
  // Each fills answer_ for its request.
  void Version();
  void Esn(const Bytes& r);
  void Spc(const Bytes& r);
  void ModeChange(const Bytes& r);
  void Subsystem(const Bytes& r);
  void Error(std::uint8_t code, const Bytes& r);
  // An NV request of `full` bytes (or two fewer, without the status); idAt
  // is the id's offset, the data follows `dataAt`. The answer is the
  // request padded to its full size, data and status filled in.
  void Nv(const Bytes& r, std::size_t full, std::size_t idAt, std::size_t dataAt, std::uint16_t context, bool write);
  // Reads or writes the value the padded request p names; its status.
  std::uint16_t ReadOrWrite(Bytes& p, std::size_t dataAt, std::uint16_t id, std::uint16_t context, bool write);

  DiagPhoneConfig config_;
  NvStore store_;
  DiagAnswer answer_;
  std::set<NvKey> written_;  // kept only for the badReadBack fault
  int nvRequests_ = 0;
  bool offline_ = false;
  bool spcAccepted_ = false;
};

// An error answer: the code, then the first bytes of the offending request.
Bytes DiagError(std::uint8_t code, const Bytes& request);
// The same written into out.
void PutDiagError(Bytes& out, std::uint8_t code, const Bytes& request);

}  // namespace phonesim
