// The complete emergency download of one phone: find its emergency port,
// load the flash programmer, stream the boot image and reset, wait for the
// phone to come back as a USB disk at the same location index, and write the
// package onto that disk.
#pragma once
#include <string>

#include "download/boot_image.h"
#include "download/intel_hex.h"
#include "download/package_check.h"
#include "firehose/firehose_package.h"
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

// The files of an emergency download.
struct EmergencyFiles {
  std::string programmer;          // DMSS: the Intel HEX flash programmer
  std::string bootImage;           // DMSS: the mini kernel
  std::string firehoseProgrammer;  // Sahara: the ELF programmer
  std::string firehoseMemory;      // Firehose: "eMMC", "UFS" or "" (from the package)
  std::string rawprogramXml;
  std::string patchXml;
  std::string searchPaths;
};

// Both halves a phone in emergency download mode may need, each checked
// whole: the DMSS one (programmer, boot image, disk package) and the
// Firehose one (the ELF programmer and the same rawprogram and patch files).
struct CheckedEmergencyPackages {
  EmergencyPackage dmss;
  HRESULT dmssResult = E_FAIL;
  FirehosePackage firehose;
  HRESULT firehoseResult = E_FAIL;
};

// Checks both; fails, with the DMSS half's error, only when neither passed.
// A phone whose half failed is refused with its error once it has said
// which protocol it speaks.
HRESULT CheckEmergencyPackages(const EmergencyFiles& files, IQStatusReport* sink, CheckedEmergencyPackages* checked);

// Opens the emergency port and finds out which protocol the phone speaks:
// a DMSS phone (or one that stays silent) gets the programmer and the boot
// image, and *dmss is set: the run then waits for its disk. A Sahara phone,
// or a Firehose programmer already running, is flashed over the port itself
// from the checked package.
HRESULT DownloadOverEmergencyPort(const std::string& portName, const CheckedEmergencyPackages& checked,
                                  IQStatusReport* sink, bool* dmss);

// The run of a parameter set (an object answering IDownloadSettings with
// "filepathxml", "emmcfilepathboot", "filepathpatch", "searchpaths" and
// "flashprogrammer", and "firehoseprogrammer" with the optional
// "firehosememory" for a phone that speaks Sahara)
// for the phone at the location index. The whole package is checked
// (CheckEmergencyPackages) before the phone's port is looked for.
HRESULT RunDownload(IUnknown* settings, DWORD index, IQStatusReport* sink);
