// The byte-exact Sahara packets and Firehose documents both sides of the
// protocol are checked against, and the synthetic 64-bit programmer.
#pragma once
#include <string>
#include <vector>

namespace vectors {

using Bytes = std::vector<unsigned char>;

inline Bytes Hex(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ' || text[i] == '\n') {
      ++i;
      continue;
    }
    out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

inline const Bytes kHello = Hex(
    "01 00 00 00 30 00 00 00 02 00 00 00 01 00 00 00 "
    "00 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
inline const Bytes kHelloResponse = Hex(
    "02 00 00 00 30 00 00 00 02 00 00 00 01 00 00 00 "
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
inline const Bytes kReadData = Hex("03 00 00 00 14 00 00 00 0d 00 00 00 00 00 00 00 34 00 00 00");
inline const Bytes kReadData64 = Hex(
    "12 00 00 00 20 00 00 00 0d 00 00 00 00 00 00 00 "
    "40 00 00 00 00 00 00 00 38 00 00 00 00 00 00 00");
inline const Bytes kEndImageOk = Hex("04 00 00 00 10 00 00 00 0d 00 00 00 00 00 00 00");
inline const Bytes kDone = Hex("05 00 00 00 08 00 00 00");
inline const Bytes kDoneResponse = Hex("06 00 00 00 0c 00 00 00 01 00 00 00");
inline const Bytes kReset = Hex("07 00 00 00 08 00 00 00");
inline const Bytes kResetResponse = Hex("08 00 00 00 08 00 00 00");

// 64-byte ELF64 header, one 56-byte program header, 16 bytes at 0x1000.
inline Bytes SyntheticProgrammer() {
  Bytes file = Hex(
      "7f 45 4c 46 02 01 01 00 00 00 00 00 00 00 00 00 "
      "02 00 b7 00 01 00 00 00 00 00 68 14 00 00 00 00 "
      "40 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
      "00 00 00 00 40 00 38 00 01 00 00 00 00 00 00 00 "
      "01 00 00 00 05 00 00 00 00 10 00 00 00 00 00 00 "
      "00 00 68 14 00 00 00 00 00 00 68 14 00 00 00 00 "
      "10 00 00 00 00 00 00 00 10 00 00 00 00 00 00 00 "
      "00 10 00 00 00 00 00 00");
  file.resize(0x1010);
  for (int i = 0; i < 16; ++i) file[0x1000 + i] = static_cast<unsigned char>(0xA0 + i);
  return file;
}

inline const std::string kConfigure =
    "<?xml version=\"1.0\" ?><data><configure MemoryName=\"ufs\" MaxPayloadSizeToTargetInBytes=\"1048576\" "
    "Verbose=\"0\" ZlpAwareHost=\"1\" SkipStorageInit=\"0\" /></data>";
inline const std::string kConfigureLog =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<log value=\"INFO: Calling handler for configure\" /></data>";
inline const std::string kConfigureAck =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<response value=\"ACK\" MinVersionSupported=\"1\" "
    "MemoryName=\"UFS\" MaxPayloadSizeFromTargetInBytes=\"4096\" MaxPayloadSizeToTargetInBytes=\"1048576\" "
    "MaxPayloadSizeToTargetInBytesSupported=\"1048576\" MaxXMLSizeInBytes=\"4096\" Version=\"1\" "
    "TargetName=\"8953\" /></data>";
inline const std::string kNandNak =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<response value=\"NAK\" MemoryName=\"NAND\" "
    "MaxPayloadSizeFromTargetInBytes=\"2048\" MaxPayloadSizeToTargetInBytes=\"8192\" "
    "MaxPayloadSizeToTargetInBytesSupported=\"8192\" TargetName=\"9x55\" /></data>";
inline const std::string kProgram =
    "<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"4096\" num_partition_sectors=\"2\" "
    "physical_partition_number=\"0\" start_sector=\"6\" filename=\"efi.bin\" /></data>";
inline const std::string kRawAck =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<response value=\"ACK\" rawmode=\"true\" /></data>";
inline const std::string kAck =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<response value=\"ACK\" rawmode=\"false\" /></data>";
inline const std::string kPatch =
    "<?xml version=\"1.0\" ?><data><patch SECTOR_SIZE_IN_BYTES=\"4096\" byte_offset=\"48\" filename=\"DISK\" "
    "physical_partition_number=\"0\" size_in_bytes=\"8\" start_sector=\"1\" value=\"NUM_DISK_SECTORS-6.\" /></data>";

inline std::string Nak(const std::string& log) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<log value=\"" + log +
         "\" /></data><?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<data>\n<response value=\"NAK\" /></data>";
}

}  // namespace vectors
