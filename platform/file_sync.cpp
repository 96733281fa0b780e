#include "platform/file_sync.h"

#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <utility>

namespace {

std::mutex& HookLock() {
  static std::mutex lock;
  return lock;
}

std::function<int(int)>& Hook() {
  static std::function<int(int)> hook;
  return hook;
}

}  // namespace

int RealSyncFile(int fd) {
  int rc;
  do {
    rc = ::fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

int SyncFile(int fd) {
  std::function<int(int)> hook;
  {
    std::lock_guard lock(HookLock());
    hook = Hook();
  }
  return hook ? hook(fd) : RealSyncFile(fd);
}

ScopedSyncHook::ScopedSyncHook(std::function<int(int)> hook) {
  std::lock_guard lock(HookLock());
  previous_ = std::exchange(Hook(), std::move(hook));
}

ScopedSyncHook::~ScopedSyncHook() {
  std::lock_guard lock(HookLock());
  Hook() = std::move(previous_);
}
