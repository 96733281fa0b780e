#include "tools/devices/port_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

std::map<std::string, unsigned> Parse(const std::string& text) {
  std::map<std::string, unsigned> table;
  std::istringstream in(text);
  std::string port;
  unsigned long index = 0;
  while (in >> port >> index) {
    if (index > 0 && index <= 0xFFFFFFFFul) table[port] = static_cast<unsigned>(index);
  }
  return table;
}

}  // namespace

std::string PortTablePath() {
  if (const char* path = std::getenv("VANTOR_PORT_TABLE"); path && *path) return path;
  if (::geteuid() == 0) return "/var/lib/vantor/usb-ports";
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state) return std::string(state) + "/vantor/usb-ports";
  std::string home = HomeFolder();
  return (home.empty() ? std::string("/nonexistent") : home) + "/.local/state/vantor/usb-ports";
}

unsigned IndexOfPort(const std::string& portPath) {
  if (portPath.empty() || portPath.find_first_of(" \t\r\n") != std::string::npos) return 0;
  std::string path = PortTablePath();
  MakeParents(path);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return 0;
  unsigned index = 0;
  if (::flock(fd, LOCK_EX) == 0) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < kMaxTableBytes) text.append(buffer, n);
    std::map<std::string, unsigned> table = Parse(text);
    auto it = table.find(portPath);
    if (it != table.end()) {
      index = it->second;
    } else {
      unsigned highest = 0;
      for (const auto& [port, i] : table) highest = std::max(highest, i);
      index = highest + 1;
      std::string line = portPath + " " + std::to_string(index) + "\n";
      if (::lseek(fd, 0, SEEK_END) < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        index = 0;
      ::fsync(fd);
    }
  }
  ::close(fd);
  return index;
}

bool ResetPortTable() {
  std::string path = PortTablePath();
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace devices
