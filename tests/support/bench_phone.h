// An emergency-download phone of the virtual bench for the tests: it comes
// back as a 1 MiB disk after diskDelayMs.
#pragma once
#include <string>

#include "tools/phonesim/pty_phone.h"

inline phonesim::BenchPhoneOptions BenchPhoneAt(const std::string& benchDir, unsigned index, unsigned diskDelayMs = 50) {
  phonesim::BenchPhoneOptions options;
  options.benchDir = benchDir;
  options.index = index;
  options.diskReturnDelayMs = diskDelayMs;
  options.diskBytes = 1 << 20;
  return options;
}
