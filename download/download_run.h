// The complete emergency download of one phone: find its emergency port,
// load the flash programmer, stream the boot image and reset, wait for the
// phone to come back as a USB disk at the same location index, and write the
// package onto that disk.
#pragma once
#include <string>

#include "jobs/status_sink.h"
#include "platform/com/unknown.h"

// Waits for the phone at the location index to be attached in the mode kind:
// attempts 0 to 60, one second apart ("Wait device connect %d"), each asking
// which device is at the index, its type, and test-opening it; a device found
// after the first attempt is given 5000 ms more to settle. The waits go
// through the timing seam and end at a stop request of the thread's work.
HRESULT GetDeviceName(DWORD index, DWORD kind, IQStatusReport* sink, std::string* out);

// Opens the port, loads the flash programmer and streams the boot image.
HRESULT DownloadFlashProgrammerAndMiniKernel(const std::string& bootImage, const std::string& port,
                                             const std::string& programmer, IQStatusReport* sink);

// The files of an emergency download.
struct EmergencyFiles {
  std::string programmer;          // DMSS: the Intel HEX flash programmer
  std::string bootImage;           // DMSS: the mini kernel
  std::string firehoseProgrammer;  // Sahara: the ELF programmer
  std::string rawprogramXml;
  std::string patchXml;
  std::string searchPaths;
};

// Opens the emergency port and finds out which protocol the phone speaks:
// a DMSS phone (or one that stays silent) gets the programmer and the boot
// image, and *dmss is set: the run then waits for its disk. A Sahara phone,
// or a Firehose programmer already running, is flashed over the port itself
// from the checked package.
HRESULT DownloadOverEmergencyPort(const std::string& portName, const EmergencyFiles& files, IQStatusReport* sink,
                                  bool* dmss);

// The run of a parameter set (an object answering IDownloadSettings with
// "filepathxml", "emmcfilepathboot", "filepathpatch", "searchpaths" and
// "flashprogrammer", and "firehoseprogrammer" for a phone that speaks Sahara) for the phone at the location index.
HRESULT RunDownload(IUnknown* settings, DWORD index, IQStatusReport* sink);
