// The emergency download lock: while the outside automation server does the
// downloading, one emergency download at a time runs on the machine. It is an
// flock on a file named after {4A74067F-8567-4246-90E7-34FCF3D57D0C} in
// the runtime folder (shell/runtime_folder.h), which the kernel releases when its holder
// dies, so a crashed process never blocks later downloads.
#pragma once
#include "platform/hresult.h"
#include "platform/unique_fd.h"

class CDownloadLock {
 public:
  // Waits without time limit for the lock; ends with ERROR_CANCELLED when the
  // thread's work is asked to stop first.
  HRESULT Acquire();
  void Release();
  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};
