// vantor-phonesim: a virtual bench of emulated phones publishing their state
// in --dir for the device helper: phones in emergency download mode, each on
// its own pseudo-terminal (--phones), phones in fastboot mode on TCP ports of
// 127.0.0.1 (--fastboot-phones) and running phones with a diagnostic port
// (--diagnostic-phones) answering NV backup and restore, and later phones in
// emergency download mode speaking Sahara and Firehose (--firehose-phones).
// Runs until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/diagnostic_phone.h"
#include "tools/phonesim/fastboot_phone.h"
#include "tools/phonesim/pty_phone.h"
#include "tools/phonesim/qcn_seed.h"
#include "tools/phonesim/sahara_phone.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void Usage() {
  std::fprintf(stderr,
               "usage: vantor-phonesim --dir DIR [--phones N] [--disk-phones N] [--fastboot-phones N]\n"
               "  [--diagnostic-phones N]\n"
               "  [--first-index I] [--fail-partition NAME]\n"
               "  [--largest-write L] [--block N] [--window W] [--flash-id TEXT]\n"
               "  [--disk-delay MS] [--disk-bytes N] [--never-returns] [--rate MB/s]\n"
               "  faults: [--silence-after K] [--corrupt-frame K] [--vanish-after K]\n"
               "          [--nak-write K] [--wrong-magic] [--hello-block N] [--hello-window W]\n"
               "          [--log-packets K] [--corrupt-readback] [--short-hello]\n"
               "diagnostic phones (running phones answering NV backup and restore):\n"
               "  --nv-seed FILE           NV items of every diagnostic phone from this .qcn file\n"
               "                           (default: a few hundred generated items, values by index)\n"
               "  --spc CODE               service programming code, six digits (default 482615)\n"
               "  --diag-reset-delay MS    after a reset the port comes back after MS (default 500, times VANTOR_TIME_SCALE)\n"
               "  --diag-leading-flag      answers open with a 7E flag too\n"
               "  faults: --diag-silence-after K   no answer after the first K packets\n"
               "          --diag-corrupt-fcs K     the K-th answer (from 1) and later ones have a bad check sequence\n"
               "          --diag-refuse-spc        every service programming code is refused\n"
               "          --diag-busy N            the first N NV requests are answered busy (status 1)\n"
               "          --diag-bad-readback      items written read back different\n"
               "  each diagnostic phone keeps its items in DIR/nv-INDEX.txt: lines \"ID INDEX HEX\"\n"
               "  (decimal id and element index, 256 hex digits of the 128-byte value), by id then index;\n"
               "  rewritten shortly after each change, and before any answer other than an NV read or write\n"
               "Sahara/Firehose phones (emergency download mode of later chips, on pseudo-terminals, after the others):\n"
               "  --firehose-phones N      this many; each LUN L of phone I is DIR/firehose-I-lunL.img\n"
               "  --sahara-profile 32|64   READ_DATA and a 0x34 header, or READ_DATA_64 and 0x40 (default 64);\n"
               "                           a programmer of the other ELF class ends with status 0x14\n"
               "  --fh-memory emmc|ufs     emmc: 512-byte sectors, LUN 0; ufs: 4096-byte sectors, LUNs 0-5 (default emmc)\n"
               "  --fh-lun-bytes N         size of each LUN (default 64 MiB)\n"
               "  --fh-max-payload N       largest MaxPayloadSizeToTargetInBytes accepted (default 1048576)\n"
               "  --fh-sector-size N       the device's real sector size (default: the memory's own)\n"
               "  faults: --fh-nak-program K        the K-th program command (from 1) is refused\n"
               "          --fh-silent               the boot ROM never speaks\n"
               "          --fh-silent-after K       no answer from the K-th Firehose command (from 1) on\n"
               "          --fh-vanish-after-bytes N the phone leaves the bench after N raw data bytes\n"
               "          --fh-log-flood N          N log documents before every response\n"
               "          --sahara-unsigned         the programmer is refused (END_IMAGE_TX status 0x25)\n"
               "          --sahara-hello-once       HELLO only at the first open of the port\n"
               "  HELLO goes out when the host opens the port, after a RESET, and again for bytes that cannot\n"
               "  start a HELLO_RESP; after a Firehose power reset the phone is back at the same port in Sahara mode\n");
}

bool Number(const char* text, unsigned long long max, unsigned long long* out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || v > max) return false;
  *out = v;
  return true;
}

// Starts a phone and announces it as "phone INDEX MODE WHERE"; false (after
// saying why) when it cannot start.
template <class Phone, class Where>
bool StartPhone(Phone& phone, unsigned index, const char* mode, Where where) {
  std::string error;
  if (!phone.Start(&error)) {
    std::fprintf(stderr, "vantor-phonesim: %s\n", error.c_str());
    return false;
  }
  std::printf("phone %u %s %s\n", index, mode, std::string(where(phone)).c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  phonesim::BenchPhoneOptions options;
  unsigned long long phones = 1, fastbootPhones = 0, diagnosticPhones = 0, diskPhones = 0, firstIndex = 1;
  std::string failPartition, nvSeed;
  phonesim::DiagnosticPhoneOptions diagnostic;
  phonesim::SaharaPhoneOptions sahara;
  unsigned long long firehosePhones = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto flag = [&](const char* name) { return arg == name; };
    bool needsValue = !(flag("--wrong-magic") || flag("--corrupt-readback") || flag("--never-returns") ||
                        flag("--short-hello") || flag("--help") || flag("--diag-refuse-spc") ||
                        flag("--diag-bad-readback") || flag("--diag-leading-flag") || flag("--fh-silent") ||
                        flag("--sahara-unsigned") || flag("--sahara-hello-once"));
    if (flag("--help")) {
      Usage();
      return 0;
    }
    if (needsValue && i + 1 >= argc) {
      Usage();
      return 2;
    }
    const char* value = needsValue ? argv[++i] : nullptr;
    unsigned long long n = 0;
    auto number = [&](unsigned long long max) {
      if (!Number(value, max, &n)) {
        std::fprintf(stderr, "vantor-phonesim: bad value for %s: %s\n", arg.c_str(), value);
        std::exit(2);
      }
      return n;
    };
    if (flag("--dir")) options.benchDir = value;
    else if (flag("--phones")) phones = number(64);
    else if (flag("--fastboot-phones")) fastbootPhones = number(64);
    else if (flag("--diagnostic-phones")) diagnosticPhones = number(64);
    else if (flag("--disk-phones")) diskPhones = number(64);
    else if (flag("--fail-partition")) failPartition = value;
    else if (flag("--first-index")) firstIndex = number(1u << 20);
    else if (flag("--largest-write")) options.phone.largestWrite = static_cast<std::uint16_t>(number(0xFFFF));
    else if (flag("--block")) options.phone.block = static_cast<std::uint32_t>(number(0xFFFFFFFFull));
    else if (flag("--window")) options.phone.window = static_cast<std::uint16_t>(number(0xFFFF));
    else if (flag("--flash-id")) options.phone.flashId = value;
    else if (flag("--disk-delay")) options.diskReturnDelayMs = static_cast<unsigned>(number(3600000));
    else if (flag("--disk-bytes")) options.diskBytes = number(1ull << 40);
    else if (flag("--rate")) options.rateMBps = static_cast<double>(number(100000));
    else if (flag("--never-returns")) options.neverReturnsAsDisk = true;
    else if (flag("--silence-after")) options.link.silenceAfterFrames = static_cast<int>(number(1u << 30));
    else if (flag("--corrupt-frame")) options.link.corruptFrame = static_cast<int>(number(1u << 30));
    else if (flag("--vanish-after")) options.link.vanishAfterFrames = static_cast<int>(number(1u << 30));
    else if (flag("--nak-write")) options.phone.faults.nakWrite = static_cast<int>(number(1u << 30));
    else if (flag("--wrong-magic")) options.phone.faults.wrongHelloMagic = true;
    else if (flag("--hello-block")) options.phone.faults.announcedBlock = static_cast<std::uint32_t>(number(0xFFFFFFFFull));
    else if (flag("--hello-window")) options.phone.faults.announcedWindow = static_cast<std::uint16_t>(number(0xFFFF));
    else if (flag("--log-packets")) options.phone.faults.logPacketsBeforeSecurity = static_cast<int>(number(1000));
    else if (flag("--corrupt-readback")) options.phone.faults.corruptReadBack = true;
    else if (flag("--short-hello")) options.phone.faults.shortHello = true;
    else if (flag("--nv-seed")) nvSeed = value;
    else if (flag("--spc")) diagnostic.spc = value;
    else if (flag("--diag-reset-delay")) diagnostic.resetDelayMs = static_cast<unsigned>(number(3600000));
    else if (flag("--diag-leading-flag")) diagnostic.leadingFlag = true;
    else if (flag("--diag-silence-after")) diagnostic.link.silenceAfterPackets = static_cast<int>(number(1u << 30));
    else if (flag("--diag-corrupt-fcs")) diagnostic.link.corruptFcsFrom = static_cast<int>(number(1u << 30));
    else if (flag("--diag-refuse-spc")) diagnostic.faults.refuseSpc = true;
    else if (flag("--diag-busy")) diagnostic.faults.busyNvRequests = static_cast<int>(number(1u << 30));
    else if (flag("--diag-bad-readback")) diagnostic.faults.badReadBack = true;
    else if (flag("--firehose-phones")) firehosePhones = number(64);
    else if (flag("--sahara-profile") && (std::strcmp(value, "32") == 0 || std::strcmp(value, "64") == 0))
      sahara.rom.profile64 = std::strcmp(value, "64") == 0;
    else if (flag("--fh-memory") && (std::strcmp(value, "emmc") == 0 || std::strcmp(value, "ufs") == 0))
      sahara.firehose.ufs = std::strcmp(value, "ufs") == 0;
    else if (flag("--fh-lun-bytes")) sahara.lunBytes = number(1ull << 40);
    else if (flag("--fh-max-payload")) sahara.firehose.maxPayload = number(1ull << 30);
    else if (flag("--fh-sector-size")) sahara.firehose.sectorSize = static_cast<unsigned>(number(1u << 16));
    else if (flag("--fh-nak-program")) sahara.firehose.nakProgram = static_cast<int>(number(1u << 30));
    else if (flag("--fh-silent")) sahara.silent = true;
    else if (flag("--fh-silent-after")) sahara.firehose.silentAfter = static_cast<int>(number(1u << 30));
    else if (flag("--fh-vanish-after-bytes")) sahara.firehose.vanishAfterBytes = static_cast<std::int64_t>(number(1ull << 40));
    else if (flag("--fh-log-flood")) sahara.firehose.logFlood = static_cast<int>(number(100000));
    else if (flag("--sahara-unsigned")) sahara.rom.unsigned_ = true;
    else if (flag("--sahara-hello-once")) sahara.helloOnce = true;
    else {
      std::fprintf(stderr, "vantor-phonesim: unknown option %s\n", arg.c_str());
      Usage();
      return 2;
    }
  }
  if (options.benchDir.empty()) {
    Usage();
    return 2;
  }
  if (diagnostic.spc.size() != 6 || diagnostic.spc.find_first_not_of("0123456789") != std::string::npos) {
    std::fprintf(stderr, "vantor-phonesim: the service programming code is six digits: %s\n", diagnostic.spc.c_str());
    return 2;
  }
  if (!nvSeed.empty()) {
    std::string error;
    diagnostic.seed = phonesim::LoadQcnFile(nvSeed, &error);
    if (!diagnostic.seed) {
      std::fprintf(stderr, "vantor-phonesim: cannot seed NV items from %s: %s\n", nvSeed.c_str(), error.c_str());
      return 2;
    }
  }

  struct sigaction sa{};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  std::vector<std::unique_ptr<phonesim::PtyEmergencyPhone>> bench;
  for (unsigned long long k = 0; k < phones; ++k) {
    phonesim::BenchPhoneOptions one = options;
    one.index = static_cast<unsigned>(firstIndex + k);
    auto phone = std::make_unique<phonesim::PtyEmergencyPhone>(one);
    if (!StartPhone(*phone, one.index, "emergency", [](auto& p) { return p.portPath(); })) return 1;
    bench.push_back(std::move(phone));
  }
  unsigned next = static_cast<unsigned>(firstIndex + phones);
  std::vector<std::unique_ptr<phonesim::TcpFastbootPhone>> fastboot;
  for (unsigned long long k = 0; k < fastbootPhones; ++k, ++next) {
    phonesim::FastbootPhoneOptions one;
    one.benchDir = options.benchDir;
    one.index = next;
    one.serial = "VB" + std::to_string(1000 + next);
    one.failPartition = failPartition;
    auto phone = std::make_unique<phonesim::TcpFastbootPhone>(one);
    if (!StartPhone(*phone, next, "fastboot", [](auto& p) { return p.identifier(); })) return 1;
    fastboot.push_back(std::move(phone));
  }
  // Phones already running their mini kernel: a USB disk each.
  for (unsigned long long k = 0; k < diskPhones; ++k, ++next) {
    std::string disk = options.benchDir + "/disk-" + std::to_string(next) + ".img";
    if (std::FILE* f = std::fopen(disk.c_str(), "w")) std::fclose(f);
    if (::truncate(disk.c_str(), static_cast<off_t>(options.diskBytes)) != 0) {
      std::fprintf(stderr, "vantor-phonesim: cannot make %s\n", disk.c_str());
      return 1;
    }
    bench::PhoneState s;
    s.index = next;
    s.mode = "disk";
    s.disk = disk;
    bench::WritePhoneState(options.benchDir, s);
    std::printf("phone %u disk %s\n", next, disk.c_str());
  }
  std::vector<std::unique_ptr<phonesim::DiagnosticPhone>> running;
  for (unsigned long long k = 0; k < diagnosticPhones; ++k, ++next) {
    phonesim::DiagnosticPhoneOptions one = diagnostic;
    one.benchDir = options.benchDir;
    one.index = next;
    one.serial = "VB" + std::to_string(1000 + next);
    auto phone = std::make_unique<phonesim::DiagnosticPhone>(std::move(one));
    if (!StartPhone(*phone, next, "diagnostic", [](auto& p) { return p.portPath(); })) return 1;
    running.push_back(std::move(phone));
  }
  std::vector<std::unique_ptr<phonesim::PtySaharaPhone>> later;
  for (unsigned long long k = 0; k < firehosePhones; ++k, ++next) {
    phonesim::SaharaPhoneOptions one = sahara;
    one.benchDir = options.benchDir;
    one.index = next;
    auto phone = std::make_unique<phonesim::PtySaharaPhone>(std::move(one));
    if (!StartPhone(*phone, next, "emergency", [](auto& p) { return p.portPath(); })) return 1;
    later.push_back(std::move(phone));
  }
  std::fflush(stdout);
  while (!g_stop) ::pause();
  later.clear();
  bench.clear();
  fastboot.clear();
  running.clear();
  return 0;
}
