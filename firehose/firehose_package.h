// The flash package of a Firehose run, read and checked whole before the
// phone hears anything: the programmer file read, both XML files parsed,
// every image found, opened as a regular file and closed again, every number
// and expression checked. Sector numbers that name the disk's size
// ("NUM_DISK_SECTORS-5.") stay text: the phone evaluates them against the
// storage it has.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "jobs/status_sink.h"

// One program element that names a file.
struct FirehoseProgram {
  std::string path;      // as resolved over the search paths
  std::string filename;  // as the rawprogram file names it
  std::string label;
  std::uint64_t fileBytes = 0;  // the file's length when it was checked
  std::uint32_t sectorSize = 0;
  std::uint32_t partition = 0;  // physical_partition_number: the LUN on UFS
  std::string startSector;      // a number or an expression for the phone
  std::uint64_t sectorLimit = 0;       // num_partition_sectors; 0: the whole file
  std::uint64_t fileSectorOffset = 0;  // first sector of the file written
  // The sectors sent: the file from the offset, rounded up to whole sectors,
  // at most the limit.
  std::uint64_t sectorsToSend() const;
};

// One patch element of the file "DISK", passed to the phone as written.
struct FirehosePatch {
  std::uint32_t sectorSize = 0;
  std::uint32_t partition = 0;
  std::string startSector;
  std::uint32_t byteOffset = 0;
  std::uint32_t sizeInBytes = 0;
  std::string value;
};

struct FirehosePackage {
  std::string programmerPath;
  std::vector<unsigned char> programmer;  // sent to the boot ROM unchanged
  std::vector<FirehoseProgram> programs;
  std::vector<FirehosePatch> patches;
  std::string memoryName;  // "emmc" or "ufs"
  std::uint64_t bytesToSend() const;
};

// The largest programmer file accepted.
inline constexpr std::uint64_t kMaxProgrammerBytes = 64ull << 20;

// The storage type a setting names: "eMMC" or "UFS" in any case gives
// "emmc" or "ufs", "" gives "" (the package decides); false for any other
// text.
bool FirehoseMemoryName(const std::string& setting, std::string* memoryName);

// Reads and checks the whole package. The storage type is the one memory
// names (FirehoseMemoryName), else the one the program elements' sector size
// implies (4096: "ufs", else "emmc"). Fails with E_INVALIDARG for a storage
// type that is neither, a missing or malformed number or expression, an
// image name that leaves its folder, a patch outside its sector, and for a
// programmer or image that is not a regular file (never waiting on one); with
// ERROR_BAD_FORMAT for a programmer that is not an ELF file; with
// ERROR_NOT_SUPPORTED for a sparse image; with the open error of a file
// that cannot be read. Each refusal is also reported to the sink.
HRESULT ReadFirehosePackage(const std::string& programmer, const std::string& rawprogramXml,
                            const std::string& patchXml, const std::string& searchPaths, const std::string& memory,
                            IQStatusReport* sink, FirehosePackage* package);

// A sector number or patch value the phone can evaluate: digits with an
// optional closing period, or an expression of NUM_DISK_SECTORS, numbers,
// "+ - * /", and (values only) CRC32(a,b); at most 128 characters.
bool IsFirehoseExpression(const std::string& text, bool allowCrc);
