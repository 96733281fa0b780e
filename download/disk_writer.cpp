#include "download/disk_writer.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "download/disk_package.h"
#include "download/transport.h"
#include "platform/file_sync.h"
#include "platform/regular_file.h"
#include "shell/log.h"

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kSectorsPerBlock = 2048;  // 1 MiB
constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

HRESULT Fail(HRESULT hr, const char* operation, int line) {
  TraceResult(hr, operation, line);
  return hr;
}

bool WriteAt(int fd, const unsigned char* data, size_t size, std::uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

HRESULT GetDiskLength(int disk, DiskSize* size) {
  struct stat st{};
  if (::fstat(disk, &st) != 0) return HresultFromLastErrno();
  if (S_ISBLK(st.st_mode)) {
    std::uint64_t bytes = 0;
    if (::ioctl(disk, BLKGETSIZE64, &bytes) != 0) return HresultFromLastErrno();
    *size = {bytes, true};
    return S_OK;
  }
  *size = {static_cast<std::uint64_t>(st.st_size), S_ISREG(st.st_mode)};
  return S_OK;
}

HRESULT WriteFileToDiskDrive(const ProgramWrite& program, int disk, IQStatusReport* sink) {
  constexpr const char* kName = "WriteFileToDiskDrive";
  std::uint64_t start = program.startSector;
  NotifyStatus(sink, "Writing file \"%s\" to partition at %#016llx", program.path.c_str(),
               static_cast<unsigned long long>(start * kSector));
  UniqueFd file;
  std::uint64_t fileBytes = 0;
  HRESULT hr = OpenRegularFile(program.path, &file, &fileBytes);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  if (fileBytes < program.fileBytes) return Fail(HRESULT_FROM_WIN32(ERROR_HANDLE_EOF), kName, __LINE__);
  std::uint64_t offset = program.fileSectorOffset;
  const std::uint64_t end = offset + program.sectors;
  // The file is read in blocks, so an image of any size needs 1 MiB here.
  std::vector<unsigned char> block(static_cast<size_t>(std::min(program.sectors, kSectorsPerBlock) * kSector));
  while (offset < end) {
    std::uint64_t count = std::min(end - offset, kSectorsPerBlock);
    size_t bytes = static_cast<size_t>(count * kSector);
    NotifyStatus(sink, "WriteFile position %#016llx, size %lu", static_cast<unsigned long long>(start * kSector),
                 static_cast<unsigned long>(bytes));
    // Up to the file's checked end; past it, zeros.
    size_t fromFile = static_cast<size_t>(std::min<std::uint64_t>(bytes, program.fileBytes - offset * kSector));
    hr = ReadFileAt(file.get(), block.data(), fromFile, offset * kSector);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    std::memset(block.data() + fromFile, 0, bytes - fromFile);
    if (!WriteAt(disk, block.data(), bytes, start * kSector)) return Fail(HresultFromLastErrno(), kName, __LINE__);
    CHexDump dump("");
    dump.Append(block.data(), bytes);
    offset += count;
    start += count;
  }
  return S_OK;
}

HRESULT WriteFilesToDiskDrive(const std::vector<ProgramWrite>& programs, int disk, IQStatusReport* sink) {
  for (const ProgramWrite& program : programs) {
    HRESULT hr = WriteFileToDiskDrive(program, disk, sink);
    if (!TraceResult(hr, "WriteFilesToDiskDrive", __LINE__)) return hr;
  }
  return S_OK;
}

HRESULT ApplyPatchToDiskDrive(int disk, std::uint64_t start, std::uint64_t byteOffset, std::uint64_t value,
                              std::uint64_t size, IQStatusReport* sink) {
  constexpr const char* kName = "ApplyPatchToDiskDrive";
  NotifyStatus(sink, "ApplyPatch position %#016llx, value %#016llx, size %llu",
               static_cast<unsigned long long>(start * kSector + byteOffset), static_cast<unsigned long long>(value),
               static_cast<unsigned long long>(size));
  // The patch must lie inside the one sector that is read and written.
  if (byteOffset > kSector || size > kSector - byteOffset || start > kMaxOffset / kSector - 1)
    return Fail(E_INVALIDARG, kName, __LINE__);
  unsigned char sector[kSector];
  HRESULT hr = ReadFileAt(disk, sector, sizeof sector, start * kSector);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  for (std::uint64_t i = 0; i < size; ++i) {
    sector[byteOffset + i] = static_cast<unsigned char>(value);
    value >>= 8;
  }
  if (!WriteAt(disk, sector, sizeof sector, start * kSector)) return Fail(HresultFromLastErrno(), kName, __LINE__);
  return S_OK;
}

HRESULT ApplyPatchesToDiskDrive(const std::string& patchXml, const std::vector<PatchWrite>& patches, int disk,
                                IQStatusReport* sink) {
  NotifyStatus(sink, "Open patch file \"%s\"", patchXml.c_str());
  for (const PatchWrite& p : patches) {
    HRESULT hr = ApplyPatchToDiskDrive(disk, p.startSector, p.byteOffset, p.value, p.sizeInBytes, sink);
    if (!TraceResult(hr, "ApplyPatchesToDiskDrive", __LINE__)) return hr;
  }
  return S_OK;
}

HRESULT DownloadToDiskDrive(const std::string& diskName, const CheckedPackage& package, IQStatusReport* sink) {
  constexpr const char* kName = "DownloadToDiskDrive";
  std::vector<UniqueFd> volumes;  // held until the run ends, on every path
  HRESULT hr = DismountDiskVolume(diskName, &volumes, sink);
  if (!TraceResult(hr, kName, __LINE__)) return hr;

  NotifyStatus(sink, "Open disk \"%s\"", diskName.c_str());
  // A disk with no volume to hold (a blank one, before its partition table
  // is written) is held itself, so that nothing mounts or claims it while
  // it is written. Held volumes already keep every other exclusive opener,
  // this one included, from the whole disk. A regular file ignores O_EXCL.
  int exclusive = volumes.empty() ? O_EXCL : 0;
  UniqueFd disk(::open(diskName.c_str(), O_RDWR | O_CLOEXEC | exclusive));
  if (!disk.valid()) return Fail(HresultFromLastErrno(), kName, __LINE__);
  DiskSize diskSize;
  hr = GetDiskLength(disk.get(), &diskSize);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  // Every write is checked against the disk before the first one.
  std::vector<ProgramWrite> programs;
  std::vector<PatchWrite> patches;
  hr = PlacePackageOnDisk(package, diskSize, &programs, &patches);
  if (!TraceResult(hr, kName, __LINE__)) return hr;

  NotifyStatus(sink, "Open program file \"%s\"", package.rawprogramXml.c_str());
  hr = WriteFilesToDiskDrive(programs, disk.get(), sink);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  // Nothing reported written may still be only in the page cache.
  if (int err = SyncFile(disk.get())) return Fail(HresultFromErrno(err), kName, __LINE__);
  hr = ApplyPatchesToDiskDrive(package.patchXml, patches, disk.get(), sink);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  if (int err = SyncFile(disk.get())) return Fail(HresultFromErrno(err), kName, __LINE__);
  return S_OK;
}

HRESULT DownloadToDiskDrive(const std::string& diskName, const std::string& rawprogramXml, const std::string& patchXml,
                            const std::string& searchPaths, IQStatusReport* sink) {
  // The whole package is checked before the disk's volumes are touched.
  CheckedPackage package;
  HRESULT hr = CheckPackage(rawprogramXml, patchXml, searchPaths, &package);
  if (FAILED(hr) && !package.failedImage.empty()) NotifyStatus(sink, "Open image file \"%s\"", package.failedImage.c_str());
  if (!TraceResult(hr, "DownloadToDiskDrive", __LINE__)) return hr;
  return DownloadToDiskDrive(diskName, package, sink);
}
