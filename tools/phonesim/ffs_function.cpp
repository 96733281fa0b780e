#include "tools/phonesim/ffs_function.h"

#include <endian.h>
#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

namespace phonesim {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Le16(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Le32(Bytes& b, std::uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PatchLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// An interface descriptor and its two bulk endpoints (IN first: ep1, then
// OUT: ep2) with the given largest packet.
void AppendInterface(Bytes& b, InterfaceClass kind, unsigned packet) {
  const std::uint8_t intf[] = {9, 4, 0, 0, 2, kind.cls, kind.subclass, kind.protocol, 1};
  b.insert(b.end(), intf, intf + sizeof intf);
  for (std::uint8_t address : {std::uint8_t{0x81}, std::uint8_t{0x02}}) {
    b.insert(b.end(), {7, 5, address, 2});
    Le16(b, packet);
    b.push_back(0);
  }
}

Bytes Descriptors(InterfaceClass kind) {
  Bytes b;
  Le32(b, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  Le32(b, 0);  // length, patched below
  Le32(b, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
  Le32(b, 3);  // full speed: interface and two endpoints
  Le32(b, 3);  // high speed
  AppendInterface(b, kind, 64);
  AppendInterface(b, kind, FfsFunction::kPacket);
  PatchLe32(b, 4, static_cast<std::uint32_t>(b.size()));
  return b;
}

Bytes Strings() {
  const char name[] = "Emulated phone port";
  Bytes b;
  Le32(b, FUNCTIONFS_STRINGS_MAGIC);
  Le32(b, 0);
  Le32(b, 1);  // strings
  Le32(b, 1);  // languages
  Le16(b, 0x0409);
  b.insert(b.end(), name, name + sizeof name);
  PatchLe32(b, 4, static_cast<std::uint32_t>(b.size()));
  return b;
}

bool WriteAll(int fd, const Bytes& b) { return ::write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }

}  // namespace

FfsFunction::~FfsFunction() { Close(); }

bool FfsFunction::Open(const std::string& mountPoint, InterfaceClass kind, std::string* error) {
  ep0_ = ::open((mountPoint + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
  if (ep0_ < 0 || !WriteAll(ep0_, Descriptors(kind)) || !WriteAll(ep0_, Strings())) {
    if (error) *error = "cannot describe the FunctionFS interface at " + mountPoint + ": " + std::strerror(errno);
    return false;
  }
  in_ = ::open((mountPoint + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
  out_ = ::open((mountPoint + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
  if (in_ < 0 || out_ < 0) {
    if (error) *error = "cannot open the endpoints at " + mountPoint + ": " + std::strerror(errno);
    return false;
  }
  stop_ = false;
  control_ = std::thread(&FfsFunction::ServeControl, this);
  return true;
}

void FfsFunction::Close() {
  stop_ = true;
  if (control_.joinable()) control_.join();
  for (int* fd : {&in_, &out_, &ep0_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

// A request with a data stage to the host is refused (a read on ep0
// stalls it); one from the host, or none, is taken (a read acknowledges it).
void FfsFunction::ServeControl() {
  usb_functionfs_event events[4];
  std::uint8_t data[4096];
  while (!stop_) {
    pollfd p{ep0_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    ssize_t n = ::read(ep0_, events, sizeof events);
    if (n <= 0) continue;
    for (std::size_t k = 0; k < static_cast<std::size_t>(n) / sizeof events[0]; ++k) {
      if (events[k].type != FUNCTIONFS_SETUP) continue;
      const usb_ctrlrequest& setup = events[k].u.setup;
      std::size_t length = le16toh(setup.wLength);
      if (setup.bRequestType & USB_DIR_IN)
        (void)::read(ep0_, data, 0);
      else
        (void)::read(ep0_, data, std::min(length, sizeof data));
    }
  }
}

}  // namespace phonesim
