#include "process/search_file.h"

#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

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

std::string GetNativeArchitecture() {
  for (const char* name : {"PROCESSOR_ARCHITEW6432", "PROCESSOR_ARCHITECTURE"}) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  struct utsname u{};
  if (::uname(&u) != 0) return std::string();
  return u.machine;
}
