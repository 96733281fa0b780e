// NV backup and restore against the bench's diagnostic phone over its pty,
// each against a bare exchange of the same packets on the same pty (frames
// built once beforehand, each answer read up to its closing flag, nothing
// decoded): a backup walks 8192 item ids, a restore writes 1000 items and
// reads each back. The phone is seeded with the 1000 items first. Three
// rounds; the fastest time of each kind counts.
// The last line reads "nv backup-ratio=<x> restore-ratio=<y>" (bare time /
// the service's time; 1.0 means no overhead at all).
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/serial_port.h"
#include "nv/diag_packets.h"
#include "nv/nv_service.h"
#include "nv/qcn_file.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "tools/bench_state/bench_state.h"

namespace {

constexpr unsigned kWalk = 8192;
constexpr unsigned kRestoreItems = 1000;
constexpr std::uint16_t kFirstItem = 2000;
constexpr int kRounds = 3;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

QcnContents Items(unsigned char salt) {
  QcnContents c;
  for (unsigned i = 0; i < kRestoreItems; ++i) {
    NvItem item;
    item.id = static_cast<std::uint16_t>(kFirstItem + i);
    for (size_t b = 0; b < item.data.size(); ++b) item.data[b] = static_cast<unsigned char>(salt + i + b);
    c.items.push_back(item);
  }
  return c;
}

std::string PortOf(const std::string& benchDir) {
  for (const bench::PhoneState& s : bench::ReadBench(benchDir))
    if (s.mode == "diagnostic" && !s.port.empty()) return s.port;
  return "";
}

std::string WaitForPort(const std::string& benchDir) {
  for (int i = 0; i < 1000; ++i) {
    std::string port = PortOf(benchDir);
    if (!port.empty() && std::filesystem::exists(port)) return port;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

// Sends each frame and reads the answer up to its closing flag.
bool Bare(SerialPort& port, const std::vector<DiagPacket>& frames) {
  for (const DiagPacket& frame : frames) {
    if (FAILED(port.Write(frame.data(), frame.size()))) return false;
    size_t count = 0;
    for (;;) {
      unsigned char byte;
      const unsigned char* held = nullptr;
      if (port.Buffered(&held) > 0) {
        byte = *held;
        port.Consume(1);
      } else if (port.ReadByte(&byte, 3000) != S_OK) {
        return false;
      }
      if (byte == 0x7E && count > 0) break;
      if (byte != 0x7E) ++count;
    }
  }
  return true;
}

}  // namespace

int main() {
  std::string work = (std::filesystem::temp_directory_path() / "vantor-nv-bench-XXXXXX").string();
  if (!::mkdtemp(work.data())) return 1;
  std::string benchDir = work + "/bench";
  std::filesystem::create_directories(benchDir);
  if (FAILED(WriteQcnFile(work + "/seed.qcn", Items(1))) || FAILED(WriteQcnFile(work + "/restore.qcn", Items(7)))) return 1;
  int status = 1;
  {
    CAutoExecutor sim(QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(benchDir) +
                      " --phones 0 --diagnostic-phones 1 --diag-reset-delay 50 --nv-seed " + QuoteArgument(work + "/seed.qcn") +
                      "");
    std::string portPath = WaitForPort(benchDir);
    std::vector<DiagPacket> walk, restore;
    for (unsigned id = 0; id < kWalk; ++id) walk.push_back(EncodeDiagFrame(NvReadRequest(static_cast<std::uint16_t>(id), 0)));
    for (const NvItem& item : Items(7).items) {
      restore.push_back(EncodeDiagFrame(NvWriteRequest(item.id, item.data)));
      restore.push_back(EncodeDiagFrame(NvReadRequest(item.id, 0)));
    }
    // Rounds alternate the bare exchange and the service; the fastest of
    // each counts, so a burst of load on a shared machine spoils no figure.
    double bareWalk = 1e9, bareRestore = 1e9, backup = 1e9, restored = 1e9;
    for (int round = 0; round < kRounds; ++round) {
      std::unique_ptr<SerialPort> port;
      portPath = WaitForPort(benchDir);
      if (portPath.empty() || FAILED(OpenSerialPort(portPath, &port))) return std::fprintf(stderr, "no bench phone\n"), 1;
      auto t0 = std::chrono::steady_clock::now();
      bool ok = Bare(*port, walk);
      auto t1 = std::chrono::steady_clock::now();
      NvBackupOptions options;
      options.walkBound = kWalk;
      HRESULT hr = BackupNvItems(*port, work + "/backup.qcn", "482615", options, nullptr);
      auto t2 = std::chrono::steady_clock::now();
      ok = ok && SUCCEEDED(hr) && Bare(*port, restore);
      auto t3 = std::chrono::steady_clock::now();
      hr = ok ? RestoreNvItems(*port, work + "/restore.qcn", "482615", true, nullptr) : E_FAIL;
      auto t4 = std::chrono::steady_clock::now();
      if (FAILED(hr)) return std::fprintf(stderr, "exchange failed: 0x%08x\n", static_cast<unsigned>(hr)), 1;
      bareWalk = std::min(bareWalk, Seconds(t1 - t0));
      backup = std::min(backup, Seconds(t2 - t1));
      bareRestore = std::min(bareRestore, Seconds(t3 - t2));
      restored = std::min(restored, Seconds(t4 - t3));
      port.reset();
      // The restore reset the phone: its port goes and comes back.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::printf("bare walk of %u ids: %.3f s, backup: %.3f s\n", kWalk, bareWalk, backup);
    std::printf("bare write and read-back of %u items: %.3f s, restore: %.3f s\n", kRestoreItems, bareRestore, restored);
    std::printf("nv backup-ratio=%.2f restore-ratio=%.2f\n", bareWalk / backup, bareRestore / restored);
    status = 0;
  }
  std::filesystem::remove_all(work);
  return status;
}
