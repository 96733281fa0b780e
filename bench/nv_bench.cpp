// NV backup and restore against a fair bound, in paired runs, over the bench's
// diagnostic phone on its pty.
//
// Program: BackupNvItems walking 8192 item ids, and RestoreNvItems writing
// 1000 items and reading each back (probe, ESN, unlock, offline and reset
// included).
// Bound: a minimal correct host that replays exactly the request sequence
// the program sent (recorded once beforehand through a port that passes
// everything through), waits for the line to fall quiet where the program
// drained it, reads each answer up to the length the program received and
// compares it with those bytes.
// The phone is seeded with the items the restore writes, so every run of
// either kind sees the same answers.
//
// The last line reads
//   nv backup-fair-ratio=<median> restore-fair-ratio=<median> spread=<min>-<max>,<min>-<max>
// (bound time / program time; 1.0 means no overhead at all).
// With --program-only DIR the program runs once each, backup then restore,
// against the diagnostic phone already running in the bench folder DIR
// (started as below, with or without the seed), and no bound runs: for a
// count of the program's instructions under valgrind, which cannot start the
// phone itself (it does not know the pidfd calls the process code makes).
// Its last line reads "nv program-only backup-s=<x> restore-s=<y>".
// Usage: nv_bench [--pairs K | --program-only DIR]
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/paired_runs.h"
#include "download/serial_port.h"
#include "nv/nv_service.h"
#include "nv/qcn_file.h"
#include "platform/timing.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "tools/bench_state/bench_state.h"

namespace {

constexpr unsigned kWalk = 8192;
constexpr unsigned kRestoreItems = 1000;
constexpr std::uint16_t kFirstItem = 2000;
constexpr unsigned kDrainQuietMs = 20;  // the program's quiet time before its first request

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

QcnContents Items() {
  QcnContents c;
  for (unsigned i = 0; i < kRestoreItems; ++i) {
    NvItem item;
    item.id = static_cast<std::uint16_t>(kFirstItem + i);
    for (size_t b = 0; b < item.data.size(); ++b) item.data[b] = static_cast<unsigned char>(7 + i + b);
    c.items.push_back(item);
  }
  return c;
}

std::string WaitForPort(const std::string& benchDir) {
  for (int i = 0; i < 1000; ++i) {
    for (const bench::PhoneState& s : bench::ReadBench(benchDir))
      if (s.mode == "diagnostic" && !s.port.empty() && std::filesystem::exists(s.port)) return s.port;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

// One request of the program's and the bytes it took as its answer.
struct Step {
  bool drainFirst = false;
  Bytes request;
  Bytes answer;
};

// Passes everything through to the port and keeps the conversation.
class RecordingPort final : public SerialPort {
 public:
  explicit RecordingPort(SerialPort& port) : port_(port) {}
  HRESULT ReadByte(unsigned char* byte, unsigned timeoutMs) override {
    HRESULT hr = port_.ReadByte(byte, timeoutMs);
    if (hr == S_OK) Took(byte, 1);
    if (hr == kReadTimeout) drainPending_ = true;  // the line fell quiet: a drain ended
    return hr;
  }
  HRESULT Write(const unsigned char* data, size_t size) override {
    steps_.push_back(Step{drainPending_, Bytes(data, data + size), {}});
    drainPending_ = false;
    return port_.Write(data, size);
  }
  size_t Buffered(const unsigned char** data) override { return port_.Buffered(data); }
  void Consume(size_t n) override {
    const unsigned char* held = nullptr;
    const size_t available = port_.Buffered(&held);
    Took(held, std::min(n, available));
    port_.Consume(n);
  }
  std::vector<Step> steps() const { return steps_; }

 private:
  void Took(const unsigned char* bytes, size_t n) {
    if (!steps_.empty()) steps_.back().answer.insert(steps_.back().answer.end(), bytes, bytes + n);
  }
  SerialPort& port_;
  std::vector<Step> steps_;
  bool drainPending_ = false;
};

int OpenRaw(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (fd < 0 || ::tcgetattr(fd, &tio) != 0) return fd;
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

// Reads and drops what comes until the line is quiet for the drain's time.
void Quiet(int fd) {
  unsigned char sink[4096];
  pollfd p{fd, POLLIN, 0};
  while (::poll(&p, 1, static_cast<int>(ScaledMilliseconds(kDrainQuietMs))) > 0 && ::read(fd, sink, sizeof sink) > 0) {
  }
}

bool Replay(int fd, const std::vector<Step>& steps) {
  Bytes got;
  for (const Step& step : steps) {
    if (step.drainFirst) Quiet(fd);
    if (::write(fd, step.request.data(), step.request.size()) != static_cast<ssize_t>(step.request.size())) return false;
    got.resize(step.answer.size());
    for (size_t have = 0; have < got.size();) {
      ssize_t n = ::read(fd, got.data() + have, got.size() - have);
      if (n <= 0) return false;
      have += static_cast<size_t>(n);
    }
    if (got != step.answer) return false;
  }
  return true;
}

class NvBench {
 public:
  // The phone runs in benchDir, by default a folder of work's.
  explicit NvBench(std::string work, std::string benchDir = "")
      : work_(std::move(work)), benchDir_(benchDir.empty() ? work_ + "/bench" : std::move(benchDir)) {}

  // The program's backup or restore on a freshly opened port; optionally
  // recording what it sent and received.
  std::optional<double> Program(bool restore, std::vector<Step>* record = nullptr) {
    std::unique_ptr<SerialPort> port;
    std::string path = WaitForPort(benchDir());
    if (path.empty() || FAILED(OpenSerialPort(path, &port))) return Failed("no bench phone");
    RecordingPort recording(*port);
    SerialPort& used = record ? static_cast<SerialPort&>(recording) : *port;
    auto start = Clock::now();
    HRESULT hr = restore ? RestoreNvItems(used, work_ + "/restore.qcn", "482615", true, nullptr)
                         : BackupNvItems(used, work_ + "/backup.qcn", "482615", BackupOptions(), nullptr);
    auto end = Clock::now();
    if (FAILED(hr)) return Failed(restore ? "the restore failed" : "the backup failed");
    if (record) *record = recording.steps();
    if (restore) AfterReset();
    return Seconds(end - start);
  }

  std::optional<double> Bound(bool restore, const std::vector<Step>& steps) {
    std::string path = WaitForPort(benchDir());
    int fd = path.empty() ? -1 : OpenRaw(path);
    if (fd < 0) return Failed("no bench phone");
    auto start = Clock::now();
    bool ok = Replay(fd, steps);
    auto end = Clock::now();
    ::close(fd);
    if (!ok) return Failed("the replay met other answers than the program's");
    if (restore) AfterReset();
    return Seconds(end - start);
  }

  const std::string& benchDir() const { return benchDir_; }

 private:
  static NvBackupOptions BackupOptions() {
    NvBackupOptions options;
    options.walkBound = kWalk;
    return options;
  }
  static std::optional<double> Failed(const char* why) {
    std::fprintf(stderr, "nv_bench: %s\n", why);
    return std::nullopt;
  }
  // The reset sends the phone's port away; it comes back after its delay.
  static void AfterReset() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

  std::string work_;
  std::string benchDir_;
};

}  // namespace

int main(int argc, char** argv) {
  int pairs = 7;
  std::string runningBench;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--pairs" && i + 1 < argc) pairs = std::max(1, std::atoi(argv[++i]));
    else if (std::string(argv[i]) == "--program-only" && i + 1 < argc) runningBench = argv[++i];
    else return std::fprintf(stderr, "usage: nv_bench [--pairs K | --program-only DIR]\n"), 2;
  }
  std::string work = (std::filesystem::temp_directory_path() / "vantor-nv-bench-XXXXXX").string();
  if (!::mkdtemp(work.data())) return 1;
  NvBench bench(work, runningBench);
  std::filesystem::create_directories(bench.benchDir());
  if (FAILED(WriteQcnFile(work + "/seed.qcn", Items())) || FAILED(WriteQcnFile(work + "/restore.qcn", Items()))) return 1;
  int status = 1;
  if (!runningBench.empty()) {
    auto backup = bench.Program(false);
    auto restore = backup ? bench.Program(true) : std::nullopt;
    if (backup && restore) {
      std::printf("nv program-only backup-s=%.3f restore-s=%.3f\n", *backup, *restore);
      status = 0;
    }
  } else {
    CAutoExecutor sim(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(bench.benchDir()) +
                      " --phones 0 --diagnostic-phones 1 --diag-reset-delay 50 --nv-seed " + QuoteArgument(work + "/seed.qcn"));
    std::vector<Step> backupSteps, restoreSteps;
    if (bench.Program(false, &backupSteps) && bench.Program(true, &restoreSteps)) {
      auto backup = RunPairs("backup", pairs, [&] { return bench.Program(false); },
                             [&] { return bench.Bound(false, backupSteps); });
      auto restore = backup ? RunPairs("restore", pairs, [&] { return bench.Program(true); },
                                       [&] { return bench.Bound(true, restoreSteps); })
                            : std::nullopt;
      if (backup && restore) {
        std::printf("backup: %zu requests, program %.3f s (median); restore: %zu requests, program %.3f s (median)\n",
                    backupSteps.size(), backup->MedianProgramSeconds(), restoreSteps.size(),
                    restore->MedianProgramSeconds());
        std::printf("nv backup-fair-ratio=%.3f restore-fair-ratio=%.3f spread=%.3f-%.3f,%.3f-%.3f\n", backup->Median(),
                    restore->Median(), backup->Min(), backup->Max(), restore->Min(), restore->Max());
        status = 0;
      }
    }
  }
  std::filesystem::remove_all(work);
  return status;
}
