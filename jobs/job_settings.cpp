#include "jobs/job_settings.h"

#include <sys/stat.h>

#include "jobs/job_record.h"
#include "jobs/refused_job.h"
#include "platform/path_name.h"
#include "platform/text.h"
#include "process/path_list.h"
#include "process/search_file.h"
#include "shell/log.h"

namespace {

bool IsFolder(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Fits(const std::string& value) { return CharCount(value) <= kMaxJobSettingChars; }

bool RecordFits(bool backup, const JobSettings& s) {
  if (backup) return Fits(s.searchPaths);
  for (const std::string* field : {&s.nvItemFile, &s.fastbootScript, &s.flashProgrammer, &s.bootImage,
                                   &s.rawprogramXml, &s.patchXml, &s.searchPaths, &s.firehoseProgrammer,
                                   &s.firehoseMemory})
    if (!Fits(*field)) return false;
  return true;
}

}  // namespace

JobSettings BuildJobSettings(const std::string& folderList, const FileSettings& files) {
  std::vector<std::string> candidates;
  for (const std::string& folder : SplitPathList(TruncateChars(folderList, kMaxFolderListChars))) {
    for (const std::string& candidate : {AppendPath(folder, "images"), folder, ParentOfFolder(folder)}) {
      if (IsFolder(candidate)) candidates.push_back(candidate);
    }
  }
  std::string search = JoinPathList(candidates);
  JobSettings s;
  s.nvItemFile = SearchFile(search, files.nvItemFile);
  s.fastbootScript = SearchFile(search, files.fastbootScript);
  s.flashProgrammer = SearchFile(search, files.flashProgrammer);
  s.bootImage = SearchFile(search, files.bootImage);
  s.rawprogramXml = SearchFile(search, files.rawprogramXml);
  s.patchXml = SearchFile(search, files.patchXml);
  s.firehoseProgrammer = SearchFilePattern(search, files.firehoseProgrammer);
  s.firehoseMemory = files.firehoseMemory;
  s.searchPaths = search;
  return s;
}

std::string FirstMissingFolder(const std::string& folderList) {
  for (const std::string& folder : SplitPathList(TruncateChars(folderList, kMaxFolderListChars)))
    if (!IsFolder(folder)) return folder;
  return "";
}

void StartRowJob(bool backup, const std::string& deviceId, const std::string& folderList, const FileSettings& files,
                 IDeviceReport** out) {
  JobSettings settings = BuildJobSettings(folderList, files);
  if (!RecordFits(backup, settings)) {
    HRESULT hr = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    TraceResult(hr, "StartRowJob", __LINE__);
    // Without memory for even that, the dispatcher's shared placeholder
    // (read as out of memory) stands in; the values are still never cut.
    if (FAILED(CRefusedJob::Create(hr, out))) StartFlash(&deviceId, nullptr, out);
  } else if (backup) {
    StartBackup(&deviceId, &settings.searchPaths, out);
  } else {
    StartFlash(&deviceId, &settings, out);
  }
  if (out) NoteJobStarted(*out, deviceId, backup, folderList, settings);
}
