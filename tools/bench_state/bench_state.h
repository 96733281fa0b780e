// The state a virtual bench publishes for the device helper: one file per
// phone, "phone-<index>.state" in the bench folder, of "key=value" lines:
//
//   index=3               location index (1..)
//   mode=emergency        emergency | disk | fastboot | diagnostic | gone
//   port=/dev/pts/7       serial port (emergency, diagnostic)
//   disk=/bench/disk-3.img  disk image file (disk)
//   serial=VB0003         USB serial number (fastboot)
//   address=127.0.0.1:5555  fastboot over TCP
//   heard=1               an emulated emergency phone was sent a byte (0 until then)
//
// Files are replaced atomically, so a reader sees the old or the new state.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct PhoneState {
  unsigned index = 0;
  std::string mode;
  std::string port;
  std::string disk;
  std::string serial;
  std::string address;
  bool heard = false;
};

std::string StateFilePath(const std::string& dir, unsigned index);
bool WritePhoneState(const std::string& dir, const PhoneState& state);
std::optional<PhoneState> ParsePhoneState(const std::string& text);
// Every phone of the bench, ordered by index; unreadable files are skipped.
std::vector<PhoneState> ReadBench(const std::string& dir);

}  // namespace bench
