// One job per phone, across processes: an flock on a file named after the
// phone's device identifier in the runtime folder, held while the job works
// on the phone. The kernel releases it when its holder dies, so a killed
// program never leaves a phone locked.
#pragma once
#include <string>

#include "platform/hresult.h"
#include "platform/unique_fd.h"

// $XDG_RUNTIME_DIR when set, else /tmp: where the program's lock files live.
std::string RuntimeFolder();

// The lock file of a device identifier: the identifier (its canonical path
// when it names an existing file) with every character other than letters,
// digits, ".", "_" and "-" written as %XX, so no identifier can name a file
// elsewhere; a long one is cut and ends in a hash of the whole.
std::string PhoneLockPath(const std::string& deviceId);
// The same rule for a lock of another kind ("backup", ...): the file is
// "vantor-KIND-<escaped key>.lock" in the runtime folder.
std::string RuntimeLockPath(const char* kind, const std::string& key);

class CPhoneLock {
 public:
  // S_OK; HRESULT_FROM_WIN32(ERROR_BUSY) when another job, of this process or
  // another, holds the phone; the error of the lock file otherwise.
  HRESULT TryAcquire(const std::string& deviceId);
  // The same for a lock file of RuntimeLockPath.
  HRESULT TryAcquireFile(const std::string& lockPath);
  void Release() { fd_.Reset(); }
  bool held() const { return fd_.valid(); }

 private:
  UniqueFd fd_;
};
