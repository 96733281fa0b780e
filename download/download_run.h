// The complete emergency download of one phone: find its emergency port,
// load the flash programmer, stream the boot image and reset, wait for the
// phone to come back as a USB disk at the same location index, and write the
// package onto that disk.
#pragma once
#include <string>

#include "download/boot_image.h"
#include "download/intel_hex.h"
#include "download/package_check.h"
#include "jobs/status_sink.h"
#include "platform/com/unknown.h"

// Waits for the phone at the location index to be attached in the mode kind:
// attempts 0 to 60, one second apart ("Wait device connect %d"), each asking
// which device is at the index, its type, and test-opening it; a device found
// after the first attempt is given 5000 ms more to settle. The waits go
// through the timing seam and end at a stop request of the thread's work.
HRESULT GetDeviceName(DWORD index, DWORD kind, IQStatusReport* sink, std::string* out);

// What an emergency download sends and writes, read and checked whole
// before the phone hears a byte: the flash programmer parsed, the boot image
// open, the disk package checked (CheckPackage).
struct EmergencyPackage {
  std::string programmerPath;
  ProgrammerImage programmer;
  std::string bootPath;
  BootImage boot;
  CheckedPackage disk;
};

// Fails with the first fault of the programmer (LoadIntelHex), the boot
// image (BootImage::Open) or the disk package (CheckPackage).
HRESULT CheckEmergencyPackage(const std::string& programmer, const std::string& bootImage,
                              const std::string& rawprogramXml, const std::string& patchXml,
                              const std::string& searchPaths, EmergencyPackage* package);

// Opens the port, loads the flash programmer and streams the boot image.
HRESULT DownloadFlashProgrammerAndMiniKernel(const std::string& bootImage, const std::string& port,
                                             const std::string& programmer, IQStatusReport* sink);
// The same with both already read and checked.
HRESULT DownloadFlashProgrammerAndMiniKernel(const EmergencyPackage& package, const std::string& port,
                                             IQStatusReport* sink);

// The run of a parameter set (an object answering IDownloadSettings with
// "filepathxml", "emmcfilepathboot", "filepathpatch", "searchpaths" and
// "flashprogrammer") for the phone at the location index. The whole package
// is checked (CheckEmergencyPackage) before the phone's port is looked for.
HRESULT RunDownload(IUnknown* settings, DWORD index, IQStatusReport* sink);
