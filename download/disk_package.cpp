#include "download/disk_package.h"

#include <limits>

#include <sys/types.h>

#include "shell/log.h"

namespace {

constexpr std::uint64_t kSector = 512;
// The last sector whose bytes a file offset can still address.
constexpr std::uint64_t kMaxSectors = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) / kSector;

bool InsideDisk(std::uint64_t start, std::uint64_t sectors, DiskSize disk) {
  const std::uint64_t diskSectors = disk.bounded ? disk.bytes / kSector : kMaxSectors;
  return sectors <= diskSectors && start <= diskSectors - sectors;
}

}  // namespace

HRESULT PlacePackageOnDisk(const CheckedPackage& package, DiskSize disk, std::vector<ProgramWrite>* programs,
                           std::vector<PatchWrite>* patches) {
  constexpr const char* kName = "PlacePackageOnDisk";
  for (const PackageImage& image : package.images) {
    ProgramWrite write{image.path, image.fileBytes, image.startSector.Resolve(disk.bytes), image.fileSectorOffset,
                       image.sectorsWritten()};
    if (!InsideDisk(write.startSector, write.sectors, disk)) {
      TraceResult(E_INVALIDARG, kName, __LINE__);
      return E_INVALIDARG;
    }
    programs->push_back(std::move(write));
  }
  for (const PackagePatch& patch : package.patches) {
    PatchWrite write{patch.startSector.Resolve(disk.bytes), patch.byteOffset, patch.value.Resolve(disk.bytes),
                     patch.sizeInBytes};
    if (!InsideDisk(write.startSector, 1, disk)) {
      TraceResult(E_INVALIDARG, kName, __LINE__);
      return E_INVALIDARG;
    }
    patches->push_back(write);
  }
  return S_OK;
}
