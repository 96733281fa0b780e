// What the device helper knows about the attached phones, from udev or from
// the virtual bench.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace devices {

// Exit statuses of the helper.
enum Status { kOk = 0, kFailed = 1, kBadArguments = 2, kAccessDenied = 3, kNoSuchDevice = 4 };

enum : std::uint32_t {
  kTypeEmergency = 0x1000001,
  kTypeDisk = 0x1000002,
  kTypeFastboot = 0x1000003,
  kTypeDiagnostic = 0x1000004,
  kNameDeviceId = 0x1000000,
  kNameAdb = 0x2000000,
};

struct Phone {
  std::string id;          // device identifier: port or disk node, or fastboot serial
  std::uint32_t type = 0;  // type code
  unsigned index = 0;      // location index, never 0 for a listed phone
  std::string adbName;     // what adb calls it ("" when unknown)
  std::vector<std::string> volumes;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // The phones attached now; a failure status when they cannot be listed.
  virtual Status List(std::vector<Phone>* phones) = 0;
  // Watches for arrivals until killed.
  virtual Status Monitor() = 0;
  // Forgets the table of location indexes.
  virtual Status Init() = 0;
};

std::unique_ptr<Backend> MakeBenchBackend(const std::string& dir);
std::unique_ptr<Backend> MakeUdevBackend();

}  // namespace devices
