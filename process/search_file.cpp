#include "process/search_file.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/executable.h"
#include "process/path_list.h"

namespace {

constexpr size_t kMaxFolderChars = 4096;

void AddIfUsable(std::vector<std::string>& folders, std::string folder) {
  if (!folder.empty() && folder.size() < kMaxFolderChars) folders.push_back(std::move(folder));
}

// PATH is ":"-separated on this platform; empty entries are dropped.
std::vector<std::string> PathEntries() {
  std::vector<std::string> entries;
  const char* path = std::getenv("PATH");
  if (!path) return entries;
  std::string_view rest(path);
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string_view entry = rest.substr(0, colon);
    if (!entry.empty()) entries.emplace_back(entry);
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return entries;
}

bool IsFolder(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<std::string> DefaultSearchFolders() {
  std::vector<std::string> folders;
  AddIfUsable(folders, ExecutableFolder());
  char cwd[kMaxFolderChars];
  if (::getcwd(cwd, sizeof cwd)) AddIfUsable(folders, cwd);
  for (std::string& entry : PathEntries()) AddIfUsable(folders, std::move(entry));
  folders.emplace_back("/usr/local/share/vantor");
  folders.emplace_back("/usr/share/vantor");
  return folders;
}

std::string AppendPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (out.empty()) return std::string(name);
  if (out.back() != '/') out += '/';
  out.append(name);
  return out;
}

std::string SearchFile(const std::vector<std::string>& folders, std::string_view name) {
  return SearchFile(JoinPathList(folders), name);
}

std::string SearchFile(std::string_view folderList, std::string_view name) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  std::vector<std::string> folders = SplitPathList(folderList);
  if (folders.empty()) folders = DefaultSearchFolders();
  std::string result;
  for (const std::string& folder : folders) {
    std::string candidate = AppendPath(folder, name);
    if (Exists(candidate)) return candidate;
    if (result.empty()) result = std::move(candidate);
  }
  return result;
}

std::string SearchFilePattern(std::string_view folderList, std::string_view pattern) {
  std::string text(pattern);
  if (text.find_first_of("*?[") == std::string::npos) return SearchFile(folderList, pattern);
  std::vector<std::string> folders;
  if (text.front() == '/') {
    size_t slash = text.rfind('/');
    folders.push_back(slash == 0 ? "/" : text.substr(0, slash));
    text.erase(0, slash + 1);
  } else {
    folders = SplitPathList(folderList);
    if (folders.empty()) folders = DefaultSearchFolders();
  }
  for (const std::string& folder : folders) {
    std::vector<std::string> matches;
    if (DIR* dir = ::opendir(folder.c_str())) {
      while (dirent* entry = ::readdir(dir))
        if (::fnmatch(text.c_str(), entry->d_name, FNM_PERIOD) == 0) matches.push_back(entry->d_name);
      ::closedir(dir);
    }
    std::sort(matches.begin(), matches.end());
    for (const std::string& name : matches)
      if (std::string path = AppendPath(folder, name); !IsFolder(path)) return path;
  }
  return SearchFile(folderList, pattern);
}

std::string GetNativeArchitecture() {
  for (const char* name : {"PROCESSOR_ARCHITEW6432", "PROCESSOR_ARCHITECTURE"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  struct utsname u{};
  if (::uname(&u) != 0) return std::string();
  return u.machine;
}
