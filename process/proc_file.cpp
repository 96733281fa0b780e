#include "process/proc_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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
