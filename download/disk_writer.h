// Writing a flash package onto a phone's raw USB disk: the disk's volumes are
// taken from the system, each file of the rawprogram XML is written at its
// sector, then the patches of the patch XML are applied. Sectors are 512
// bytes. The disk is a block device or, on the virtual bench, a regular file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "jobs/status_sink.h"
#include "platform/unique_fd.h"

HRESULT DownloadToDiskDrive(const std::string& disk, const std::string& rawprogramXml, const std::string& patchXml,
                            const std::string& searchPaths, IQStatusReport* sink);

// Unmounts every mounted volume of the disk (a busy one fails) and holds each
// open exclusively in *volumes until they are closed.
HRESULT DismountDiskVolume(const std::string& disk, std::vector<UniqueFd>* volumes, IQStatusReport* sink);

HRESULT WriteFilesToDiskDrive(const std::string& rawprogramXml, int disk, const std::string& searchPaths,
                              IQStatusReport* sink);
HRESULT WriteFileToDiskDrive(const std::string& path, int disk, std::uint64_t startSector, std::uint64_t sectorLimit,
                             std::uint64_t fileSectorOffset, IQStatusReport* sink);
HRESULT ApplyPatchesToDiskDrive(const std::string& patchXml, int disk, IQStatusReport* sink);
HRESULT ApplyPatchToDiskDrive(int disk, std::uint64_t startSector, std::uint64_t byteOffset, std::uint64_t value,
                              std::uint64_t sizeInBytes, IQStatusReport* sink);

// The disk's length in bytes: the block device's size or the file's.
HRESULT GetDiskLength(int disk, std::uint64_t* bytes);
