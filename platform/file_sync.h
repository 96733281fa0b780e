// Flushing a file to its device (fsync) through one seam: what is reported
// written must survive a power cut, and a test can count the flushes or
// make one fail without a failing disk.
#pragma once
#include <functional>

// fsync(fd): 0, or the errno of the failure (EINTR retried).
int SyncFile(int fd);

// For the life of this object every SyncFile of the process calls hook
// instead; the hook returns 0 or an errno and may call RealSyncFile itself.
class ScopedSyncHook {
 public:
  explicit ScopedSyncHook(std::function<int(int fd)> hook);
  ~ScopedSyncHook();
  ScopedSyncHook(const ScopedSyncHook&) = delete;
  ScopedSyncHook& operator=(const ScopedSyncHook&) = delete;

 private:
  std::function<int(int)> previous_;
};

int RealSyncFile(int fd);
