// Carries a phone's bytes between its FunctionFS endpoints and the transport
// the phone itself serves: its pseudo-terminal, or its fastboot TCP port with
// the length framing taken off (what the host sends over USB) and put back.
// Two threads, one a direction. The phone leaving its transport (a reset, a
// reboot) ends the relay, as unplugging it would.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/phonesim/ffs_function.h"

namespace phonesim {

class PhoneStream {
 public:
  virtual ~PhoneStream() = default;
  // Waits up to 50 ms for what the phone sends; false once the phone left.
  virtual bool Read(std::vector<std::uint8_t>* chunk) = 0;
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  // Bytes the phone knows the host sends next (the raw data of a command),
  // which one endpoint read may wait for whole; 0: read a packet at a time.
  virtual std::size_t Awaited() const { return 0; }
};

// The host's end of a phone's pseudo-terminal.
std::unique_ptr<PhoneStream> OpenPtyStream(const std::string& path, std::string* error);
// A fastboot phone's "tcp:HOST:PORT", after the greeting.
std::unique_ptr<PhoneStream> OpenFastbootStream(const std::string& identifier, std::string* error);

class UsbRelay {
 public:
  UsbRelay() = default;
  ~UsbRelay();
  UsbRelay(const UsbRelay&) = delete;
  UsbRelay& operator=(const UsbRelay&) = delete;

  void Start(FfsFunction& function, std::unique_ptr<PhoneStream> stream);
  // Interrupts and joins both threads (a read on an endpoint waits in the
  // kernel until a signal ends it).
  void Stop();
  // Waits until the phone left its transport or stop is set.
  void WaitUntilPhoneLeft(const std::atomic<bool>& stop);

 private:
  void HostToPhone();
  void PhoneToHost();
  void SendToHost(const std::vector<std::uint8_t>& chunk);

  FfsFunction* function_ = nullptr;
  std::unique_ptr<PhoneStream> stream_;
  std::atomic<bool> stop_{false};
  std::atomic<int> running_{0};
  std::thread toPhone_, toHost_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool left_ = false;
};

}  // namespace phonesim
