#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_sync.h"
#include "platform/path_name.h"
#include "platform/unique_fd.h"

namespace {

bool WriteAll(int fd, std::string_view text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int ReplaceFileDurably(const std::string& path, std::string_view contents, mode_t mode) {
  std::string tempPath = path + ".tmp";
  {
    UniqueFd temp(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (temp.get() < 0) return errno;
    // The mode as asked for, whatever the umask.
    int err = 0;
    if (!WriteAll(temp.get(), contents) || ::fchmod(temp.get(), mode) != 0) err = errno;
    if (err == 0) err = SyncFile(temp.get());
    if (err != 0) {
      ::unlink(tempPath.c_str());
      return err;
    }
  }
  if (::rename(tempPath.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tempPath.c_str());
    return err;
  }
  // Make the rename itself durable.
  UniqueFd dir(::open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) SyncFile(dir.get());
  return 0;
}
