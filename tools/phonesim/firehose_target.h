// The flash programmer of a later phone once Sahara handed over: Firehose
// commands in XML documents (configure, program with its raw data phase,
// read, patch, erase, nop, getstorageinfo, setbootablestoragedrive, power),
// answered with logs and ACK/NAK responses, writing a LunStore.
// Transport-free: host bytes in, the phone's documents (and read data) out,
// one string per write.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/phonesim/firehose_documents.h"
#include "tools/phonesim/lun_store.h"

namespace phonesim {

struct FirehoseConfig {
  bool ufs = false;                    // memory "UFS" (4096-byte sectors) or "eMMC" (512)
  unsigned sectorSize = 0;             // the device's real sector size; 0: the memory's own
  std::uint64_t maxPayload = 1048576;  // largest MaxPayloadSizeToTargetInBytes accepted
  int nakProgram = -1;                 // the K-th program command (from 1) is refused
  int silentAfter = -1;                // no answer from the K-th command (from 1) on
  std::int64_t vanishAfterBytes = -1;  // the phone leaves after this many raw data bytes
  int logFlood = 0;                    // log documents before every response
  std::uint64_t writeBytesPerSecond = 0;  // the storage's write rate; 0: as fast as the host sends
};

class FirehoseTarget {
 public:
  FirehoseTarget(FirehoseConfig config, LunStore& store);

  // The logs a programmer sends on its own right after it starts.
  std::vector<std::string> StartUp() const;
  std::vector<std::string> Feed(const std::uint8_t* data, std::size_t size);

  unsigned sectorSize() const { return sectorSize_; }
  bool resetRequested() const { return reset_; }
  bool vanished() const { return vanished_; }
  std::uint64_t rawBytes() const { return rawTotal_; }
  // Raw data bytes the running program command still awaits.
  std::uint64_t rawBytesAwaited() const { return rawLeft_; }
  int bootableDrive() const { return bootable_; }
  std::uint64_t negotiatedPayload() const { return payload_; }

 private:
  using Out = std::vector<std::string>;
  void TakeRaw(Out& out);
  void PaceWrite(std::uint64_t bytes);
  void Handle(const std::string& document, Out& out);
  void Dispatch(const FirehoseElement& e, Out& out);
  void Configure(const FirehoseElement& e, Out& out);
  void Program(const FirehoseElement& e, Out& out);
  void Read(const FirehoseElement& e, Out& out);
  void Patch(const FirehoseElement& e, Out& out);
  void Erase(const FirehoseElement& e, Out& out);
  void StorageInfo(const FirehoseElement& e, Out& out);

  struct Range {
    unsigned lun = 0;
    std::uint64_t firstSector = 0;
    std::uint64_t sectors = 0;
  };
  // The sector size, LUN and sector range of a command; false after a NAK was queued.
  bool SectorRange(const FirehoseElement& e, bool rangeOptional, Range* range, Out& out);
  bool Number(const FirehoseElement& e, const char* name, unsigned lun, std::uint64_t* value, Out& out);
  std::uint64_t LunSectors() const { return store_.bytes() / sectorSize_; }

  void Respond(Out& out, const std::string& value, const std::string& extra = " rawmode=\"false\"");
  void Nak(Out& out, const std::string& error);

  FirehoseConfig config_;
  LunStore& store_;
  unsigned sectorSize_;
  Bytes buffer_;
  bool garbage_ = false;
  bool configured_ = false;
  bool silent_ = false;
  bool reset_ = false;
  bool vanished_ = false;
  int commands_ = 0;
  int programs_ = 0;
  int bootable_ = -1;
  std::uint64_t payload_ = 0;
  // The raw data phase of a program command.
  std::uint64_t rawLeft_ = 0;
  std::uint64_t rawOffset_ = 0;
  unsigned rawLun_ = 0;
  std::uint64_t rawTotal_ = 0;
  std::chrono::steady_clock::time_point writtenBy_{};  // when the storage has caught up
};

}  // namespace phonesim
