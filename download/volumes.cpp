// Taking a disk's volumes from the system for the length of a run.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "download/disk_writer.h"
#include "download/transport.h"
#include "jobs/discovery.h"
#include "shell/log.h"

namespace {

constexpr const char* kName = "DismountDiskVolume";

// A mount point as /proc/self/mountinfo writes it: blanks and the like as
// backslash and three octal digits.
std::string Unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && std::isdigit(static_cast<unsigned char>(field[i + 1]))) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      out += static_cast<char>(value);
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// Every mount point of the device, innermost last as listed.
std::vector<std::string> MountPointsOf(dev_t device) {
  std::vector<std::string> points;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, point;
    if (!(fields >> id >> parent >> majorMinor >> root >> point)) continue;
    unsigned major = 0, minor = 0;
    if (std::sscanf(majorMinor.c_str(), "%u:%u", &major, &minor) != 2) continue;
    if (makedev(major, minor) == device) points.push_back(Unescape(point));
  }
  return points;
}

// Unmounts every mount of the volume, without forcing: a busy one fails.
HRESULT Unmount(const std::string& volume) {
  struct stat st{};
  if (::stat(volume.c_str(), &st) != 0) return HresultFromLastErrno();
  if (!S_ISBLK(st.st_mode)) return S_OK;
  std::vector<std::string> points = MountPointsOf(st.st_rdev);
  for (auto it = points.rbegin(); it != points.rend(); ++it) {
    if (::umount2(it->c_str(), 0) != 0 && errno != EINVAL && errno != ENOENT) return HresultFromLastErrno();
  }
  return S_OK;
}

}  // namespace

HRESULT DismountDiskVolume(const std::string& disk, std::vector<UniqueFd>* volumes, IQStatusReport* sink) {
  // A disk held in a regular file (the virtual bench) has no volumes; a disk
  // that is not there has none either, and fails where it is opened.
  struct stat st{};
  if (::stat(disk.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return S_OK;
  std::vector<std::string> names;
  HRESULT hr = GetVolumeList(disk, &names);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  for (const std::string& name : names) {
    NotifyStatus(sink, "Dismount volume \"%s\"", name.c_str());
    hr = Unmount(name);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    UniqueFd volume(::open(name.c_str(), O_RDWR | O_EXCL | O_CLOEXEC));
    if (!volume.valid()) {
      hr = HresultFromLastErrno();
      TraceResult(hr, kName, __LINE__);
      return hr;
    }
    volumes->push_back(std::move(volume));
  }
  return hr;
}
