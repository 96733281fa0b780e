#include "process/proc_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "platform/unique_fd.h"

// Plain reads: a stream's buffer would turn a failed read into an
// exception (ESRCH once the process has ended).
bool ReadProcFile(const std::string& path, std::string* text) {
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return false;
  text->clear();
  char buffer[4096];
  while (text->size() < kMaxProcFileBytes) {
    ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) return true;
    if (n > 0) text->append(buffer, static_cast<size_t>(n));
    else if (errno != EINTR) return false;
  }
  return true;
}

bool ReadProcessStat(pid_t pid, ProcessStat* stat) {
  std::string text;
  if (!ReadProcFile("/proc/" + std::to_string(pid) + "/stat", &text)) return false;
  size_t open = text.find('('), close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  stat->name = text.substr(open + 1, close - open - 1);
  std::istringstream rest(text.substr(close + 1));
  long long parent = 0, field = 0;
  rest >> stat->state >> parent;                   // fields 3 and 4
  for (int n = 5; n <= 22 && rest >> field; ++n) {  // the start time is field 22
  }
  stat->parent = static_cast<pid_t>(parent);
  stat->startTime = static_cast<unsigned long long>(field);
  return static_cast<bool>(rest);
}
