#include "tools/phonesim/firehose_target.h"

#include <algorithm>
#include <thread>

#include "tools/phonesim/firehose_expression.h"

namespace phonesim {
namespace {

constexpr std::size_t kMaxXmlBytes = 4096;
constexpr std::uint64_t kLargestRead = 64ull << 20;
constexpr std::uint64_t kLargestPayload = 16ull << 20;

std::string MemoryName(bool ufs) { return ufs ? "UFS" : "eMMC"; }

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

FirehoseTarget::FirehoseTarget(FirehoseConfig config, LunStore& store)
    : config_(config), store_(store), sectorSize_(config.sectorSize ? config.sectorSize : (config.ufs ? 4096 : 512)) {}

std::vector<std::string> FirehoseTarget::StartUp() const {
  return {LogDocument("INFO: Device Programmer Entry: vantor bench phone"),
          LogDocument("INFO: Binary build date: Dec  9 2026"),
          LogDocument("INFO: Supported Functions: configure program read patch erase nop getstorageinfo "
                      "setbootablestoragedrive power"),
          LogDocument("INFO: End of supported functions 9")};
}

void FirehoseTarget::Respond(Out& out, const std::string& value, const std::string& extra) {
  for (int i = 0; i < config_.logFlood; ++i) out.push_back(LogDocument("INFO: bench phone log " + std::to_string(i + 1)));
  out.push_back(PhoneDocument("<response value=\"" + value + "\"" + extra + " />"));
}

void FirehoseTarget::Nak(Out& out, const std::string& error) {
  out.push_back(LogDocument("ERROR: " + error));
  Respond(out, "NAK");
}

std::vector<std::string> FirehoseTarget::Feed(const std::uint8_t* data, std::size_t size) {
  Out out;
  if (vanished_ || reset_) return out;
  buffer_.insert(buffer_.end(), data, data + size);
  while (!vanished_ && !reset_) {
    if (rawLeft_ > 0) {
      if (buffer_.empty()) break;
      TakeRaw(out);
      continue;
    }
    std::string document;
    DocumentCut cut = CutDocument(buffer_, kMaxXmlBytes, &document);
    if (cut == DocumentCut::NeedMore) break;
    if (cut == DocumentCut::Document) Handle(document, out);
    else garbage_ = true;
  }
  if (silent_) out.clear();
  return out;
}

// Raw sector data of the running program command, written as it arrives.
void FirehoseTarget::TakeRaw(Out& out) {
  std::uint64_t n = std::min<std::uint64_t>(rawLeft_, buffer_.size());
  if (config_.vanishAfterBytes >= 0)
    n = std::min<std::uint64_t>(n, static_cast<std::uint64_t>(config_.vanishAfterBytes) - rawTotal_);
  bool written = store_.Write(rawLun_, rawOffset_, buffer_.data(), static_cast<std::size_t>(n));
  PaceWrite(n);
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
  rawLeft_ -= n;
  rawOffset_ += n;
  rawTotal_ += n;
  if (config_.vanishAfterBytes >= 0 && rawTotal_ >= static_cast<std::uint64_t>(config_.vanishAfterBytes)) {
    vanished_ = true;
    return;
  }
  if (!written) {
    rawLeft_ = 0;
    Nak(out, "Failed to write the sectors");
    return;
  }
  if (rawLeft_ == 0) Respond(out, "ACK");
}

// A storage slower than the link: the phone takes no more bytes until the
// ones written so far would have taken their time. A late wake-up is made up
// by the next writes; a pause of the host's is not banked.
void FirehoseTarget::PaceWrite(std::uint64_t bytes) {
  if (config_.writeBytesPerSecond == 0) return;
  auto now = std::chrono::steady_clock::now();
  if (now - writtenBy_ > std::chrono::milliseconds(100)) writtenBy_ = now;
  writtenBy_ += std::chrono::nanoseconds(bytes * 1000000000ull / config_.writeBytesPerSecond);
  std::this_thread::sleep_until(writtenBy_);
}

void FirehoseTarget::Handle(const std::string& document, Out& out) {
  ++commands_;
  if (config_.silentAfter >= 0 && commands_ >= config_.silentAfter) silent_ = true;
  if (silent_) return;
  auto elements = ParseDocument(document);
  if (garbage_ || !elements || elements->empty()) {
    garbage_ = false;
    Nak(out, "XML not formed correctly");
    return;
  }
  for (const FirehoseElement& e : *elements) Dispatch(e, out);
}

void FirehoseTarget::Dispatch(const FirehoseElement& e, Out& out) {
  if (e.name == "configure") return Configure(e, out);
  if (e.name == "nop") return Respond(out, "ACK");
  if (e.name == "power") {
    Respond(out, "ACK");
    reset_ = true;
    return;
  }
  if (!configured_) return Nak(out, "storage is not initialised: send configure first");
  if (e.name == "program") return Program(e, out);
  if (e.name == "read") return Read(e, out);
  if (e.name == "patch") return Patch(e, out);
  if (e.name == "erase") return Erase(e, out);
  if (e.name == "getstorageinfo") return StorageInfo(e, out);
  if (e.name == "setbootablestoragedrive") {
    std::uint64_t lun = 0;
    if (!Number(e, "value", 0, &lun, out)) return;
    if (lun >= store_.count()) return Nak(out, "no physical partition " + std::to_string(lun));
    bootable_ = static_cast<int>(lun);
    out.push_back(LogDocument("INFO: partition " + std::to_string(lun) + " is now bootable"));
    return Respond(out, "ACK");
  }
  Nak(out, "Unknown command: " + e.name);
}

void FirehoseTarget::Configure(const FirehoseElement& e, Out& out) {
  out.push_back(LogDocument("INFO: Calling handler for configure"));
  if (const std::string* memory = e.Find("memoryname")) {
    std::string asked = Lower(*memory);
    if (asked == "emmc" && config_.ufs) return Nak(out, "Failed to open the SDCC Device");
    if (asked == "ufs" && !config_.ufs) return Nak(out, "Failed to initialize (open whole lun) UFS Device slot 0");
    if (asked != "emmc" && asked != "ufs") return Nak(out, "Not support configure MemoryName " + *memory);
  }
  std::uint64_t asked = 0;
  if (!Number(e, "maxpayloadsizetotargetinbytes", 0, &asked, out)) return;
  const std::string sizes = " MemoryName=\"" + MemoryName(config_.ufs) +
                            "\" MaxPayloadSizeFromTargetInBytes=\"4096\" MaxPayloadSizeToTargetInBytes=\"";
  if (asked == 0 || asked > std::min(config_.maxPayload, kLargestPayload)) {
    out.push_back(LogDocument("ERROR: Host's payload to target size is too large"));
    std::string max = std::to_string(config_.maxPayload);
    return Respond(out, "NAK", sizes + max + "\" MaxPayloadSizeToTargetInBytesSupported=\"" + max +
                                   "\" MaxXMLSizeInBytes=\"4096\" TargetName=\"VBENCH\"");
  }
  configured_ = true;
  payload_ = asked;
  out.push_back(LogDocument("INFO: Storage type set to value " + MemoryName(config_.ufs)));
  std::string size = std::to_string(asked);
  Respond(out, "ACK", " MinVersionSupported=\"1\"" + sizes + size + "\" MaxPayloadSizeToTargetInBytesSupported=\"" +
                          size + "\" MaxXMLSizeInBytes=\"4096\" Version=\"1\" TargetName=\"VBENCH\"");
}

bool FirehoseTarget::Number(const FirehoseElement& e, const char* name, unsigned lun, std::uint64_t* value, Out& out) {
  const std::string* text = e.Find(name);
  ExpressionContext context;
  context.diskSectors = LunSectors();
  context.crc32 = [&](std::uint64_t sector, std::uint64_t bytes) -> std::optional<std::uint32_t> {
    if (bytes > (16u << 20) || sector > LunSectors()) return std::nullopt;
    Bytes data(static_cast<std::size_t>(bytes));
    if (!store_.Read(lun, sector * sectorSize_, data.data(), data.size())) return std::nullopt;
    return Crc32(data.data(), data.size());
  };
  std::optional<std::uint64_t> v;
  if (text) v = EvaluateExpression(*text, context);
  if (!v) {
    Nak(out, std::string("Attribute '") + name + "' is missing or not a number");
    return false;
  }
  *value = *v;
  return true;
}

bool FirehoseTarget::SectorRange(const FirehoseElement& e, bool rangeOptional, Range* range, Out& out) {
  std::uint64_t size = 0, lun = 0;
  if (!Number(e, "sector_size_in_bytes", 0, &size, out)) return false;
  if (size != sectorSize_) {
    Nak(out, "Attribute 'SECTOR_SIZE_IN_BYTES'=" + std::to_string(size) + " must be equal to disk sector size " +
                 std::to_string(sectorSize_));
    return false;
  }
  if (e.Find("physical_partition_number") && !Number(e, "physical_partition_number", 0, &lun, out)) return false;
  if (lun >= store_.count()) {
    Nak(out, "no physical partition " + std::to_string(lun));
    return false;
  }
  range->lun = static_cast<unsigned>(lun);
  if (rangeOptional && !e.Find("start_sector") && !e.Find("num_partition_sectors")) {
    range->firstSector = 0;
    range->sectors = LunSectors();
    return true;
  }
  if (!Number(e, "start_sector", range->lun, &range->firstSector, out) ||
      !Number(e, "num_partition_sectors", range->lun, &range->sectors, out))
    return false;
  if (range->firstSector > LunSectors() || range->sectors > LunSectors() - range->firstSector) {
    Nak(out, "sectors " + std::to_string(range->firstSector) + "+" + std::to_string(range->sectors) +
                 " lie past the end of physical partition " + std::to_string(range->lun));
    return false;
  }
  return true;
}

void FirehoseTarget::Program(const FirehoseElement& e, Out& out) {
  Range range;
  if (!SectorRange(e, false, &range, out)) return;
  if (++programs_ == config_.nakProgram) return Nak(out, "Failed to program the sectors (write protected)");
  if (range.sectors == 0) return Respond(out, "ACK");
  rawLun_ = range.lun;
  rawOffset_ = range.firstSector * sectorSize_;
  rawLeft_ = range.sectors * sectorSize_;
  Respond(out, "ACK", " rawmode=\"true\"");
}

void FirehoseTarget::Read(const FirehoseElement& e, Out& out) {
  Range range;
  if (!SectorRange(e, false, &range, out)) return;
  std::uint64_t bytes = range.sectors * sectorSize_;
  if (bytes > kLargestRead) return Nak(out, "read too large");
  std::string data(static_cast<std::size_t>(bytes), '\0');
  if (!store_.Read(range.lun, range.firstSector * sectorSize_, reinterpret_cast<std::uint8_t*>(data.data()), data.size()))
    return Nak(out, "Failed to read the sectors");
  Respond(out, "ACK", " rawmode=\"true\"");
  if (!data.empty()) out.push_back(std::move(data));
  Respond(out, "ACK");
}

void FirehoseTarget::Patch(const FirehoseElement& e, Out& out) {
  const std::string* file = e.Find("filename");
  if (file && *file != "DISK") {
    out.push_back(LogDocument("INFO: patch of " + *file + " is not for the disk, skipped"));
    return Respond(out, "ACK");
  }
  std::uint64_t size = 0, lun = 0, sector = 0, offset = 0, width = 0, value = 0;
  if (!Number(e, "sector_size_in_bytes", 0, &size, out)) return;
  if (size != sectorSize_)
    return Nak(out, "Attribute 'SECTOR_SIZE_IN_BYTES'=" + std::to_string(size) + " must be equal to disk sector size " +
                        std::to_string(sectorSize_));
  if (e.Find("physical_partition_number") && !Number(e, "physical_partition_number", 0, &lun, out)) return;
  if (lun >= store_.count()) return Nak(out, "no physical partition " + std::to_string(lun));
  unsigned l = static_cast<unsigned>(lun);
  if (!Number(e, "start_sector", l, &sector, out) || !Number(e, "byte_offset", l, &offset, out) ||
      !Number(e, "size_in_bytes", l, &width, out) || !Number(e, "value", l, &value, out))
    return;
  if (width == 0 || width > 8) return Nak(out, "size_in_bytes must be 1 to 8");
  if (sector > LunSectors() || offset > store_.bytes()) return Nak(out, "patch lies past the end of the disk");
  std::uint8_t bytes[8];
  for (unsigned i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  if (!store_.Write(l, sector * sectorSize_ + offset, bytes, static_cast<std::size_t>(width)))
    return Nak(out, "patch lies past the end of the disk");
  Respond(out, "ACK");
}

void FirehoseTarget::Erase(const FirehoseElement& e, Out& out) {
  Range range;
  if (!SectorRange(e, true, &range, out)) return;
  if (!store_.Erase(range.lun, range.firstSector * sectorSize_, range.sectors * sectorSize_))
    return Nak(out, "Failed to erase the sectors");
  Respond(out, "ACK");
}

void FirehoseTarget::StorageInfo(const FirehoseElement& e, Out& out) {
  std::uint64_t lun = 0;
  if (e.Find("physical_partition_number") && !Number(e, "physical_partition_number", 0, &lun, out)) return;
  if (lun >= store_.count()) return Nak(out, "no physical partition " + std::to_string(lun));
  std::string size = std::to_string(sectorSize_);
  out.push_back(LogDocument("INFO: {\"storage_info\": {\"total_blocks\":" + std::to_string(LunSectors()) +
                            ", \"block_size\":" + size + ", \"page_size\":" + size + ", \"num_physical\":" +
                            std::to_string(store_.count()) + ", \"mem_type\":\"" + MemoryName(config_.ufs) +
                            "\", \"prod_name\":\"VBENCH\"}}"));
  Respond(out, "ACK");
}

}  // namespace phonesim
