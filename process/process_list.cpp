#include "process/process_list.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>

#include "platform/path_name.h"
#include "process/proc_file.h"

namespace {

constexpr size_t kMaxImagePath = 255;

std::string ReadLink(const std::string& path) {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  std::string target(buffer, static_cast<size_t>(n));
  const std::string deleted = " (deleted)";
  if (target.size() > deleted.size() && target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
    target.resize(target.size() - deleted.size());
  return target;
}

// argv[0] of the process, when it has one.
std::string FirstArgument(pid_t pid) {
  std::string cmdline;
  if (!ReadProcFile("/proc/" + std::to_string(pid) + "/cmdline", &cmdline)) return std::string();
  return cmdline.substr(0, cmdline.find('\0'));
}

}  // namespace

bool ReadProcessRecord(pid_t pid, ProcessRecord* record) {
  ProcessRecord r;
  r.pid = pid;
  ProcessStat stat;
  if (!ReadProcessStat(pid, &stat)) return false;
  r.parent = stat.parent;
  std::string dir = "/proc/" + std::to_string(pid);
  r.imagePath = ReadLink(dir + "/exe").substr(0, kMaxImagePath);
  // The executable's own name when its link can be read, else argv[0]'s, else
  // the kernel's (at most 15 characters).
  std::string arg0 = FirstArgument(pid);
  r.exeName = !r.imagePath.empty() ? FileName(r.imagePath) : !arg0.empty() ? FileName(arg0) : stat.name;
  struct stat st{};
  if (::stat(dir.c_str(), &st) == 0) {
    r.owner = st.st_uid;
    r.ownerKnown = true;
  }
  *record = std::move(r);
  return true;
}

bool CProcessList::Snapshot() {
  processes_.clear();
  DIR* proc = ::opendir("/proc");
  if (!proc) return false;
  while (dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    if (!std::isdigit(static_cast<unsigned char>(name[0]))) continue;
    char* end = nullptr;
    long pid = std::strtol(name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    ProcessRecord record;
    if (ReadProcessRecord(static_cast<pid_t>(pid), &record)) processes_.push_back(std::move(record));
  }
  ::closedir(proc);
  return true;
}
