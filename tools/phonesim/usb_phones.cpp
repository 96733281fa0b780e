#include "tools/phonesim/usb_phones.h"

#include <chrono>
#include <cstdio>

#include "tools/phonesim/sahara_stream.h"
#include "tools/phonesim/time_scale.h"

namespace phonesim {
namespace {

constexpr InterfaceClass kVendorInterface{0xff, 0xff, 0xff};
constexpr InterfaceClass kFastbootInterface{0xff, 0x42, 0x03};

std::string GadgetName(const char* kind, unsigned index) { return std::string("vantor-") + kind + std::to_string(index); }

void Join(std::atomic<bool>& stop, std::thread& t) {
  stop = true;
  if (t.joinable()) t.join();
}

}  // namespace

UsbPort::UsbPort(const std::string& name, const std::string& udc, std::string serial)
    : gadget_(name, udc), serial_(std::move(serial)) {}

UsbPort::~UsbPort() { Unplug(); }

bool UsbPort::Create(UsbId id, std::string* error) {
  if (!created_) {
    if (!gadget_.Create(id.vendor, id.product, serial_, error)) return false;
    created_ = true;
    return true;
  }
  return gadget_.SetProduct(id.product, error);
}

bool UsbPort::PlugInterface(UsbId id, InterfaceClass kind, std::unique_ptr<PhoneStream> stream, std::string* error) {
  std::string mount;
  if (!stream || !Create(id, error) || !gadget_.UseFunctionFs(&mount, error) || !function_.Open(mount, kind, error))
    return false;
  relay_.Start(function_, std::move(stream));
  return gadget_.Attach(error);
}

bool UsbPort::PlugDisk(const std::string& file, std::string* error) {
  return Create(kDiskUsb, error) && gadget_.UseMassStorage(file, error) && gadget_.Attach(error);
}

// The device leaves the bus before the program serving its endpoints lets
// them go: the other order keeps the host's tty for seconds.
void UsbPort::Unplug() {
  gadget_.Detach();
  relay_.Stop();
  function_.Close();
  gadget_.DropFunction();
}

UsbEmergencyPhone::UsbEmergencyPhone(BenchPhoneOptions options, const std::string& udc, const std::string& returnUdc)
    : phone_(options), port_(GadgetName("edl", options.index), udc, "VE" + std::to_string(1000 + options.index)) {
  if (!returnUdc.empty())
    elsewhere_ = std::make_unique<UsbPort>(GadgetName("moved", options.index), returnUdc,
                                           "VE" + std::to_string(1000 + options.index));
}

UsbEmergencyPhone::~UsbEmergencyPhone() {
  Join(stop_, watcher_);
  if (elsewhere_) elsewhere_->Unplug();
  port_.Unplug();
  phone_.Stop();
}

bool UsbEmergencyPhone::Start(std::string* error) {
  if (!phone_.Start(error) || !port_.PlugInterface(kEmergencyUsb, kVendorInterface, OpenPtyStream(phone_.portPath(), error), error))
    return false;
  watcher_ = std::thread(&UsbEmergencyPhone::ComeBackAsDisk, this);
  return true;
}

// After its reset the phone leaves its port; once its eMMC file is complete
// it comes back at the same USB port as the mini kernel's disk.
void UsbEmergencyPhone::ComeBackAsDisk() {
  port_.WaitUntilPhoneLeft(stop_);
  port_.Unplug();
  while (!stop_ && !phone_.IsDisk()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::string error;
  UsbPort& comesBackAt = elsewhere_ ? *elsewhere_ : port_;
  if (!stop_ && !comesBackAt.PlugDisk(phone_.diskPath(), &error))
    std::fprintf(stderr, "vantor-phonesim: the disk does not come back: %s\n", error.c_str());
}

UsbDiskPhone::UsbDiskPhone(std::string file, unsigned index, const std::string& udc)
    : file_(std::move(file)), port_(GadgetName("disk", index), udc, "VD" + std::to_string(1000 + index)) {}

UsbDiagnosticPhone::UsbDiagnosticPhone(DiagnosticPhoneOptions options, const std::string& udc)
    : phone_(options), port_(GadgetName("diag", options.index), udc, options.serial) {}

UsbDiagnosticPhone::~UsbDiagnosticPhone() {
  Join(stop_, watcher_);
  port_.Unplug();
  phone_.Stop();
}

bool UsbDiagnosticPhone::Start(std::string* error) {
  if (!phone_.Start(error) || !Plug(error)) return false;
  watcher_ = std::thread(&UsbDiagnosticPhone::FollowResets, this);
  return true;
}

bool UsbDiagnosticPhone::Plug(std::string* error) {
  return port_.PlugInterface(kDiagnosticUsb, kVendorInterface, OpenPtyStream(phone_.portPath(), error), error);
}

// A reset drops the port: the device leaves the bus and is plugged again
// once the phone serves its new port.
void UsbDiagnosticPhone::FollowResets() {
  while (!stop_) {
    port_.WaitUntilPhoneLeft(stop_);
    if (stop_) return;
    int before = phone_.comebacks();
    port_.Unplug();
    while (!stop_ && phone_.comebacks() == before) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string error;
    if (!stop_ && !Plug(&error)) {
      std::fprintf(stderr, "vantor-phonesim: the diagnostic port does not come back: %s\n", error.c_str());
      return;
    }
  }
}

UsbFastbootPhone::UsbFastbootPhone(FastbootPhoneOptions options, const std::string& udc)
    : phone_(options), port_(GadgetName("fastboot", options.index), udc, options.serial) {}

UsbFastbootPhone::~UsbFastbootPhone() {
  Join(stop_, watcher_);
  port_.Unplug();
  phone_.Stop();
}

bool UsbFastbootPhone::Start(std::string* error) {
  if (!phone_.Start(error) ||
      !port_.PlugInterface(kFastbootUsb, kFastbootInterface, OpenFastbootStream(phone_.identifier(), error), error))
    return false;
  watcher_ = std::thread(&UsbFastbootPhone::UnplugOnReboot, this);
  return true;
}

// A reboot ends the phone's connection: it leaves the bus.
void UsbFastbootPhone::UnplugOnReboot() {
  port_.WaitUntilPhoneLeft(stop_);
  if (!stop_) port_.Unplug();
}

UsbSaharaPhone::UsbSaharaPhone(SaharaPhoneOptions options, const std::string& udc)
    : options_(std::move(options)),
      port_(GadgetName("firehose", options_.index), udc, "VF" + std::to_string(1000 + options_.index)) {}

UsbSaharaPhone::~UsbSaharaPhone() {
  Join(stop_, watcher_);
  port_.Unplug();
}

bool UsbSaharaPhone::Start(std::string* error) {
  if (!OpenSaharaLuns(options_, &store_, error) || !Plug(error)) return false;
  watcher_ = std::thread(&UsbSaharaPhone::FollowResets, this);
  return true;
}

bool UsbSaharaPhone::Plug(std::string* error) {
  session_ = std::make_unique<SaharaSession>(options_, store_);
  return port_.PlugInterface(kEmergencyUsb, kVendorInterface, std::make_unique<SaharaStream>(*session_), error);
}

void UsbSaharaPhone::FollowResets() {
  while (!stop_) {
    port_.WaitUntilPhoneLeft(stop_);
    if (stop_) return;
    port_.Unplug();
    if (session_->vanished()) return;
    auto back = std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledMs(options_.resetDelayMs));
    while (!stop_ && std::chrono::steady_clock::now() < back) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string error;
    if (!stop_ && !Plug(&error)) {
      std::fprintf(stderr, "vantor-phonesim: the Sahara phone does not come back: %s\n", error.c_str());
      return;
    }
  }
}

}  // namespace phonesim
