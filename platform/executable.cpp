#include "platform/executable.h"

#include <unistd.h>

#include <climits>

#include "platform/path_name.h"

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer - 1) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string ExecutableFolder() {
  std::string path = ExecutablePath();
  return path.empty() ? std::string() : ParentFolder(path);
}
