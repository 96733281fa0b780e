// The disk image writer (DownloadToDiskDrive, in a child process of its own,
// without a status sink) against dd writing the same 1 GiB image to the same
// target (bs=1M, conv=notrunc,fsync): a file, and a loop device over it when
// one can be attached; best of two runs each. Then the writer's peak resident
// memory writing a 2 GiB image. The last line reads
// "disk MB/s=<x> dd MB/s=<y> ratio=<x/y> peak-rss-MiB=<z>" for the file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download/disk_writer.h"
#include "process/command_line.h"
#include "process/executor.h"

extern char** environ;

namespace {

struct Outcome {
  double seconds = 0;
  long peakKiB = 0;
  int status = -1;
};

Outcome Wait(pid_t pid, std::chrono::steady_clock::time_point start) {
  Outcome out;
  rusage usage{};
  int status = 0;
  ::wait4(pid, &status, 0, &usage);
  out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  out.peakKiB = usage.ru_maxrss;
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// One writer run in a child, so its memory is its own.
Outcome RunWriter(const std::string& target, const std::string& dir) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    HRESULT hr = DownloadToDiskDrive(target, dir + "/raw.xml", dir + "/patch.xml", dir, nullptr);
    ::_exit(SUCCEEDED(hr) ? 0 : 1);
  }
  return Wait(pid, start);
}

// Runs a program to its end with its output dropped; its wall time and peak memory.
Outcome Run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return Outcome{};
  return Wait(pid, start);
}

// The best of two runs of the writer and of dd onto target.
bool Compare(const std::string& target, const std::string& dir, double* writer, double* dd) {
  std::vector<std::string> ddArgs = {"dd", "if=" + dir + "/system.img", "of=" + target, "bs=1M", "conv=notrunc,fsync"};
  *writer = *dd = 1e9;
  for (int round = 0; round < 2; ++round) {
    Outcome w = RunWriter(target, dir), d = Run(ddArgs);
    if (w.status != 0 || d.status != 0) {
      std::fprintf(stderr, "bench: writer exit %d, dd exit %d on %s\n", w.status, d.status, target.c_str());
      return false;
    }
    *writer = std::min(*writer, w.seconds);
    *dd = std::min(*dd, d.seconds);
  }
  return true;
}

// A loop device over the file, or "" where none can be attached.
std::string AttachLoop(const std::string& file) {
  std::string device;
  if (ExecuteCommand("losetup --show -f " + QuoteArgument(file), &device) != 0) return "";
  while (!device.empty() && device.back() == '\n') device.pop_back();
  return device.rfind("/dev/", 0) == 0 ? device : "";
}

void MakeImage(const std::string& path, size_t mib) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> block(1 << 20);
  for (size_t m = 0; m < mib; ++m) {
    for (size_t i = 0; i < block.size(); i += 8) std::memcpy(&block[i], &m, sizeof m), block[i + 7] = static_cast<char>(i);
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

}  // namespace

int main() {
  std::string dir = (std::filesystem::temp_directory_path() / ("vantor-disk-bench-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(dir);
  MakeImage(dir + "/system.img", 1024);
  std::ofstream(dir + "/raw.xml") << "<data><program start_sector=\"0\" filename=\"system.img\"/></data>\n";
  std::ofstream(dir + "/patch.xml") << "<data/>\n";
  std::string target = dir + "/target.img";
  std::ofstream(target).close();
  std::filesystem::resize_file(target, 1ull << 30);

  double best = 0, bestDd = 0;
  if (!Compare(target, dir, &best, &bestDd)) return 1;
  // The loop device has no volumes to take away: the helper answers nothing.
  ::setenv("VANTOR_DEVICE_HELPER", "/bin/true", 1);
  std::string loop = AttachLoop(target);
  if (!loop.empty()) {
    double loopWriter = 0, loopDd = 0;
    bool ok = Compare(loop, dir, &loopWriter, &loopDd);
    Run({"losetup", "-d", loop});
    if (!ok) return 1;
    std::printf("1 GiB to a loop device: writer %.2f s, dd %.2f s, ratio %.2f\n", loopWriter, loopDd, loopDd / loopWriter);
  } else {
    std::printf("no loop device could be attached: the file target only\n");
  }

  std::filesystem::remove(dir + "/system.img");
  MakeImage(dir + "/system.img", 2048);
  std::filesystem::resize_file(target, 2ull << 30);
  Outcome big = RunWriter(target, dir);
  std::filesystem::remove_all(dir);
  if (big.status != 0) {
    std::fprintf(stderr, "bench: the 2 GiB run failed with exit %d\n", big.status);
    return 1;
  }
  double x = 1073.741824 / best, y = 1073.741824 / bestDd;
  std::printf("1 GiB to a file: writer %.2f s, dd %.2f s; 2 GiB run %.2f s\n", best, bestDd, big.seconds);
  std::printf("disk MB/s=%.1f dd MB/s=%.1f ratio=%.2f peak-rss-MiB=%.1f\n", x, y, x / y, big.peakKiB / 1024.0);
  return 0;
}
