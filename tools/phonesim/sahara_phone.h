// A later phone in emergency download mode on a pseudo-terminal: its boot
// ROM speaks Sahara from the moment the host opens the port, loads the
// programmer it is sent, and the programmer then speaks Firehose on the same
// port, writing one file per LUN in the bench folder. A power reset takes
// the phone off the bench for a moment and brings it back at the same port
// in Sahara mode, its storage kept.
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/phonesim/firehose_target.h"
#include "tools/phonesim/lun_store.h"
#include "tools/phonesim/sahara_rom.h"

namespace phonesim {

struct SaharaPhoneOptions {
  std::string benchDir;
  unsigned index = 1;
  SaharaRomConfig rom;
  FirehoseConfig firehose;
  std::uint64_t lunBytes = 64ull << 20;
  bool silent = false;        // the boot ROM never speaks
  bool helloOnce = false;     // HELLO only at the first open, as on USB where a read consumes it
  unsigned resetDelayMs = 300;    // off the bench after a power reset (times VANTOR_TIME_SCALE)
  unsigned dataTimeoutMs = 5000;  // Sahara gives up on a data request after this (times VANTOR_TIME_SCALE)
};

class PtySaharaPhone {
 public:
  explicit PtySaharaPhone(SaharaPhoneOptions options);
  ~PtySaharaPhone();
  PtySaharaPhone(const PtySaharaPhone&) = delete;
  PtySaharaPhone& operator=(const PtySaharaPhone&) = delete;

  bool Start(std::string* error);
  void Stop();

  const std::string& portPath() const { return portPath_; }
  std::string LunPath(unsigned lun) const { return store_.PathOf(lun); }
  // How many times the programmer was started and how many power resets it took.
  int programmerStarts() const { return programmerStarts_; }
  int resets() const { return resets_; }
  bool gone() const { return gone_; }
  // The last END_IMAGE_TX status the ROM sent.
  std::uint32_t lastSaharaStatus() const { return lastStatus_; }

 private:
  void Run();
  void OnHostOpened();
  void OnBytes(const std::uint8_t* data, std::size_t size);
  void StartProgrammer(Bytes leftover);
  void PowerReset();
  bool Send(const std::string& bytes);
  void Publish(const std::string& mode);

  SaharaPhoneOptions options_;
  LunStore store_;
  std::unique_ptr<SaharaRom> rom_;
  std::unique_ptr<FirehoseTarget> programmer_;
  int master_ = -1;
  std::string portPath_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> gone_{false};
  std::atomic<int> programmerStarts_{0};
  std::atomic<int> resets_{0};
  std::atomic<std::uint32_t> lastStatus_{0};
  bool hostOpen_ = false;
  int opens_ = 0;
};

}  // namespace phonesim
