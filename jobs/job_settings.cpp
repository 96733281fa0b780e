#include "jobs/job_settings.h"

#include <sys/stat.h>

#include "process/path_list.h"
#include "process/search_file.h"

namespace {

constexpr size_t kMaxFolderListChars = 1039;

bool IsFolder(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder's parent by the path-append rule of "..".
std::string Parent(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : folder.substr(0, slash);
}

}  // namespace

JobSettings BuildJobSettings(const std::string& folderList, const FileSettings& files) {
  std::vector<std::string> candidates;
  for (const std::string& folder : SplitPathList(folderList.substr(0, kMaxFolderListChars))) {
    for (const std::string& candidate : {AppendPath(folder, "images"), folder, Parent(folder)}) {
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
  s.searchPaths = search;
  return s;
}
