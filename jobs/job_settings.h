// The job settings record of a run, built from the package folders and the
// file settings the same way by every front end.
#pragma once
#include <string>
#include <vector>

#include "jobs/dispatch.h"

// The seven file settings and the Firehose storage type, with their
// defaults on this platform.
struct FileSettings {
  std::string nvItemFile = "kelva-factory.qcn";
  std::string fastbootScript = "flash_all.sh";
  std::string flashProgrammer = "MPRG8660.hex";
  std::string bootImage = "8660_msimage.mbn";
  std::string rawprogramXml = "rawprogram0.xml";
  std::string patchXml = "patch0.xml";
  // A name or a glob ("prog_*firehose*"): the first match in folder order.
  std::string firehoseProgrammer = "prog_*firehose*";
  // "eMMC" or "UFS" in any case; "" takes it from the package.
  std::string firehoseMemory;
};

// Each field of the record holds at most this many characters.
inline constexpr size_t kMaxJobSettingChars = 259;
// The folder list is read up to this many characters.
inline constexpr size_t kMaxFolderListChars = 1039;

// Each package folder widens to its "images" subfolder, itself and its
// parent, as far as they exist; each file setting is looked for over those
// candidates; the search paths are the candidates joined by ";". The
// storage type is passed on as it is.
JobSettings BuildJobSettings(const std::string& folderList, const FileSettings& files);

// The first entry of the folder list that is no existing folder; "" when
// every entry is one (an empty list names none). The list is split at each
// ";", so a folder whose name holds one is reported by its first part that
// does not exist. A front end refuses such a list before it starts a job:
// BuildJobSettings would widen the missing entry to its parent and the
// default folders and flash whatever package lies there.
std::string FirstMissingFolder(const std::string& folderList);

// Starts the job of one row, as both front ends do: builds the record, then
// StartFlash (or StartBackup with the search paths). A value the record
// cannot hold is never cut: the row then gets a job that has already
// completed with HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE).
void StartRowJob(bool backup, const std::string& deviceId, const std::string& folderList, const FileSettings& files,
                 IDeviceReport** out);
