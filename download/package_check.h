// The package check: the rawprogram and patch files of a flash package read
// whole, every image they name found, opened as a regular file and closed
// again, every number read, before any device is touched. What it hands out
// is all that a writer needs later; where the images go on the disk is
// checked against the disk's length once the disk is known
// (PlacePackageOnDisk). The check needs no port, disk or phone.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "download/disk_numbers.h"

// One program element that names a file.
struct PackageImage {
  std::string path;             // as resolved over the search paths
  std::uint64_t fileBytes = 0;  // the file's length when it was checked
  SectorNumber startSector;
  std::uint64_t sectorLimit = 0;       // 0: the whole file
  std::uint64_t fileSectorOffset = 0;  // first sector of the file written
  // The file sectors written: from the offset to the file's end, at most the limit.
  std::uint64_t sectorsWritten() const;
};

// One patch element of the file "DISK". Its bytes lie inside one sector.
struct PackagePatch {
  SectorNumber startSector;
  std::uint64_t byteOffset = 0;
  std::uint64_t sizeInBytes = 0;
  SectorNumber value;  // 0 when the element has none
};

struct CheckedPackage {
  std::string failedImage;  // after a failed check: the image at fault, if one was
  std::string rawprogramXml;
  std::string patchXml;
  std::vector<PackageImage> images;   // in document order
  std::vector<PackagePatch> patches;  // in document order
};

// Reads and checks both files. Fails with the error of a file that cannot be
// read or parsed; WS_E_INVALID_FORMAT for a number that is not a plain
// decimal (see ParseCount, ParseSectorNumber) or a patch value of an unknown
// form, on any patch element; E_INVALIDARG for an image name that is
// absolute or climbs out of its folder (".."), for an image that is not a
// regular file, and for a patch of "DISK" that reaches past its sector;
// HRESULT_FROM_WIN32(ERROR_FILE_INVALID) for an empty image. Absent numbers
// are 0; a "program" element without a file name and a patch of any file but
// "DISK" are skipped. Of repeated attributes the last one counts.
HRESULT CheckPackage(const std::string& rawprogramXml, const std::string& patchXml, const std::string& searchPaths,
                     CheckedPackage* package);

// The two halves of CheckPackage.
// An image that cannot be used is named in *failedImage when given, so a
// failure can name the image rather than the file that named it.
HRESULT ReadProgramElements(const std::string& rawprogramXml, const std::string& searchPaths,
                            std::vector<PackageImage>* images, std::string* failedImage = nullptr);
HRESULT ReadPatchElements(const std::string& patchXml, std::vector<PackagePatch>* patches);

// A file name that stays inside the folder it is looked for in: relative,
// with no ".." among its parts.
bool IsPackageRelativeName(const std::string& name);
