// Refresh cost as the main window pays it: the helper's list, then one index
// question per phone, on a virtual bench of 16 phones. The last line reads
// "refresh-16 ms=<x>" (the median of several refreshes).
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "jobs/discovery.h"
#include "tools/bench_state/bench_state.h"

int main() {
  std::string dir = (std::filesystem::temp_directory_path() / ("vantor-refresh-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(dir);
  for (unsigned i = 1; i <= 16; ++i) bench::WritePhoneState(dir, {i, "emergency", "/dev/pts/" + std::to_string(100 + i), "", "", ""});
  ::setenv("VANTOR_BENCH_DIR", dir.c_str(), 1);
  ::setenv("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN, 1);

  constexpr int kRounds = 9;
  std::vector<double> ms;
  for (int round = 0; round < kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    std::vector<std::string> devices;
    HRESULT hr = GetDeviceList(&devices);
    unsigned indexes = 0;
    for (const std::string& id : devices) indexes += GetDeviceIndex(id) != 0;
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (FAILED(hr) || devices.size() != 16 || indexes != 16) {
      std::fprintf(stderr, "refresh failed: 0x%08x, %zu phones, %u indexes\n", static_cast<unsigned>(hr),
                   devices.size(), indexes);
      return 1;
    }
  }
  std::filesystem::remove_all(dir);
  std::sort(ms.begin(), ms.end());
  std::printf("refreshes %d: fastest %.1f ms, slowest %.1f ms\n", kRounds, ms.front(), ms.back());
  std::printf("refresh-16 ms=%.1f\n", ms[kRounds / 2]);
  return 0;
}
