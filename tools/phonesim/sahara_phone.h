// A later phone in emergency download mode on a pseudo-terminal: its boot
// ROM speaks Sahara from the moment the host opens the port, loads the
// programmer it is sent, and the programmer then speaks Firehose on the same
// port, writing one file per LUN in the bench folder. A power reset takes
// the phone off the bench for a moment and brings it back at the same port
// in Sahara mode, its storage kept.
#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/phonesim/lun_store.h"
#include "tools/phonesim/sahara_session.h"

namespace phonesim {

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
  // How many power resets it took.
  int resets() const { return resets_; }
  bool gone() const { return gone_; }
  // The last END_IMAGE_TX status the ROM sent.
  std::uint32_t lastSaharaStatus() const { return lastStatus_; }

 private:
  void Run();
  void OnHostOpened();
  void OnBytes(const std::uint8_t* data, std::size_t size);
  void PowerReset();
  bool Send(const std::vector<std::string>& writes);
  void Publish(const std::string& mode);

  SaharaPhoneOptions options_;
  LunStore store_;
  std::unique_ptr<SaharaSession> session_;
  int master_ = -1;
  std::string portPath_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> gone_{false};
  std::atomic<int> resets_{0};
  std::atomic<std::uint32_t> lastStatus_{0};
  bool hostOpen_ = false;
  int opens_ = 0;
};

}  // namespace phonesim
