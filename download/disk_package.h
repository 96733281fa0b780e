// The flash package of a disk run, read and checked whole before the first
// byte is written: both XML files parsed, every image found and opened, every
// number read, every write inside the disk. A package that fails any check
// leaves the disk as it was.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "jobs/status_sink.h"
#include "platform/unique_fd.h"

// One program element that names a file: the image, open for reading, and
// where its sectors go.
struct ProgramWrite {
  std::string path;  // as resolved over the search paths
  UniqueFd file;
  std::uint64_t fileBytes = 0;
  std::uint64_t startSector = 0;
  std::uint64_t sectorLimit = 0;       // 0: the whole file
  std::uint64_t fileSectorOffset = 0;  // first sector of the file written
  // The file sectors written: from the offset to the file's end, at most the limit.
  std::uint64_t sectorsWritten() const;
};

// One patch element of the file "DISK".
struct PatchWrite {
  std::uint64_t startSector = 0;
  std::uint64_t byteOffset = 0;
  std::uint64_t value = 0;
  std::uint64_t sizeInBytes = 0;
};

// Reads every program element of the rawprogram file ("Open program file").
// Of repeated attributes the last one counts. Fails with WS_E_INVALID_FORMAT
// for a start sector that is not a number (see ParseStartSector), E_INVALIDARG
// for a file name that is absolute or climbs out of its folder ("..") and for
// an element that does not lie inside the disk, and with the open error of an
// image that cannot be read (after the status "Open image file", naming it).
// A disk with no end to check against (a character device) has
// DiskSize::bounded false: its length reads as 0 for the values, and no
// element is outside it.
struct DiskSize {
  std::uint64_t bytes = 0;
  bool bounded = true;
};

HRESULT ReadProgramElements(const std::string& rawprogramXml, const std::string& searchPaths, DiskSize disk,
                            IQStatusReport* sink, std::vector<ProgramWrite>* programs);

// Reads every patch element of the patch file. A "value" of an unknown form on
// any element is WS_E_INVALID_FORMAT; a patch of "DISK" that does not lie
// inside one sector of the disk is E_INVALIDARG.
HRESULT ReadPatchElements(const std::string& patchXml, DiskSize disk, std::vector<PatchWrite>* patches);

// A file name that stays inside the folder it is looked for in: relative,
// with no ".." among its parts.
bool IsPackageRelativeName(const std::string& name);
