#include "tools/phonesim/usb_gadget.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace phonesim {
namespace {

constexpr const char* kGadgets = "/sys/kernel/config/usb_gadget";
constexpr const char* kMounts = "/run/vantor-phonesim";

std::string Hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", v);
  return text;
}

bool MakeDir(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  if (error) *error = "cannot make " + path + ": " + std::strerror(errno);
  return false;
}

}  // namespace

UsbGadget::UsbGadget(std::string name, std::string udc)
    : name_(std::move(name)), udc_(std::move(udc)), dir_(std::string(kGadgets) + "/" + name_) {}

UsbGadget::~UsbGadget() {
  Detach();
  DropFunction();
  if (!created_) return;
  ::rmdir((dir_ + "/configs/c.1/strings/0x409").c_str());
  ::rmdir((dir_ + "/configs/c.1").c_str());
  ::rmdir((dir_ + "/strings/0x409").c_str());
  ::rmdir(dir_.c_str());
}

bool UsbGadget::Write(const std::string& relative, const std::string& value, std::string* error) {
  std::string path = dir_ + "/" + relative;
  std::ofstream out(path);
  out << value;
  out.flush();
  if (out) return true;
  if (error) *error = "cannot write " + value + " to " + path;
  return false;
}

bool UsbGadget::Create(std::uint16_t vendor, std::uint16_t product, const std::string& serial, std::string* error) {
  if (!MakeDir(dir_, error)) return false;
  created_ = true;
  return Write("idVendor", Hex4(vendor), error) && Write("idProduct", Hex4(product), error) &&
         Write("bcdUSB", "0x0200", error) && MakeDir(dir_ + "/strings/0x409", error) &&
         Write("strings/0x409/serialnumber", serial, error) &&
         Write("strings/0x409/manufacturer", "Vantor bench", error) &&
         Write("strings/0x409/product", "Emulated phone", error) && MakeDir(dir_ + "/configs/c.1", error) &&
         MakeDir(dir_ + "/configs/c.1/strings/0x409", error) &&
         Write("configs/c.1/strings/0x409/configuration", "phone", error) &&
         Write("configs/c.1/MaxPower", "100", error);
}

bool UsbGadget::SetProduct(std::uint16_t product, std::string* error) {
  return Write("idProduct", Hex4(product), error);
}

bool UsbGadget::UseFunctionFs(std::string* mountPoint, std::string* error) {
  function_ = "functions/ffs." + name_;
  if (!MakeDir(dir_ + "/" + function_, error)) return false;
  if (::symlink((dir_ + "/" + function_).c_str(), (dir_ + "/configs/c.1/ffs." + name_).c_str()) != 0 &&
      errno != EEXIST) {
    if (error) *error = std::string("cannot link the FunctionFS function: ") + std::strerror(errno);
    return false;
  }
  if (!MakeDir(kMounts, error)) return false;
  ffsMount_ = std::string(kMounts) + "/" + name_;
  if (!MakeDir(ffsMount_, error)) return false;
  if (::mount(name_.c_str(), ffsMount_.c_str(), "functionfs", 0, nullptr) != 0) {
    if (error) *error = "cannot mount FunctionFS at " + ffsMount_ + ": " + std::strerror(errno);
    return false;
  }
  *mountPoint = ffsMount_;
  return true;
}

bool UsbGadget::UseMassStorage(const std::string& file, std::string* error) {
  function_ = "functions/mass_storage." + name_;
  if (!MakeDir(dir_ + "/" + function_, error)) return false;
  if (!Write(function_ + "/lun.0/removable", "0", error) || !Write(function_ + "/lun.0/file", file, error))
    return false;
  if (::symlink((dir_ + "/" + function_).c_str(), (dir_ + "/configs/c.1/mass_storage." + name_).c_str()) != 0 &&
      errno != EEXIST) {
    if (error) *error = std::string("cannot link the mass-storage function: ") + std::strerror(errno);
    return false;
  }
  return true;
}

void UsbGadget::DropFunction() {
  if (function_.empty()) return;
  std::string link = dir_ + "/configs/c.1/" + function_.substr(std::strlen("functions/"));
  ::unlink(link.c_str());
  if (!ffsMount_.empty()) {
    ::umount2(ffsMount_.c_str(), MNT_DETACH);
    ::rmdir(ffsMount_.c_str());
    ffsMount_.clear();
  }
  ::rmdir((dir_ + "/" + function_).c_str());
  function_.clear();
}

bool UsbGadget::Attach(std::string* error) {
  if (!Write("UDC", udc_, error)) return false;
  attached_ = true;
  return true;
}

void UsbGadget::Detach() {
  if (!attached_) return;
  std::ofstream(dir_ + "/UDC") << "\n";
  attached_ = false;
}

}  // namespace phonesim
