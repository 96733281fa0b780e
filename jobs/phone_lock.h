// One job per phone, across processes: an flock on a file named after the
// phone's device identifier in the runtime folder, and one on a file named
// after its location index (the USB port it is attached to), held while the
// job works on the phone. The index's lock follows the phone when it comes
// back in another mode under another identifier, as an emergency download's
// phone does as a USB disk. The kernel releases both when their holder dies,
// so a killed program never leaves a phone locked. The files lie in the
// runtime folder (shell/runtime_folder.h), which is made and checked first.
#pragma once
#include <string>

#include "platform/hresult.h"
#include "platform/types.h"
#include "platform/unique_fd.h"

// The lock file of a device identifier: the identifier (its canonical path
// when it names an existing file) with every character other than letters,
// digits, ".", "_" and "-" written as %XX, so no identifier can name a file
// elsewhere; a long one is cut and ends in a hash of the whole.
std::string PhoneLockPath(const std::string& deviceId);
// The same rule for a lock of another kind ("backup", ...): the file is
// "vantor-KIND-<escaped key>.lock" in the runtime folder.
std::string RuntimeLockPath(const char* kind, const std::string& key);

// The lock file of a location index.
std::string PortLockPath(DWORD locationIndex);

class CPhoneLock {
 public:
  // Both locks, the index's only for an index other than 0 (one discovery
  // does not know). S_OK; HRESULT_FROM_WIN32(ERROR_BUSY) when another job,
  // of this process or another, holds either; the error of a lock file
  // otherwise. Nothing stays held on failure.
  HRESULT TryAcquire(const std::string& deviceId, DWORD locationIndex = 0);
  // The same for a lock file of RuntimeLockPath.
  HRESULT TryAcquireFile(const std::string& lockPath);
  void Release() {
    port_.Reset();
    device_.Reset();
  }
  bool held() const { return device_.valid(); }

 private:
  UniqueFd device_;
  UniqueFd port_;
};
