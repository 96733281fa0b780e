// For its life, pidfd_open fails as a sandbox that refuses it makes it fail
// (ENOSYS), so the process handles of the whole process poll instead.
#pragma once
#include <cerrno>

#include "process/process_kill.h"

class ScopedRefusedPidfds {
 public:
  ScopedRefusedPidfds() : previous_(SetPidfdOpenCall(&Refuse)) {}
  ~ScopedRefusedPidfds() { SetPidfdOpenCall(previous_); }
  ScopedRefusedPidfds(const ScopedRefusedPidfds&) = delete;
  ScopedRefusedPidfds& operator=(const ScopedRefusedPidfds&) = delete;

 private:
  static int Refuse(pid_t) {
    errno = ENOSYS;
    return -1;
  }
  PidfdOpenCall previous_;
};
