// A checked package placed on one disk: every sector number resolved against
// the disk's length and every write checked to lie inside the disk, before
// the first byte is written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "download/package_check.h"

// The disk's length. A disk with no end to check against (a character
// device) has bounded false: its length reads as 0 for the values, and no
// element is outside it.
struct DiskSize {
  std::uint64_t bytes = 0;
  bool bounded = true;
};

// One image write: the file's checked length and where its sectors go.
struct ProgramWrite {
  std::string path;
  std::uint64_t fileBytes = 0;
  std::uint64_t startSector = 0;
  std::uint64_t fileSectorOffset = 0;  // first sector of the file written
  std::uint64_t sectors = 0;           // sectors written
};

struct PatchWrite {
  std::uint64_t startSector = 0;
  std::uint64_t byteOffset = 0;
  std::uint64_t value = 0;
  std::uint64_t sizeInBytes = 0;
};

// E_INVALIDARG for an image or a patch that does not lie inside the disk.
HRESULT PlacePackageOnDisk(const CheckedPackage& package, DiskSize disk, std::vector<ProgramWrite>* programs,
                           std::vector<PatchWrite>* patches);
