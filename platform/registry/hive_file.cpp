#include "platform/registry/hive_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/durable_file.h"
#include "platform/hresult.h"
#include "platform/path_name.h"
#include "platform/registry/regedit_format.h"
#include "platform/unique_fd.h"

namespace {

// Hive files are settings, a few kilobytes; anything far larger is not ours.
constexpr off_t kMaxHiveBytes = 64 * 1024 * 1024;

LSTATUS LastError() { return static_cast<LSTATUS>(Win32ErrorFromErrno(errno)); }

int MakeDirectories(const std::string& dir) {
  struct stat st{};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (dir != "/" && dir != ".") {
    int rc = MakeDirectories(ParentFolder(dir));
    if (rc != 0) return rc;
  }
  if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return errno;
  return 0;
}

// Serialises the writers of this process before they contend for the flock
// with other processes.
std::mutex& ProcessWriteMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

HiveFile::HiveFile(std::string path, std::string rootName, mode_t mode)
    : path_(std::move(path)), rootName_(std::move(rootName)), mode_(mode) {}

LSTATUS HiveFile::Load(Hive* hive) const {
  *hive = Hive();
  UniqueFd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT ? static_cast<LSTATUS>(ERROR_SUCCESS) : LastError();
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return LastError();
  if (st.st_size > kMaxHiveBytes) return ERROR_BAD_FORMAT;
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastError();
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > static_cast<size_t>(kMaxHiveBytes)) return ERROR_BAD_FORMAT;
  }
  if (text.empty()) return ERROR_SUCCESS;
  return ParseHive(text, rootName_, hive) ? ERROR_SUCCESS : ERROR_BAD_FORMAT;
}

LSTATUS HiveFile::CheckWritable() const {
  std::string folder = ParentFolder(path_);
  if (int rc = MakeDirectories(folder); rc != 0) return static_cast<LSTATUS>(Win32ErrorFromErrno(rc));
  UniqueFd lock(::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode_));
  if (lock.get() < 0) return LastError();
  // Saving writes a temporary beside the hive and renames it over the hive.
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return LastError();
  return ERROR_SUCCESS;
}

LSTATUS HiveFile::Modify(const std::function<LSTATUS(Hive&, bool*)>& change) const {
  std::lock_guard processLock(ProcessWriteMutex());
  if (int rc = MakeDirectories(ParentFolder(path_)); rc != 0) return static_cast<LSTATUS>(Win32ErrorFromErrno(rc));
  std::string lockPath = path_ + ".lock";
  UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode_));
  if (lock.get() < 0) return LastError();
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return LastError();
  }
  Hive hive;
  LSTATUS rc = Load(&hive);
  if (rc != ERROR_SUCCESS) return rc;
  bool modified = false;
  rc = change(hive, &modified);
  if (rc != ERROR_SUCCESS || !modified) return rc;
  return Save(hive);  // the lock is released when `lock` closes
}

LSTATUS HiveFile::Save(const Hive& hive) const {
  int err = ReplaceFileDurably(path_, SerializeHive(hive, rootName_), mode_);
  return static_cast<LSTATUS>(err == 0 ? ERROR_SUCCESS : Win32ErrorFromErrno(err));
}
