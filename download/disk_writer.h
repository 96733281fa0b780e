// Writing a flash package onto a phone's raw USB disk: the disk's volumes are
// taken from the system, the whole package is read and checked, each file of
// the rawprogram XML is written at its sector, then the patches of the patch
// XML are applied. Sectors are 512
// bytes. The disk is a block device or, on the virtual bench, a regular file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "download/disk_package.h"
#include "download/package_check.h"
#include "jobs/status_sink.h"
#include "platform/unique_fd.h"

// Checks the package (CheckPackage), then writes it.
HRESULT DownloadToDiskDrive(const std::string& disk, const std::string& rawprogramXml, const std::string& patchXml,
                            const std::string& searchPaths, IQStatusReport* sink);
// Writes a package checked before; where it goes is checked against the
// disk's length before the first write.
HRESULT DownloadToDiskDrive(const std::string& disk, const CheckedPackage& package, IQStatusReport* sink);

// Unmounts every mounted volume of the disk (a busy one fails) and holds each
// open exclusively in *volumes until they are closed.
HRESULT DismountDiskVolume(const std::string& disk, std::vector<UniqueFd>* volumes, IQStatusReport* sink);

// Writes the placed program elements in order, each in blocks of up to
// 1 MiB ("WriteFile position"); the bytes past a file's end are zeros. Each
// image is opened only while it is written, and read as it was checked: one
// that is no longer a regular file is E_INVALIDARG, one that has shrunk
// since is HRESULT_FROM_WIN32(ERROR_HANDLE_EOF).
HRESULT WriteFilesToDiskDrive(const std::vector<ProgramWrite>& programs, int disk, IQStatusReport* sink);
HRESULT WriteFileToDiskDrive(const ProgramWrite& program, int disk, IQStatusReport* sink);
// Applies the checked patches of the patch file in order ("Open patch file").
HRESULT ApplyPatchesToDiskDrive(const std::string& patchXml, const std::vector<PatchWrite>& patches, int disk,
                                IQStatusReport* sink);
HRESULT ApplyPatchToDiskDrive(int disk, std::uint64_t startSector, std::uint64_t byteOffset, std::uint64_t value,
                              std::uint64_t sizeInBytes, IQStatusReport* sink);

// The disk's length in bytes: the block device's size or the file's. Any
// other kind of device has no length to check against: 0, not bounded.
HRESULT GetDiskLength(int disk, DiskSize* size);
