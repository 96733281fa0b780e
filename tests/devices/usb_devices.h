// USB devices described for umockdev: a phone at a hub port with its
// interfaces, the ttys and disks below them.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

inline constexpr char kUsbRoot[] = "/devices/pci0000:00/0000:00:14.0/usb1";

// One interface of a USB device: its number and class triple, in hex.
struct Interface {
  const char* number;
  const char* cls;
  const char* subclass;
  const char* protocol;
};

inline std::string InterfacePath(const std::string& port, const char* number) {
  return std::string(kUsbRoot) + "/" + port + "/" + port + ":1." + std::to_string(std::stoi(number, nullptr, 16));
}

// The device's descriptors as the kernel shows them, in hex: the device, one
// configuration, and each interface with two bulk endpoints.
inline std::string Descriptors(const char* vendor, const char* product, const std::vector<Interface>& interfaces) {
  auto le16 = [](const char* hex) { return std::string(hex).substr(2, 2) + std::string(hex).substr(0, 2); };
  auto byte = [](unsigned v) {
    char text[3];
    std::snprintf(text, sizeof text, "%02x", v & 0xff);
    return std::string(text);
  };
  unsigned total = 9 + static_cast<unsigned>(interfaces.size()) * (9 + 7 + 7);
  std::string hex = "1201000200000040" + le16(vendor) + le16(product) + "000101020301";
  hex += "0902" + byte(total) + byte(total >> 8) + byte(static_cast<unsigned>(interfaces.size())) + "010080fa";
  for (const Interface& i : interfaces)
    hex += std::string("0904") + i.number + "0002" + i.cls + i.subclass + i.protocol + "00" + "07058102000200" +
           "07050202000200";
  return hex;
}

// A USB device at a hub port with its interfaces.
inline std::string UsbDevice(const std::string& port, const char* vendor, const char* product, const char* serial,
                             const std::vector<Interface>& interfaces) {
  std::string text = "P: " + std::string(kUsbRoot) + "/" + port + "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb" +
                     "\nA: idVendor=" + vendor + "\nA: idProduct=" + product + "\nA: serial=" + serial +
                     "\nH: descriptors=" + Descriptors(vendor, product, interfaces) + "\n\n";
  for (const Interface& i : interfaces) {
    text += "P: " + InterfacePath(port, i.number) + "\nE: DEVTYPE=usb_interface\nE: SUBSYSTEM=usb" +
            "\nA: bInterfaceNumber=" + i.number + "\nA: bInterfaceClass=" + i.cls +
            "\nA: bInterfaceSubClass=" + i.subclass + "\nA: bInterfaceProtocol=" + i.protocol + "\n\n";
  }
  return text;
}

// The same with one interface, number 00.
inline std::string UsbDevice(const std::string& port, const char* vendor, const char* product, const char* serial,
                             const char* interfaceClass, const char* subclass, const char* protocol) {
  return UsbDevice(port, vendor, product, serial, {{"00", interfaceClass, subclass, protocol}});
}

inline std::string TtyPath(const std::string& port, const std::string& name, const char* interface = "00") {
  return InterfacePath(port, interface) + "/" + name + "/tty/" + name;
}

inline std::string DiskPath(const std::string& port, const std::string& name, const char* interface = "00") {
  return InterfacePath(port, interface) + "/host6/target6:0:0/6:0:0:0/block/" + name;
}

inline std::string Tty(const std::string& port, const std::string& name, const char* interface = "00") {
  return "P: " + TtyPath(port, name, interface) + "\nN: " + name + "\nE: DEVNAME=/dev/" + name +
         "\nE: SUBSYSTEM=tty\n\n";
}

// The disk with its partitions, name1 ... nameN, below it.
inline std::string Disk(const std::string& port, const std::string& name, int partitions, const char* interface = "00") {
  std::string disk = DiskPath(port, name, interface);
  std::string text = "P: " + disk + "\nN: " + name + "\nE: DEVNAME=/dev/" + name + "\nE: DEVTYPE=disk\nE: SUBSYSTEM=block\n\n";
  for (int p = 1; p <= partitions; ++p) {
    std::string part = name + std::to_string(p);
    text += "P: " + disk + "/" + part + "\nN: " + part + "\nE: DEVNAME=/dev/" + part +
            "\nE: DEVTYPE=partition\nE: SUBSYSTEM=block\n\n";
  }
  return text;
}
