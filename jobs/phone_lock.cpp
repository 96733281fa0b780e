#include "jobs/phone_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "platform/format.h"
#include "shell/runtime_folder.h"

namespace {

constexpr size_t kMaxEscapedName = 160;

std::string Canonical(const std::string& deviceId) {
  char resolved[PATH_MAX];
  if (!deviceId.empty() && ::realpath(deviceId.c_str(), resolved)) return resolved;
  return deviceId;
}

HRESULT LockFile(const std::string& path, UniqueFd* lock) {
  HRESULT hr = PrepareRuntimeFolder();
  if (FAILED(hr)) return hr;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd.valid()) return HresultFromLastErrno();
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return HRESULT_FROM_WIN32(ERROR_BUSY);
    if (errno != EINTR) return HresultFromLastErrno();
  }
  *lock = std::move(fd);
  return S_OK;
}

}  // namespace

std::string PhoneLockPath(const std::string& deviceId) { return RuntimeLockPath("phone", deviceId); }

std::string RuntimeLockPath(const char* kind, const std::string& key) {
  std::string id = Canonical(key);
  std::string name;
  for (unsigned char c : id) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                 c == '-';
    name += plain ? std::string(1, static_cast<char>(c)) : Format("%%%02X", c);
  }
  if (name.size() > kMaxEscapedName) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the whole identifier
    for (unsigned char c : id) hash = (hash ^ c) * 1099511628211ull;
    name = name.substr(0, kMaxEscapedName) + Format("-%016llx", static_cast<unsigned long long>(hash));
  }
  return RuntimeFolder() + "/vantor-" + kind + "-" + name + ".lock";
}

std::string PortLockPath(DWORD locationIndex) {
  return RuntimeFolder() + Format("/vantor-port-%u.lock", static_cast<unsigned>(locationIndex));
}

HRESULT CPhoneLock::TryAcquire(const std::string& deviceId, DWORD locationIndex) {
  if (held()) return S_OK;
  UniqueFd device, port;
  HRESULT hr = LockFile(PhoneLockPath(deviceId), &device);
  if (SUCCEEDED(hr) && locationIndex != 0) hr = LockFile(PortLockPath(locationIndex), &port);
  if (FAILED(hr)) return hr;
  device_ = std::move(device);
  port_ = std::move(port);
  return S_OK;
}

HRESULT CPhoneLock::TryAcquireFile(const std::string& lockPath) {
  if (held()) return S_OK;
  return LockFile(lockPath, &device_);
}
