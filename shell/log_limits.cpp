#include "shell/log_limits.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/format.h"
#include "platform/unique_fd.h"

namespace {

struct LogEntry {
  std::string path;
  std::time_t written;
};

bool IsLogName(const std::string& name) {
  return name.size() > 11 && name.rfind("Vantor-", 0) == 0 && name.compare(name.size() - 4, 4, ".log") == 0;
}

// The regular log files of the folder with their last-write times.
std::vector<LogEntry> ListLogs(const std::string& folder) {
  std::vector<LogEntry> logs;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return logs;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (!IsLogName(name)) continue;
    std::string path = folder + "/" + name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) logs.push_back({path, st.st_mtime});
  }
  ::closedir(dir);
  return logs;
}

// Removes a log unless a running program still writes it.
void RemoveUnlessInUse(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return;
  ::unlink(path.c_str());
}

}  // namespace

void PruneLogFolder(const std::string& folder, const std::string& keep, std::time_t now) {
  std::vector<LogEntry> logs = ListLogs(folder);
  std::sort(logs.begin(), logs.end(), [](const LogEntry& a, const LogEntry& b) { return a.written > b.written; });
  const std::time_t oldest = now - static_cast<std::time_t>(kLogKeepDays) * 24 * 60 * 60;
  size_t kept = 0;
  for (const LogEntry& log : logs) {
    if (log.path == keep) continue;
    bool wanted = log.written >= oldest && kept + 1 < kLogKeepFiles;  // the run's own log is one of them
    if (wanted) ++kept;
    else RemoveUnlessInUse(log.path);
  }
}

void LogBudget::Restart(std::uint64_t bound) {
  bound_ = bound;
  written_ = 0;
  leftOut_ = 0;
}

bool LogBudget::Admit(size_t bytes, LogLineKind kind, std::string* notice) {
  std::uint64_t before = written_.fetch_add(bytes);
  if (kind == LogLineKind::Trace || before + bytes <= bound_) return true;
  written_.fetch_sub(bytes);
  if (leftOut_.fetch_add(1) == 0)
    *notice = Format("The log has reached its bound of %llu bytes: lines other than trace lines are counted from here "
                     "on, not written",
                     static_cast<unsigned long long>(bound_.load()));
  return false;
}

std::string LogBudget::LeftOutLine() const {
  std::uint64_t n = leftOut_.load();
  if (n == 0) return std::string();
  return Format("%llu lines were left out of this log past its bound of %llu bytes", static_cast<unsigned long long>(n),
                static_cast<unsigned long long>(bound_.load()));
}
