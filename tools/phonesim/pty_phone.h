// An emergency-download phone on a pseudo-terminal: the slave's path is the
// phone's serial port. After its reset the phone leaves the port and, after
// a delay, comes back at the same location index as a USB disk: a regular
// file holding its eMMC, the boot image at offset 0.
#pragma once
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "tools/phonesim/emergency_phone.h"
#include "tools/phonesim/link_faults.h"

namespace phonesim {

struct BenchPhoneOptions {
  std::string benchDir;          // where the state and the disk file go
  unsigned index = 1;            // location index
  EmergencyPhoneConfig phone;
  LinkFaults link;
  unsigned diskReturnDelayMs = 500;  // scaled by VANTOR_TIME_SCALE
  bool neverReturnsAsDisk = false;
  std::uint64_t diskBytes = 256ull << 20;  // size of the disk file (sparse)
  double rateMBps = 0;                      // bytes read and written on the port, at most this many MB/s (0: no limit)
};

class PtyEmergencyPhone {
 public:
  explicit PtyEmergencyPhone(BenchPhoneOptions options);
  ~PtyEmergencyPhone();
  PtyEmergencyPhone(const PtyEmergencyPhone&) = delete;
  PtyEmergencyPhone& operator=(const PtyEmergencyPhone&) = delete;

  // Opens the pseudo-terminal, publishes the phone and starts answering.
  bool Start(std::string* error);
  void Stop();

  const std::string& portPath() const { return portPath_; }
  std::string diskPath() const;
  // A copy of the phone's state, taken under its lock.
  EmergencyPhone Snapshot() const;
  // True once the phone is back as a disk (the file is complete).
  bool IsDisk() const { return isDisk_; }
  // Frames received with a bad check sequence.
  int badFrames() const { return badFrames_; }

 private:
  void Run();
  bool Send(const Bytes& frames);
  // Gets the phone's thread out of a blocking read or write on its port.
  void WakePort();
  void Babble();
  void LeavePort();
  void WaitUntilHostRead();
  void Pace(size_t bytes);  // holds the port to its rate
  void ComeBackAsDisk();
  void Publish(const std::string& mode);

  BenchPhoneOptions options_;
  mutable std::mutex mutex_;
  EmergencyPhone phone_;
  ReplyShaper shaper_;
  std::mutex portMutex_;  // the descriptors, which the phone's thread closes when it leaves
  int master_ = -1;  // blocking: the phone's thread waits in one read per batch of requests
  int slave_ = -1;   // held so the master never reads as hung up while the port is closed; non-blocking
  std::string portPath_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};  // the phone's thread has not ended yet
  std::atomic<bool> isDisk_{false};
  std::atomic<int> badFrames_{0};
  bool heard_ = false;  // the host has sent a byte (published once, with the state)
  double pacedBytes_ = 0;
  std::chrono::steady_clock::time_point pacedSince_;
};

}  // namespace phonesim
