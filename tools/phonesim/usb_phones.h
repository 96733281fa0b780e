// The bench's phones served over USB, each on its own controller of the
// gadget framework (a USB port): the phone's conversation is the same code
// as on the pty and TCP transports, its bytes relayed to a FunctionFS
// interface. A phone that resets leaves the bus and comes back at the same
// port as what it became.
//   emergency download: 05c6:9008, one vendor interface (ff/ff/ff); after
//     its reset the mini kernel's USB disk, 05c6:f000 with only the
//     mass-storage interface, serving the phone's eMMC file;
//   disk: that USB disk from the start;
//   diagnostic: a running phone's diagnostic port, 05c6:9025 interface 0;
//   fastboot: 18d1:4ee0 with the interface fastboot looks for (ff/42/03);
//   Sahara/Firehose: 05c6:9008 with the same vendor interface, its boot
//     served straight from the endpoints (no pseudo-terminal between); after
//     a power reset it comes back at the same port with its boot ROM.
#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "tools/phonesim/diagnostic_phone.h"
#include "tools/phonesim/fastboot_phone.h"
#include "tools/phonesim/ffs_function.h"
#include "tools/phonesim/pty_phone.h"
#include "tools/phonesim/sahara_session.h"
#include "tools/phonesim/usb_gadget.h"
#include "tools/phonesim/usb_relay.h"

namespace phonesim {

struct UsbId {
  std::uint16_t vendor, product;
};
constexpr UsbId kEmergencyUsb{0x05c6, 0x9008};
constexpr UsbId kDiskUsb{0x05c6, 0xf000};
constexpr UsbId kDiagnosticUsb{0x05c6, 0x9025};
constexpr UsbId kFastbootUsb{0x18d1, 0x4ee0};

// One USB port with a phone's device on it.
class UsbPort {
 public:
  UsbPort(const std::string& name, const std::string& udc, std::string serial);
  ~UsbPort();

  // Plugs a device with one FunctionFS interface relayed to the stream.
  bool PlugInterface(UsbId id, InterfaceClass kind, std::unique_ptr<PhoneStream> stream, std::string* error);
  // Plugs the USB disk serving the file.
  bool PlugDisk(const std::string& file, std::string* error);
  void WaitUntilPhoneLeft(const std::atomic<bool>& stop) { relay_.WaitUntilPhoneLeft(stop); }
  void Unplug();
  const std::string& udc() const { return gadget_.udc(); }

 private:
  bool Create(UsbId id, std::string* error);

  UsbGadget gadget_;
  std::string serial_;
  FfsFunction function_;
  UsbRelay relay_;
  bool created_ = false;
};

class UsbEmergencyPhone {
 public:
  // returnUdc: the controller its disk comes back at, when not its own (a
  // fault: the disk appears at another port).
  UsbEmergencyPhone(BenchPhoneOptions options, const std::string& udc, const std::string& returnUdc = "");
  ~UsbEmergencyPhone();
  bool Start(std::string* error);
  std::string where() const { return port_.udc(); }

 private:
  void ComeBackAsDisk();

  PtyEmergencyPhone phone_;
  UsbPort port_;
  std::unique_ptr<UsbPort> elsewhere_;
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

class UsbDiskPhone {
 public:
  UsbDiskPhone(std::string file, unsigned index, const std::string& udc);
  bool Start(std::string* error) { return port_.PlugDisk(file_, error); }
  std::string where() const { return port_.udc(); }

 private:
  std::string file_;
  UsbPort port_;
};

class UsbDiagnosticPhone {
 public:
  UsbDiagnosticPhone(DiagnosticPhoneOptions options, const std::string& udc);
  ~UsbDiagnosticPhone();
  bool Start(std::string* error);
  std::string where() const { return port_.udc(); }

 private:
  bool Plug(std::string* error);
  void FollowResets();

  DiagnosticPhone phone_;
  UsbPort port_;
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

class UsbFastbootPhone {
 public:
  UsbFastbootPhone(FastbootPhoneOptions options, const std::string& udc);
  ~UsbFastbootPhone();
  bool Start(std::string* error);
  std::string where() const { return port_.udc(); }

 private:
  void UnplugOnReboot();

  TcpFastbootPhone phone_;
  UsbPort port_;
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

// A later phone in emergency download mode. A power reset takes it off the
// bus and, after the reset delay, plugs it again with a new boot on the same
// LUNs; a phone that vanished mid-write stays away.
class UsbSaharaPhone {
 public:
  UsbSaharaPhone(SaharaPhoneOptions options, const std::string& udc);
  ~UsbSaharaPhone();
  bool Start(std::string* error);
  std::string where() const { return port_.udc(); }

 private:
  bool Plug(std::string* error);
  void FollowResets();

  SaharaPhoneOptions options_;
  LunStore store_;
  std::unique_ptr<SaharaSession> session_;  // the boot on the bus; outlives the port's relay
  UsbPort port_;
  std::atomic<bool> stop_{false};
  std::thread watcher_;
};

}  // namespace phonesim
