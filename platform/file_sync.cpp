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

std::function<int(int)>& Hook(SyncKind kind) {
  static std::function<int(int)> file, data;
  return kind == SyncKind::File ? file : data;
}

std::function<int(int)> CurrentHook(SyncKind kind) {
  std::lock_guard lock(HookLock());
  return Hook(kind);
}

template <class Call>
int Retried(Call call) {
  int rc;
  do {
    rc = call();
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

}  // namespace

int RealSyncFile(int fd) {
  return Retried([fd] { return ::fsync(fd); });
}

int RealSyncFileData(int fd) {
  return Retried([fd] { return ::fdatasync(fd); });
}

int SyncFile(int fd) {
  std::function<int(int)> hook = CurrentHook(SyncKind::File);
  return hook ? hook(fd) : RealSyncFile(fd);
}

int SyncFileData(int fd) {
  std::function<int(int)> hook = CurrentHook(SyncKind::Data);
  return hook ? hook(fd) : RealSyncFileData(fd);
}

ScopedSyncHook::ScopedSyncHook(std::function<int(int)> hook, SyncKind kind) : kind_(kind) {
  std::lock_guard lock(HookLock());
  previous_ = std::exchange(Hook(kind_), std::move(hook));
}

ScopedSyncHook::~ScopedSyncHook() {
  std::lock_guard lock(HookLock());
  Hook(kind_) = std::move(previous_);
}
