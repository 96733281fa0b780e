#include "tools/devices/port_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "platform/home_folder.h"

namespace devices {

namespace {

constexpr size_t kMaxTableBytes = 1 << 20;

void MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    ::mkdir(path.substr(0, slash).c_str(), 0755);
}

Status FromErrno(int err) { return err == EACCES || err == EPERM || err == EROFS ? kAccessDenied : kFailed; }

// Owns the open, locked table file.
class TableFile {
 public:
  ~TableFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  Status Open() {
    std::string path = PortTablePath();
    MakeParents(path);
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) return Report(FromErrno(errno), "cannot be opened");
    while (::flock(fd_, LOCK_EX) != 0)
      if (errno != EINTR) return Report(kFailed, "cannot be locked");
    return kOk;
  }
  Status Read(std::string* text) {
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Report(FromErrno(errno), "cannot be read");
      if (n == 0) return kOk;
      text->append(buffer, static_cast<size_t>(n));
      if (text->size() > kMaxTableBytes) return Report(kFailed, "is too large");
    }
  }
  Status Append(const std::string& line) {
    if (::lseek(fd_, 0, SEEK_END) < 0 || ::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
      return Report(FromErrno(errno), "cannot be written");
    if (::fsync(fd_) != 0) return Report(FromErrno(errno), "cannot be written");
    return kOk;
  }
  static Status Report(Status status, const char* what) {
    std::fprintf(stderr, "vantor-devices: the port table \"%s\" %s\n", PortTablePath().c_str(), what);
    return status;
  }

 private:
  int fd_ = -1;
};

// The bindings of the table; two ports labelled with one index make it unusable.
Status Parse(const std::string& text, std::map<std::string, unsigned>* table) {
  std::map<unsigned, std::string> portOf;
  std::istringstream in(text);
  std::string port;
  unsigned long index = 0;
  while (in >> port >> index) {
    if (index == 0 || index > 0xFFFFFFFFul) continue;
    auto [at, added] = portOf.emplace(static_cast<unsigned>(index), port);
    if (!added && at->second != port) {
      std::fprintf(stderr, "vantor-devices: the port table \"%s\" labels both %s and %s with index %lu\n",
                   PortTablePath().c_str(), at->second.c_str(), port.c_str(), index);
      return kFailed;
    }
    (*table)[port] = static_cast<unsigned>(index);
  }
  return kOk;
}

Status ReadTable(TableFile* file, std::map<std::string, unsigned>* table) {
  Status status = file->Open();
  std::string text;
  if (status == kOk) status = file->Read(&text);
  if (status == kOk) status = Parse(text, table);
  return status;
}

}  // namespace

std::string PortTablePath() {
  if (const char* path = std::getenv("VANTOR_PORT_TABLE"); path && *path) return path;
  if (::geteuid() == 0) return "/var/lib/vantor/usb-ports";
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return std::string(state) + "/vantor/usb-ports";
  std::string home = HomeFolder();
  return (home.empty() ? std::string("/nonexistent") : home) + "/.local/state/vantor/usb-ports";
}

Status IndexOfPort(const std::string& portPath, unsigned* index) {
  *index = 0;
  if (portPath.empty() || portPath.find_first_of(" \t\r\n") != std::string::npos) return kFailed;
  TableFile file;
  std::map<std::string, unsigned> table;
  Status status = ReadTable(&file, &table);
  if (status != kOk) return status;
  if (auto it = table.find(portPath); it != table.end()) {
    *index = it->second;
    return kOk;
  }
  unsigned highest = 0;
  for (const auto& [port, i] : table) highest = std::max(highest, i);
  status = file.Append(portPath + " " + std::to_string(highest + 1) + "\n");
  if (status == kOk) *index = highest + 1;
  return status;
}

Status InitPortTable() {
  TableFile file;
  std::map<std::string, unsigned> table;
  return ReadTable(&file, &table);
}

}  // namespace devices
