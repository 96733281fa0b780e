// Flushing a file to its device through one seam: what is reported written
// must survive a power cut, and a test can count the flushes, slow them or
// make one fail without a failing disk.
//  - SyncFile (fsync): a file and its metadata, before a run reports success
//    or a file replaces another.
//  - SyncFileData (fdatasync): the data and what is needed to read it back,
//    as the log's appended lines need.
// Each has a hook of its own, so a test of one never counts the other.
#pragma once
#include <functional>

// 0, or the errno of the failure (EINTR retried).
int SyncFile(int fd);
int SyncFileData(int fd);

enum class SyncKind { File, Data };

// For the life of this object every SyncFile (or, for SyncKind::Data, every
// SyncFileData) of the process calls hook instead; the hook returns 0 or an
// errno and may call RealSyncFile or RealSyncFileData itself.
class ScopedSyncHook {
 public:
  explicit ScopedSyncHook(std::function<int(int fd)> hook, SyncKind kind = SyncKind::File);
  ~ScopedSyncHook();
  ScopedSyncHook(const ScopedSyncHook&) = delete;
  ScopedSyncHook& operator=(const ScopedSyncHook&) = delete;

 private:
  SyncKind kind_;
  std::function<int(int)> previous_;
};

int RealSyncFile(int fd);
int RealSyncFileData(int fd);
