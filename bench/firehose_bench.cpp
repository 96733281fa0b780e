// Firehose program throughput on the virtual bench against a fair bound: a
// minimal host that uploads the same programmer and writes the same program
// elements in the same chunks to the same bench phone, with nothing else
// (no package check, no status, no log parsing), in paired alternating runs.
// Then eight phones flashed at once against one, on bench phones whose
// storage writes at a phone's rate (--phone-mbps, default 20 MB/s, a usual
// eMMC write rate over Firehose): as on a real bench, the phones set the
// pace, and the figure shows what running eight at once costs the program.
// The same figure against phones as fast as the host's own pseudo-terminals
// is printed as context: there the eight emulated phones and the program
// share the host's cores, and the figure measures the host.
// Last lines:
//   firehose fair-ratio=<median of minimal/ours> spread=<min>-<max> MB/s=<ours, median>
//   firehose-parallel ratio=<eight/one> phone-MB/s=<rate> unpaced-ratio=<eight/one>
// Usage: firehose_bench [--pairs K] [--mib M] [--phone-mbps R]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/paired_runs.h"
#include "download/serial_port.h"
#include "firehose/firehose_configure.h"
#include "firehose/firehose_package.h"
#include "firehose/firehose_run.h"
#include "firehose/port_reads.h"
#include "firehose/protocol_probe.h"
#include "firehose/sahara_packets.h"
#include "platform/regular_file.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "tools/bench_state/bench_state.h"

namespace {

constexpr int kRounds = 3;
constexpr int kPhones = 8;
constexpr size_t kImages = 4;

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Notes when configure starts and when the last program ends.
struct PhaseSink : IQStatusReport {
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT NewStatus(LONG, const Bstr&, const Bstr& text) override {
    const std::string& t = text.str();
    if (t.rfind("Firehose configure", 0) == 0 && start == Clock::time_point{}) start = Clock::now();
    if ((t.rfind("Patch", 0) == 0 || t.rfind("Firehose reset", 0) == 0) && end == Clock::time_point{}) end = Clock::now();
    return S_OK;
  }
  Clock::time_point start, end;
};

std::string PortOf(const std::string& benchDir, unsigned index) {
  for (int i = 0; i < 2000; ++i) {
    for (const bench::PhoneState& s : bench::ReadBench(benchDir))
      if (s.index == index && s.mode == "emergency" && std::filesystem::exists(s.port)) return s.port;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

// Opens the phone's port once it is back on the bench in Sahara mode.
bool OpenPhone(const std::string& benchDir, unsigned index, std::unique_ptr<SerialPort>* port) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    std::string path = PortOf(benchDir, index);
    if (!path.empty() && SUCCEEDED(OpenSerialPort(path, port))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Our whole Firehose path on one phone; the program phase's seconds in *program.
bool Ours(const std::string& benchDir, unsigned index, const FirehosePackage& package, double* program, double* whole) {
  std::unique_ptr<SerialPort> port;
  auto t0 = Clock::now();
  if (!OpenPhone(benchDir, index, &port)) return false;
  PhaseSink sink;
  ProbeResult probe;
  if (FAILED(ListenToPhone(*port, nullptr, &probe)) || probe.protocol != PhoneProtocol::kSahara) return false;
  if (FAILED(FlashWithFirehose(*port, package, probe, &sink))) return false;
  *whole = Seconds(Clock::now() - t0);
  *program = Seconds(sink.end - sink.start);
  return true;
}

// Reads until the text holds `until` followed by "</data>".
bool ReadUntil(SerialPort& port, const std::string& until) {
  std::string seen;
  auto deadline = firehose::DeadlineIn(30000);
  for (;;) {
    unsigned char byte;
    if (FAILED(firehose::ReadByteBefore(port, deadline, &byte))) return false;
    seen += static_cast<char>(byte);
    size_t at = seen.find(until);
    if (at != std::string::npos && seen.find("</data>", at) != std::string::npos) return true;
  }
}

bool WriteText(SerialPort& port, const std::string& text) {
  return SUCCEEDED(port.Write(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
}

// The minimal host: the same upload, configure and program elements, the
// same chunks, no checks beyond finding the next answer.
bool Minimal(const std::string& benchDir, unsigned index, const FirehosePackage& package, double* program) {
  std::unique_ptr<SerialPort> port;
  if (!OpenPhone(benchDir, index, &port)) return false;
  std::vector<unsigned char> packet;
  for (bool done = false; !done;) {
    if (FAILED(firehose::ReadSaharaPacket(*port, 5000, &packet))) return false;
    sahara::ReadRequest r;
    if (packet[0] == sahara::kHello) {
      auto answer = sahara::EncodeHelloResponse(2, 1, 0, 0);
      port->Write(answer.data(), answer.size());
    } else if (SUCCEEDED(sahara::DecodeReadRequest(packet, &r))) {
      port->Write(package.programmer.data() + r.offset, r.length);
    } else if (packet[0] == sahara::kEndImageTransfer) {
      auto d = sahara::EncodeHeaderOnly(sahara::kDone);
      port->Write(d.data(), d.size());
    } else {
      done = packet[0] == sahara::kDoneResponse;
    }
  }
  auto t0 = Clock::now();
  char text[512];
  std::snprintf(text, sizeof text,
                "<?xml version=\"1.0\" ?><data><configure MemoryName=\"%s\" MaxPayloadSizeToTargetInBytes=\"%u\" "
                "ZlpAwareHost=\"0\" /></data>",
                package.memoryName.c_str(), kWantedPayload);
  if (!WriteText(*port, text) || !ReadUntil(*port, "<response")) return false;
  std::vector<unsigned char> chunk;
  for (const FirehoseProgram& p : package.programs) {
    std::snprintf(text, sizeof text,
                  "<?xml version=\"1.0\" ?><data><program SECTOR_SIZE_IN_BYTES=\"%u\" num_partition_sectors=\"%llu\" "
                  "physical_partition_number=\"%u\" start_sector=\"%s\" /></data>",
                  p.sectorSize, static_cast<unsigned long long>(p.sectorsToSend()), p.partition, p.startSector.c_str());
    UniqueFd file;
    std::uint64_t size = 0;
    if (FAILED(OpenRegularFile(p.path, &file, &size))) return false;
    if (!WriteText(*port, text) || !ReadUntil(*port, "rawmode=\"true\"")) return false;
    std::uint64_t total = p.sectorsToSend() * p.sectorSize;
    for (std::uint64_t at = 0; at < total;) {
      chunk.assign(std::min<std::uint64_t>(kWantedPayload, total - at), 0);
      if (at < p.fileBytes &&
          FAILED(ReadFileAt(file.get(), chunk.data(), std::min<std::uint64_t>(chunk.size(), p.fileBytes - at), at)))
        return false;
      if (FAILED(port->Write(chunk.data(), chunk.size()))) return false;
      at += chunk.size();
    }
    if (!ReadUntil(*port, "rawmode=\"false\"")) return false;
  }
  *program = Seconds(Clock::now() - t0);
  return WriteText(*port, "<?xml version=\"1.0\" ?><data><power value=\"reset\" /></data>") &&
         ReadUntil(*port, "<response");
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The programmer and kImages images of mib MiB in all, 512-byte sectors.
bool MakePackage(const std::string& dir, size_t mib) {
  // A 64-bit ELF header and one loadable segment of 16 bytes at 0x1000.
  const unsigned char headers[] = {
      0x7f, 'E',  'L',  'F',  2,    1,    1,    0,    0,    0,    0,    0,    0,    0, 0, 0, 2, 0, 0xb7, 0, 1, 0, 0, 0,
      0,    0,    0x68, 0x14, 0,    0,    0,    0,    0x40, 0,    0,    0,    0,    0, 0, 0, 0, 0, 0,    0, 0, 0, 0, 0,
      0,    0,    0,    0,    0x40, 0,    0x38, 0,    1,    0,    0,    0,    0,    0, 0, 0, 1, 0, 0,    0, 5, 0, 0, 0,
      0,    0x10, 0,    0,    0,    0,    0,    0,    0,    0,    0x68, 0x14, 0,    0, 0, 0, 0, 0, 0x68, 0x14, 0, 0, 0, 0,
      0x10, 0,    0,    0,    0,    0,    0,    0,    0x10, 0,    0,    0,    0,    0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0};
  std::vector<unsigned char> elf(0x1010, 0x5A);
  std::fill(elf.begin(), elf.begin() + 0x1000, 0);
  std::copy(std::begin(headers), std::end(headers), elf.begin());
  std::ofstream(dir + "/prog_firehose_bench.elf", std::ios::binary)
      .write(reinterpret_cast<const char*>(elf.data()), static_cast<std::streamsize>(elf.size()));
  std::string rawprogram = "<?xml version=\"1.0\" ?><data>\n";
  size_t each = (mib << 20) / kImages;
  for (size_t i = 0; i < kImages; ++i) {
    std::string name = "image" + std::to_string(i) + ".bin";
    std::vector<char> bytes(each - 100 * i);
    for (size_t b = 0; b < bytes.size(); ++b) bytes[b] = static_cast<char>((b * 2654435761u) >> 13);
    std::ofstream(dir + "/" + name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    rawprogram += "<program SECTOR_SIZE_IN_BYTES=\"512\" filename=\"" + name +
                  "\" physical_partition_number=\"0\" start_sector=\"" + std::to_string(64 + i * (each / 512 + 8)) +
                  "\" />\n";
  }
  std::ofstream(dir + "/rawprogram0.xml") << rawprogram << "</data>\n";
  std::ofstream(dir + "/patch0.xml") << "<?xml version=\"1.0\" ?><patches></patches>\n";
  return true;
}

// Flashes phone 1 once, then phones 1 to 8 at once, rounds times; the
// medians of the two whole times, or 0 when a run failed.
bool EightAgainstOne(const std::string& benchDir, const FirehosePackage& package, double* one, double* eight) {
  std::vector<double> ones, eights;
  for (int round = 0; round < kRounds; ++round) {
    double program = 0, whole = 0;
    if (!Ours(benchDir, 1, package, &program, &whole)) return false;
    ones.push_back(whole);
    std::vector<double> programs(kPhones), wholes(kPhones);
    std::vector<int> ok(kPhones, 0);
    auto t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < kPhones; ++i)
      threads.emplace_back([&, i] { ok[i] = Ours(benchDir, i + 1, package, &programs[i], &wholes[i]); });
    for (std::thread& t : threads) t.join();
    eights.push_back(Seconds(Clock::now() - t0));
    if (std::count(ok.begin(), ok.end(), 1) != kPhones) return false;
    std::printf("round %d: one phone %.3f s, eight phones %.3f s\n", round + 1, ones.back(), eights.back());
    std::fflush(stdout);
  }
  *one = Median(ones);
  *eight = Median(eights);
  return true;
}

std::string Bench(const std::string& benchDir, size_t mib, unsigned mbps) {
  std::string command = QuoteArgument(VANTOR_PHONESIM_BIN) + " --dir " + QuoteArgument(benchDir) +
                        " --phones 0 --firehose-phones " + std::to_string(kPhones) + " --fh-lun-bytes " +
                        std::to_string((mib + 8) << 20);
  return mbps ? command + " --fh-write-mbps " + std::to_string(mbps) : command;
}

}  // namespace

int main(int argc, char** argv) {
  size_t mib = 64;
  int pairs = 9;
  unsigned mbps = 20;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--pairs" && i + 1 < argc) pairs = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--mib" && i + 1 < argc) mib = std::max<size_t>(1, std::strtoul(argv[++i], nullptr, 10));
    else if (arg == "--phone-mbps" && i + 1 < argc) mbps = static_cast<unsigned>(std::max(1, std::atoi(argv[++i])));
    else return std::fprintf(stderr, "usage: firehose_bench [--pairs K] [--mib M] [--phone-mbps R]\n"), 2;
  }
  std::string work = (std::filesystem::temp_directory_path() / "vantor-firehose-bench-XXXXXX").string();
  if (!::mkdtemp(work.data())) return 1;
  MakePackage(work, mib);
  FirehosePackage package;
  if (FAILED(ReadFirehosePackage(work + "/prog_firehose_bench.elf", work + "/rawprogram0.xml", work + "/patch0.xml",
                                 work, "", nullptr, &package)))
    return std::fprintf(stderr, "bench: package refused\n"), 1;
  int status = 1;
  {
    const std::string fastDir = work + "/fast", pacedDir = work + "/paced";
    std::filesystem::create_directories(fastDir);
    std::filesystem::create_directories(pacedDir);
    CAutoExecutor fast(Bench(fastDir, mib, 0));
    auto timed = [&](bool ours) {
      return [&, ours]() -> std::optional<double> {
        double program = 0, whole = 0;
        bool ok = ours ? Ours(fastDir, 1, package, &program, &whole) : Minimal(fastDir, 1, package, &program);
        return ok ? std::optional<double>(program) : std::nullopt;
      };
    };
    std::optional<PairedFigure> fair = RunPairs("firehose", pairs, timed(true), timed(false));
    double unpacedOne = 0, unpacedEight = 0, one = 0, eight = 0;
    if (!fair || !EightAgainstOne(fastDir, package, &unpacedOne, &unpacedEight))
      return std::fprintf(stderr, "bench: a run failed\n"), 1;
    CAutoExecutor paced(Bench(pacedDir, mib, mbps));
    if (!EightAgainstOne(pacedDir, package, &one, &eight)) return std::fprintf(stderr, "bench: a paced run failed\n"), 1;
    std::printf("image %zu MiB in %zu elements, %d pairs; phones at %u MB/s: one %.3f s, eight %.3f s; "
                "unpaced: one %.3f s, eight %.3f s\n",
                mib, kImages, pairs, mbps, one, eight, unpacedOne, unpacedEight);
    std::printf("firehose fair-ratio=%.3f spread=%.3f-%.3f MB/s=%.2f\n", fair->Median(), fair->Min(), fair->Max(),
                package.bytesToSend() / fair->MedianProgramSeconds() / 1e6);
    std::printf("firehose-parallel ratio=%.3f phone-MB/s=%u unpaced-ratio=%.3f\n", eight / one, mbps,
                unpacedEight / unpacedOne);
    status = 0;
  }
  std::filesystem::remove_all(work);
  return status;
}
