#include "tools/phonesim/diagnostic_phone.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/bench_state/bench_state.h"

namespace phonesim {

DiagnosticPhone::DiagnosticPhone(std::string benchDir, unsigned index, std::string serial)
    : benchDir_(std::move(benchDir)), index_(index), serial_(std::move(serial)) {}

DiagnosticPhone::~DiagnosticPhone() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
}

bool DiagnosticPhone::Start(std::string* error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
    if (error) *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  portPath_ = name;
  slave_ = ::open(portPath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (!benchDir_.empty()) {
    bench::PhoneState s;
    s.index = index_;
    s.mode = "diagnostic";
    s.port = portPath_;
    s.serial = serial_;
    bench::WritePhoneState(benchDir_, s);
  }
  return true;
}

}  // namespace phonesim
