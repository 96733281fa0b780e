// The virtual bench's phones, from the state it publishes.
#include <unistd.h>

#include "tools/bench_state/bench_state.h"
#include "tools/devices/backend.h"

namespace devices {
namespace {

class BenchBackend final : public Backend {
 public:
  explicit BenchBackend(std::string dir) : dir_(std::move(dir)) {}

  Status List(std::vector<Phone>* phones) override {
    if (::access(dir_.c_str(), R_OK | X_OK) != 0) return kFailed;
    for (const bench::PhoneState& s : bench::ReadBench(dir_)) {
      Phone p;
      p.index = s.index;
      p.adbName = s.serial;
      if (s.mode == "emergency" && !s.port.empty()) {
        p.id = s.port;
        p.type = kTypeEmergency;
      } else if (s.mode == "diagnostic" && !s.port.empty()) {
        p.id = s.port;
        p.type = kTypeDiagnostic;
      } else if (s.mode == "disk" && !s.disk.empty()) {
        p.id = s.disk;
        p.type = kTypeDisk;
      } else if (s.mode == "fastboot" && !s.serial.empty()) {
        // fastboot over TCP is addressed as tcp:HOST:PORT.
        p.id = s.address.empty() ? s.serial : "tcp:" + s.address;
        p.type = kTypeFastboot;
      } else {
        continue;  // gone, or between modes
      }
      phones->push_back(std::move(p));
    }
    return kOk;
  }

  Status Monitor() override {
    for (;;) ::pause();  // the bench announces itself; nothing to watch
  }

  Status Init() override { return kOk; }

 private:
  std::string dir_;
};

}  // namespace

std::unique_ptr<Backend> MakeBenchBackend(const std::string& dir) { return std::make_unique<BenchBackend>(dir); }

}  // namespace devices
