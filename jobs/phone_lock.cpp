#include "jobs/phone_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "platform/format.h"

namespace {

constexpr size_t kMaxEscapedName = 160;

std::string Canonical(const std::string& deviceId) {
  char resolved[PATH_MAX];
  if (!deviceId.empty() && ::realpath(deviceId.c_str(), resolved)) return resolved;
  return deviceId;
}

}  // namespace

std::string RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime ? runtime : "/tmp";
}

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

HRESULT CPhoneLock::TryAcquire(const std::string& deviceId) { return TryAcquireFile(PhoneLockPath(deviceId)); }

HRESULT CPhoneLock::TryAcquireFile(const std::string& lockPath) {
  if (held()) return S_OK;
  UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666));
  if (!fd.valid()) return HresultFromLastErrno();
  while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return HRESULT_FROM_WIN32(ERROR_BUSY);
    if (errno != EINTR) return HresultFromLastErrno();
  }
  fd_ = std::move(fd);
  return S_OK;
}
