// A USB device of the gadget framework, made through configfs and bound to
// one controller (a USB port of the bench): its ids and serial number, one
// configuration holding one function at a time (a FunctionFS interface or
// the mass-storage function on a file). Attach and Detach plug and unplug it;
// swapping the function between a Detach and an Attach makes the phone come
// back at the same port as another device.
#pragma once
#include <cstdint>
#include <string>

namespace phonesim {

class UsbGadget {
 public:
  // name: the configfs folder (unique per phone); udc: the controller.
  UsbGadget(std::string name, std::string udc);
  ~UsbGadget();  // unplugs and removes everything it made
  UsbGadget(const UsbGadget&) = delete;
  UsbGadget& operator=(const UsbGadget&) = delete;

  bool Create(std::uint16_t vendor, std::uint16_t product, const std::string& serial, std::string* error);
  bool SetProduct(std::uint16_t product, std::string* error);
  // A FunctionFS function; its file system is mounted at the returned folder.
  bool UseFunctionFs(std::string* mountPoint, std::string* error);
  // The mass-storage function serving the file as its one logical unit.
  bool UseMassStorage(const std::string& file, std::string* error);
  // Unlinks and removes the current function (after Detach).
  void DropFunction();
  bool Attach(std::string* error);
  void Detach();
  const std::string& udc() const { return udc_; }

 private:
  bool Write(const std::string& relative, const std::string& value, std::string* error);

  std::string name_, udc_, dir_;
  std::string function_;     // "functions/ffs.NAME" or "functions/mass_storage.NAME", "" when none
  std::string ffsMount_;
  bool created_ = false, attached_ = false;
};


}  // namespace phonesim
