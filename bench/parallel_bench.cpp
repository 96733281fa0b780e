// Eight phones should take no longer than one: the whole emergency road
// (programmer, a 2 MiB boot image, reset, USB disk, a 24 MiB package) through
// StartFlash, with each bench phone's port held to 8 MB/s, for one phone and
// for eight at once. The last line reads "bench-1 s=<a> bench-8 s=<b> ratio=<b/a>".
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "download/server_objects.h"
#include "jobs/dispatch.h"
#include "jobs/job_settings.h"
#include "platform/com/class_registry.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "tools/phonesim/pty_phone.h"

namespace {

constexpr double kRateMBps = 8;

// Seconds until every phone of a bench of `count` is flashed; < 0 on failure.
double Road(const std::string& root, const std::string& package, int count) {
  std::string dir = root + "/bench-" + std::to_string(count);
  std::filesystem::create_directories(dir);
  ::setenv("VANTOR_BENCH_DIR", dir.c_str(), 1);
  std::vector<std::unique_ptr<phonesim::PtyEmergencyPhone>> phones;
  for (int i = 0; i < count; ++i) {
    phonesim::BenchPhoneOptions o;
    o.benchDir = dir;
    o.index = static_cast<unsigned>(i + 1);
    o.rateMBps = kRateMBps;
    o.diskReturnDelayMs = 300;
    o.diskBytes = 64ull << 20;
    phones.push_back(std::make_unique<phonesim::PtyEmergencyPhone>(o));
    std::string error;
    if (!phones.back()->Start(&error)) return -1;
  }
  JobSettings settings = BuildJobSettings(package, FileSettings());
  auto start = std::chrono::steady_clock::now();
  std::vector<ComPtr<IDeviceReport>> jobs(phones.size());
  for (size_t i = 0; i < phones.size(); ++i) {
    std::string id = phones[i]->portPath();
    StartFlash(&id, &settings, jobs[i].ReleaseAndGetAddressOf());
  }
  for (bool all = false; !all; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    all = true;
    for (auto& job : jobs) all = all && job->IsCompleted();
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (auto& job : jobs) {
    if (job->GetResult() != S_OK) {
      std::fprintf(stderr, "bench: a phone failed with 0x%08x\n", static_cast<unsigned>(job->GetResult()));
      return -1;
    }
  }
  return seconds;
}

}  // namespace

int main() {
  std::string root = (std::filesystem::temp_directory_path() / ("vantor-parallel-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(root);
  std::string package = root + "/package";
  if (ExecuteCommand(QuoteArgument(VANTOR_SOURCE_DIR "/scripts/make-sample-package") + " " + QuoteArgument(package)) != 0)
    return 1;
  ::setenv("VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN, 1);
  std::vector<DWORD> cookies;
  RegisterServerObjects(&cookies);
  CoResumeClassObjects();
  double one = Road(root, package, 1), eight = Road(root, package, 8);
  RevokeServerObjects(&cookies);
  std::filesystem::remove_all(root);
  if (one <= 0 || eight <= 0) return 1;
  std::printf("one phone %.2f s, eight phones %.2f s (ports at %.0f MB/s)\n", one, eight, kRateMBps);
  std::printf("bench-1 s=%.2f bench-8 s=%.2f ratio=%.2f\n", one, eight, eight / one);
  return 0;
}
