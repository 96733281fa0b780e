// One boot of a later phone in emergency download mode, on no transport of
// its own: its boot ROM speaks Sahara until the programmer it loaded takes
// over, and the programmer then speaks Firehose on the same bytes, writing
// the phone's LUNs. Host bytes go in; what the phone sends comes out, one
// string a write (a Sahara reply, a Firehose document, read data). A boot
// ends with the programmer's power reset or with the phone leaving the bench
// mid-write; the transport then takes the phone away and, after a reset,
// starts the next boot on the same LUNs.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/phonesim/firehose_target.h"
#include "tools/phonesim/lun_store.h"
#include "tools/phonesim/sahara_rom.h"

namespace phonesim {

// A Sahara/Firehose phone, on any transport.
struct SaharaPhoneOptions {
  std::string benchDir;
  unsigned index = 1;
  SaharaRomConfig rom;
  FirehoseConfig firehose;
  std::uint64_t lunBytes = 64ull << 20;
  bool silent = false;        // the boot ROM never speaks
  bool helloOnce = false;     // HELLO only at the first open of a pty, as on USB where a read consumes it
  unsigned resetDelayMs = 300;    // off the bench after a power reset (times VANTOR_TIME_SCALE)
  unsigned dataTimeoutMs = 5000;  // Sahara gives up on a data request after this (times VANTOR_TIME_SCALE)
};

// Opens the phone's LUN files "<benchDir>/firehose-<index>-lunL.img": six
// for UFS, one for eMMC; their content is kept.
bool OpenSaharaLuns(const SaharaPhoneOptions& options, LunStore* store, std::string* error);

class SaharaSession {
 public:
  using Clock = std::chrono::steady_clock;
  using Out = std::vector<std::string>;

  // The store outlives the session.
  SaharaSession(const SaharaPhoneOptions& options, LunStore& store);

  // The HELLO the ROM says as the host arrives; nothing from a silent ROM,
  // once the exchange began, or from a running programmer.
  Out Hello();
  Out Feed(const std::uint8_t* data, std::size_t size, Clock::time_point now = Clock::now());
  // What the phone says while the host is silent: the ROM gives up on a
  // data request after the data time-out.
  Out Idle(Clock::time_point now = Clock::now());
  // Raw sector data the programmer still awaits for its program command:
  // bytes the host is bound to send next.
  std::uint64_t rawBytesAwaited() const { return programmer_ ? programmer_->rawBytesAwaited() : 0; }

  bool programmerRunning() const { return programmer_ != nullptr; }
  bool resetRequested() const { return programmer_ && programmer_->resetRequested(); }
  bool vanished() const { return programmer_ && programmer_->vanished(); }
  bool ended() const { return resetRequested() || vanished(); }
  // The last END_IMAGE_TX status the ROM sent.
  std::uint32_t lastSaharaStatus() const { return rom_.lastStatus(); }

 private:
  void StartProgrammer(Out& out);

  bool silent_;
  unsigned dataTimeoutMs_;
  FirehoseConfig firehose_;
  LunStore& store_;
  SaharaRom rom_;
  std::unique_ptr<FirehoseTarget> programmer_;
  Clock::time_point lastByte_ = Clock::now();
};

}  // namespace phonesim
