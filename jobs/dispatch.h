// Method selection: the phone's mode decides which job flashes it. Both
// functions always hand back a job; when none can be started it is a shared
// placeholder that reads as failed (E_OUTOFMEMORY), and the real cause is in
// the log under "StartFlash" or "StartBackup". A backup refused for the
// phone's mode says so instead.
#pragma once
#include <string>

#include "jobs/device_report.h"

// The parameters of a flashing run, as the windows and the command line fill
// them; each at most 259 characters.
struct JobSettings {
  std::string nvItemFile;
  std::string fastbootScript;
  std::string flashProgrammer;
  std::string bootImage;
  std::string rawprogramXml;
  std::string patchXml;
  std::string searchPaths;
  std::string firehoseProgrammer;  // the ELF programmer for a phone whose boot ROM speaks Sahara
  std::string firehoseMemory;      // "eMMC", "UFS" (any case) or "": from the package
};

void StartFlash(const std::string* deviceId, const JobSettings* settings, IDeviceReport** out);
// A phone that is not a running phone in diagnostic mode gets a job that has
// already failed with HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) and says why.
void StartBackup(const std::string* deviceId, const std::string* searchPaths, IDeviceReport** out);

// Why a backup was refused.
inline constexpr char kNotARunningPhone[] = "the phone is not a running phone in diagnostic mode";
