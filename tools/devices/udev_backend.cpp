// Phones attached by USB, from udev.
#include <libudev.h>
#include <poll.h>

#include <cstring>
#include <string>

#include "tools/devices/backend.h"
#include "tools/devices/port_table.h"

namespace devices {
namespace {

// The USB ids this helper recognises; the one place to extend.
struct DiagnosticId {
  unsigned vendor, product, interface;
};
constexpr unsigned kQualcomm = 0x05c6;
constexpr unsigned kEmergencyDownloadProduct = 0x9008;
constexpr DiagnosticId kDiagnosticPorts[] = {
    {0x05c6, 0x9025, 0}, {0x05c6, 0x901d, 0}, {0x05c6, 0x9091, 0}, {0x05c6, 0x9039, 0}, {0x05c6, 0x900e, 0},
};
constexpr unsigned kMassStorageClass = 0x08;
constexpr unsigned kFastbootClass = 0xff, kFastbootSubclass = 0x42, kFastbootProtocol = 0x03;

unsigned HexAttribute(udev_device* dev, const char* name) {
  const char* value = dev ? udev_device_get_sysattr_value(dev, name) : nullptr;
  return value ? static_cast<unsigned>(std::strtoul(value, nullptr, 16)) : 0xFFFFFFFFu;
}

std::string Attribute(udev_device* dev, const char* name) {
  const char* value = dev ? udev_device_get_sysattr_value(dev, name) : nullptr;
  return value ? value : "";
}

std::string Text(const char* s) { return s ? s : ""; }

class Udev {
 public:
  Udev() : udev_(udev_new()) {}
  ~Udev() {
    if (udev_) udev_unref(udev_);
  }
  udev* get() const { return udev_; }

 private:
  udev* udev_;
};

class UdevBackend final : public Backend {
 public:
  Status List(std::vector<Phone>* phones) override {
    Udev udev;
    if (!udev.get()) return kFailed;
    Status status = Scan(udev.get(), "tty", nullptr, phones);
    if (status == kOk) status = Scan(udev.get(), "block", "disk", phones);
    if (status == kOk) status = Scan(udev.get(), "usb", "usb_interface", phones);
    return status;
  }

  Status Monitor() override {
    Udev udev;
    if (!udev.get()) return kFailed;
    udev_monitor* monitor = udev_monitor_new_from_netlink(udev.get(), "udev");
    if (!monitor) return kFailed;
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device");
    if (udev_monitor_enable_receiving(monitor) < 0) {
      udev_monitor_unref(monitor);
      return kAccessDenied;
    }
    std::vector<Phone> present;
    List(&present);  // binds the ports of what is attached already
    unsigned index = 0;
    pollfd p{udev_monitor_get_fd(monitor), POLLIN, 0};
    for (;;) {
      if (::poll(&p, 1, -1) <= 0) continue;
      udev_device* dev = udev_monitor_receive_device(monitor);
      if (!dev) continue;
      if (Text(udev_device_get_action(dev)) == "add" && HexAttribute(dev, "idVendor") == kQualcomm)
        IndexOfPort(Text(udev_device_get_sysname(dev)), &index);
      udev_device_unref(dev);
    }
  }

  Status Init() override { return InitPortTable(); }

 private:
  // kFailed when udev cannot be asked; the port table's failure when a
  // phone's index cannot be had.
  static Status Scan(udev* u, const char* subsystem, const char* devtype, std::vector<Phone>* phones) {
    udev_enumerate* e = udev_enumerate_new(u);
    if (!e) return kFailed;
    udev_enumerate_add_match_subsystem(e, subsystem);
    if (devtype) udev_enumerate_add_match_property(e, "DEVTYPE", devtype);
    if (udev_enumerate_scan_devices(e) < 0) {
      udev_enumerate_unref(e);
      return kFailed;
    }
    Status status = kOk;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
      udev_device* dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
      if (!dev) continue;
      Phone phone;
      if (Classify(u, dev, subsystem, &phone)) status = AddPhone(dev, std::move(phone), phones);
      udev_device_unref(dev);
      if (status != kOk) break;
    }
    udev_enumerate_unref(e);
    return status;
  }

  // The phone with the index of its USB port.
  static Status AddPhone(udev_device* dev, Phone phone, std::vector<Phone>* phones) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
    Status status = IndexOfPort(Text(udev_device_get_sysname(usb)), &phone.index);
    if (status == kOk) phones->push_back(std::move(phone));
    return status;
  }

  // Fills phone when dev is one of ours. The parents belong to dev.
  static bool Classify(udev* u, udev_device* dev, const std::string& subsystem, Phone* phone) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
    if (!usb) return false;
    unsigned vendor = HexAttribute(usb, "idVendor"), product = HexAttribute(usb, "idProduct");
    if (subsystem == "tty") {
      udev_device* intf = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_interface");
      unsigned number = HexAttribute(intf, "bInterfaceNumber");
      if (vendor == kQualcomm && product == kEmergencyDownloadProduct) {
        phone->type = kTypeEmergency;
      } else {
        for (const DiagnosticId& d : kDiagnosticPorts) {
          if (d.vendor == vendor && d.product == product && d.interface == number) phone->type = kTypeDiagnostic;
        }
      }
      if (phone->type == 0) return false;
      phone->id = Text(udev_device_get_devnode(dev));
    } else if (subsystem == "block") {
      // A running phone may offer its storage beside its other ports: that
      // disk is the phone's own, never a flash target.
      if (vendor != kQualcomm || !OnlyMassStorage(u, usb)) return false;
      phone->type = kTypeDisk;
      phone->id = Text(udev_device_get_devnode(dev));
      phone->volumes = Partitions(u, dev);
    } else {
      if (HexAttribute(dev, "bInterfaceClass") != kFastbootClass ||
          HexAttribute(dev, "bInterfaceSubClass") != kFastbootSubclass ||
          HexAttribute(dev, "bInterfaceProtocol") != kFastbootProtocol)
        return false;
      phone->type = kTypeFastboot;
      phone->id = Attribute(usb, "serial");
    }
    if (phone->id.empty()) return false;
    phone->adbName = Attribute(usb, "serial");
    return true;
  }

  // Whether the USB device has interfaces and all of them are mass storage,
  // as the mini kernel's disk has: no diagnostic, modem, adb or other port.
  static bool OnlyMassStorage(udev* u, udev_device* usb) {
    udev_enumerate* e = udev_enumerate_new(u);
    if (!e) return false;
    udev_enumerate_add_match_parent(e, usb);
    udev_enumerate_add_match_property(e, "DEVTYPE", "usb_interface");
    udev_enumerate_scan_devices(e);
    unsigned storage = 0, other = 0;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
      udev_device* intf = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
      if (!intf) {
        ++other;  // unknown: not a disk to write
        continue;
      }
      ++(HexAttribute(intf, "bInterfaceClass") == kMassStorageClass ? storage : other);
      udev_device_unref(intf);
    }
    udev_enumerate_unref(e);
    return storage > 0 && other == 0;
  }

  static std::vector<std::string> Partitions(udev* u, udev_device* disk) {
    std::vector<std::string> volumes;
    udev_enumerate* e = udev_enumerate_new(u);
    if (!e) return volumes;
    udev_enumerate_add_match_parent(e, disk);
    udev_enumerate_add_match_property(e, "DEVTYPE", "partition");
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
      udev_device* part = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
      if (!part) continue;
      if (const char* node = udev_device_get_devnode(part)) volumes.emplace_back(node);
      udev_device_unref(part);
    }
    udev_enumerate_unref(e);
    return volumes;
  }
};

}  // namespace

std::unique_ptr<Backend> MakeUdevBackend() { return std::make_unique<UdevBackend>(); }

}  // namespace devices
