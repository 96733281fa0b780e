// vantor-phonesim: a virtual bench of emulated phones publishing their state
// in --dir for the device helper: phones in emergency download mode, each on
// its own pseudo-terminal (--phones), phones in fastboot mode on TCP ports of
// 127.0.0.1 (--fastboot-phones) and running phones with a diagnostic port
// (--diagnostic-phones) answering NV backup and restore, and later phones in
// emergency download mode speaking Sahara and Firehose (--firehose-phones).
// Runs until SIGINT or SIGTERM. With --usb the phones are USB devices of the
// kernel's gadget framework instead, one a controller of the list given.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/version.h"
#include "tools/bench_state/bench_state.h"
#include "tools/phonesim/diagnostic_phone.h"
#include "tools/phonesim/fastboot_phone.h"
#include "tools/phonesim/pty_phone.h"
#include "tools/phonesim/qcn_seed.h"
#include "tools/phonesim/sahara_phone.h"
#include "tools/phonesim/usb_phones.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void Usage() {
  std::fprintf(stderr,
               "usage: vantor-phonesim --dir DIR [--phones N] [--disk-phones N] [--fastboot-phones N]\n"
               "  [--diagnostic-phones N]\n"
               "  [--first-index I] [--fail-partition NAME] [--usb UDC[,UDC]...]\n"
               "  [--largest-write L] [--block N] [--window W] [--flash-id TEXT]\n"
               "  [--disk-delay MS] [--disk-bytes N] [--never-returns] [--rate MB/s]\n"
               "  faults: [--silence-after K] [--corrupt-frame K] [--vanish-after K] [--babble-after K]\n"
               "          [--nak-write K] [--wrong-magic] [--hello-block N] [--hello-window W]\n"
               "          [--log-packets K] [--corrupt-readback] [--short-hello]\n"
               "diagnostic phones (running phones answering NV backup and restore):\n"
               "  --nv-seed FILE           NV items of every diagnostic phone from this .qcn file\n"
               "                           (default: a few hundred generated items, values by index)\n"
               "  --spc CODE               service programming code, six digits (default 482615)\n"
               "  --diag-reset-delay MS    after a reset the port comes back after MS (default 500, times VANTOR_TIME_SCALE)\n"
               "  --diag-leading-flag      answers open with a 7E flag too\n"
               "  --diag-imei LIST         IMEIs (14 to 16 digits) of the diagnostic phones in order, comma-separated;\n"
               "                           \"none\": the phone has no IMEI; phones past the list keep their own\n"
               "  --diag-meid LIST         MEIDs (up to 14 hexadecimal digits), the same way\n"
               "  --diag-esn LIST          ESNs (up to 8 hexadecimal digits), the same way\n"
               "  faults: --diag-silence-after K   no answer after the first K packets\n"
               "          --diag-corrupt-fcs K     the K-th answer (from 1) and later ones have a bad check sequence\n"
               "          --diag-refuse-spc        every service programming code is refused\n"
               "          --diag-busy N            the first N NV requests are answered busy (status 1)\n"
               "          --diag-bad-readback      items written read back different\n"
               "USB transport (--usb, needs root, configfs, FunctionFS and the controllers named):\n"
               "  each phone is a USB device on the next controller of the list, in the order\n"
               "  emergency, fastboot, disk, diagnostic, Sahara/Firehose: 05c6:9008 (back as the disk\n"
               "  05c6:f000 at the same port after its reset), 18d1:4ee0 (fastboot), 05c6:f000, 05c6:9025,\n"
               "  05c6:9008 (back at the same port after a power reset)\n"
               "  --disk-returns-at UDC    fault: the emergency phones' disk comes back at this controller instead\n"
               "  each diagnostic phone keeps its items in DIR/nv-INDEX.txt: lines \"ID INDEX HEX\"\n"
               "  (decimal id and element index, 256 hex digits of the 128-byte value), by id then index;\n"
               "  rewritten shortly after each change, and before any answer other than an NV read or write\n"
               "Sahara/Firehose phones (emergency download mode of later chips, on pseudo-terminals or USB, after the others):\n"
               "  --firehose-phones N      this many; each LUN L of phone I is DIR/firehose-I-lunL.img\n"
               "  --sahara-profile 32|64   READ_DATA and a 0x34 header, or READ_DATA_64 and 0x40 (default 64);\n"
               "                           a programmer of the other ELF class ends with status 0x14\n"
               "  --fh-memory emmc|ufs     emmc: 512-byte sectors, LUN 0; ufs: 4096-byte sectors, LUNs 0-5 (default emmc)\n"
               "  --fh-lun-bytes N         size of each LUN (default 64 MiB)\n"
               "  --fh-max-payload N       largest MaxPayloadSizeToTargetInBytes accepted (default 1048576)\n"
               "  --fh-sector-size N       the device's real sector size (default: the memory's own)\n"
               "  --fh-write-mbps N        the storage writes N MB/s (default: as fast as the host sends)\n"
               "  faults: --fh-nak-program K        the K-th program command (from 1) is refused\n"
               "          --fh-silent               the boot ROM never speaks\n"
               "          --fh-silent-after K       no answer from the K-th Firehose command (from 1) on\n"
               "          --fh-vanish-after-bytes N the phone leaves the bench after N raw data bytes\n"
               "          --fh-log-flood N          N log documents before every response\n"
               "          --sahara-unsigned         the programmer is refused (END_IMAGE_TX status 0x25)\n"
               "          --sahara-hello-once       HELLO only at the first open of the port\n"
               "  HELLO goes out when the host opens the port, after a RESET, and again for bytes that cannot\n"
               "  start a HELLO_RESP; after a Firehose power reset the phone is back at the same port in Sahara mode\n"
               "--help prints this text, --version the version.\n");
}

// The values of an identity list, one a phone: "none" (the empty value: the
// phone has none), else what `valid` accepts; false for anything else.
template <class T, class Valid>
bool IdentityValues(const std::string& list, Valid valid, std::vector<T>* out) {
  size_t start = 0;
  for (;;) {
    size_t end = list.find(',', start);
    std::string value = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    T parsed{};
    if (value != "none" && !valid(value, &parsed)) return false;
    out->push_back(parsed);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool ImeiText(const std::string& v, std::string* out) {
  if (v.size() < 14 || v.size() > 16 || v.find_first_not_of("0123456789") != std::string::npos) return false;
  *out = v;
  return true;
}

bool HexText(const std::string& v, size_t digits, std::uint64_t* out) {
  if (v.empty() || v.size() > digits || v.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
  *out = std::strtoull(v.c_str(), nullptr, 16);
  return true;
}

// The k-th diagnostic phone's identity from the three lists.
phonesim::DiagIdentity IdentityOf(size_t k, const std::vector<std::string>& imeis,
                                  const std::vector<std::uint64_t>& meids, const std::vector<std::uint64_t>& esns) {
  phonesim::DiagIdentity identity;
  if (k < imeis.size()) identity.imei = imeis[k];
  if (k < meids.size()) identity.meid = meids[k];
  if (k < esns.size()) identity.esn = static_cast<std::uint32_t>(esns[k]);
  return identity;
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

// A comma-separated list of the gadget framework's controller names.
bool Controllers(const std::string& text, std::vector<std::string>* out) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string name = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (name.empty() || name.size() > 64 ||
        name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") != std::string::npos)
      return false;
    out->push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return !out->empty();
}

}  // namespace

int main(int argc, char** argv) {
  phonesim::BenchPhoneOptions options;
  unsigned long long phones = 1, fastbootPhones = 0, diagnosticPhones = 0, diskPhones = 0, firstIndex = 1;
  std::string failPartition, nvSeed;
  std::vector<std::string> controllers;  // --usb
  std::string diskReturnsAt;              // --disk-returns-at
  phonesim::DiagnosticPhoneOptions diagnostic;
  phonesim::SaharaPhoneOptions sahara;
  unsigned long long firehosePhones = 0;
  std::vector<std::string> imeis;
  std::vector<std::uint64_t> meids, esns;
  auto identityList = [](bool ok, const std::string& arg, const char* value) {
    if (ok) return;
    std::fprintf(stderr, "vantor-phonesim: bad value for %s: %s\n", arg.c_str(), value);
    std::exit(2);
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto flag = [&](const char* name) { return arg == name; };
    bool needsValue = !(flag("--wrong-magic") || flag("--corrupt-readback") || flag("--never-returns") ||
                        flag("--short-hello") || flag("--help") || flag("--diag-refuse-spc") ||
                        flag("--diag-bad-readback") || flag("--diag-leading-flag") || flag("--fh-silent") ||
                        flag("--sahara-unsigned") || flag("--sahara-hello-once") || flag("--version"));
    if (flag("--version")) {
      std::printf("vantor-phonesim %s\n", VANTOR_VERSION);
      return 0;
    }
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
    else if (flag("--disk-returns-at")) {
      std::vector<std::string> one;
      if (!Controllers(value, &one) || one.size() != 1) {
        std::fprintf(stderr, "vantor-phonesim: bad controller: %s\n", value);
        return 2;
      }
      diskReturnsAt = one.front();
    } else if (flag("--usb")) {
      if (!Controllers(value, &controllers)) {
        std::fprintf(stderr, "vantor-phonesim: bad controller list: %s\n", value);
        return 2;
      }
    }
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
    else if (flag("--babble-after")) options.link.babbleAfterFrames = static_cast<int>(number(1u << 30));
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
    else if (flag("--fh-write-mbps")) sahara.firehose.writeBytesPerSecond = number(100000) * 1000000;
    else if (flag("--fh-nak-program")) sahara.firehose.nakProgram = static_cast<int>(number(1u << 30));
    else if (flag("--fh-silent")) sahara.silent = true;
    else if (flag("--fh-silent-after")) sahara.firehose.silentAfter = static_cast<int>(number(1u << 30));
    else if (flag("--fh-vanish-after-bytes")) sahara.firehose.vanishAfterBytes = static_cast<std::int64_t>(number(1ull << 40));
    else if (flag("--fh-log-flood")) sahara.firehose.logFlood = static_cast<int>(number(100000));
    else if (flag("--sahara-unsigned")) sahara.rom.unsigned_ = true;
    else if (flag("--sahara-hello-once")) sahara.helloOnce = true;
    else if (flag("--diag-imei")) identityList(IdentityValues<std::string>(value, ImeiText, &imeis), arg, value);
    else if (flag("--diag-meid"))
      identityList(IdentityValues<std::uint64_t>(value, [](auto& v, auto* o) { return HexText(v, 14, o); }, &meids), arg, value);
    else if (flag("--diag-esn"))
      identityList(IdentityValues<std::uint64_t>(value, [](auto& v, auto* o) { return HexText(v, 8, o); }, &esns), arg, value);
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

  bool usb = !controllers.empty();
  if (usb && controllers.size() < phones + fastbootPhones + diskPhones + diagnosticPhones + firehosePhones) {
    std::fprintf(stderr, "vantor-phonesim: --usb names fewer controllers than there are phones\n");
    return 2;
  }
  std::size_t nextController = 0;
  auto controller = [&] { return usb ? controllers[nextController++] : std::string(); };

  std::vector<std::unique_ptr<phonesim::PtyEmergencyPhone>> bench;
  std::vector<std::unique_ptr<phonesim::UsbEmergencyPhone>> usbBench;
  for (unsigned long long k = 0; k < phones; ++k) {
    phonesim::BenchPhoneOptions one = options;
    one.index = static_cast<unsigned>(firstIndex + k);
    if (usb) {
      std::string udc = controller();
      usbBench.push_back(std::make_unique<phonesim::UsbEmergencyPhone>(one, udc, diskReturnsAt));
      if (!StartPhone(*usbBench.back(), one.index, "emergency", [](auto& p) { return p.where(); })) return 1;
      continue;
    }
    auto phone = std::make_unique<phonesim::PtyEmergencyPhone>(one);
    if (!StartPhone(*phone, one.index, "emergency", [](auto& p) { return p.portPath(); })) return 1;
    bench.push_back(std::move(phone));
  }
  unsigned next = static_cast<unsigned>(firstIndex + phones);
  std::vector<std::unique_ptr<phonesim::TcpFastbootPhone>> fastboot;
  std::vector<std::unique_ptr<phonesim::UsbFastbootPhone>> usbFastboot;
  for (unsigned long long k = 0; k < fastbootPhones; ++k, ++next) {
    phonesim::FastbootPhoneOptions one;
    one.benchDir = options.benchDir;
    one.index = next;
    one.serial = "VB" + std::to_string(1000 + next);
    one.failPartition = failPartition;
    if (usb) {
      usbFastboot.push_back(std::make_unique<phonesim::UsbFastbootPhone>(one, controller()));
      if (!StartPhone(*usbFastboot.back(), next, "fastboot", [](auto& p) { return p.where(); })) return 1;
      continue;
    }
    auto phone = std::make_unique<phonesim::TcpFastbootPhone>(one);
    if (!StartPhone(*phone, next, "fastboot", [](auto& p) { return p.identifier(); })) return 1;
    fastboot.push_back(std::move(phone));
  }
  // Phones already running their mini kernel: a USB disk each.
  std::vector<std::unique_ptr<phonesim::UsbDiskPhone>> usbDisks;
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
    if (usb) {
      usbDisks.push_back(std::make_unique<phonesim::UsbDiskPhone>(disk, next, controller()));
      if (!StartPhone(*usbDisks.back(), next, "disk", [](auto& p) { return p.where(); })) return 1;
      continue;
    }
    std::printf("phone %u disk %s\n", next, disk.c_str());
  }
  std::vector<std::unique_ptr<phonesim::DiagnosticPhone>> running;
  std::vector<std::unique_ptr<phonesim::UsbDiagnosticPhone>> usbRunning;
  for (unsigned long long k = 0; k < diagnosticPhones; ++k, ++next) {
    phonesim::DiagnosticPhoneOptions one = diagnostic;
    one.benchDir = options.benchDir;
    one.index = next;
    one.serial = "VB" + std::to_string(1000 + next);
    one.identity = IdentityOf(static_cast<size_t>(k), imeis, meids, esns);
    if (usb) {
      usbRunning.push_back(std::make_unique<phonesim::UsbDiagnosticPhone>(std::move(one), controller()));
      if (!StartPhone(*usbRunning.back(), next, "diagnostic", [](auto& p) { return p.where(); })) return 1;
      continue;
    }
    auto phone = std::make_unique<phonesim::DiagnosticPhone>(std::move(one));
    if (!StartPhone(*phone, next, "diagnostic", [](auto& p) { return p.portPath(); })) return 1;
    running.push_back(std::move(phone));
  }
  std::vector<std::unique_ptr<phonesim::PtySaharaPhone>> later;
  std::vector<std::unique_ptr<phonesim::UsbSaharaPhone>> usbLater;
  for (unsigned long long k = 0; k < firehosePhones; ++k, ++next) {
    phonesim::SaharaPhoneOptions one = sahara;
    one.benchDir = options.benchDir;
    one.index = next;
    if (usb) {
      usbLater.push_back(std::make_unique<phonesim::UsbSaharaPhone>(std::move(one), controller()));
      if (!StartPhone(*usbLater.back(), next, "emergency", [](auto& p) { return p.where(); })) return 1;
      continue;
    }
    auto phone = std::make_unique<phonesim::PtySaharaPhone>(std::move(one));
    if (!StartPhone(*phone, next, "emergency", [](auto& p) { return p.portPath(); })) return 1;
    later.push_back(std::move(phone));
  }
  std::fflush(stdout);
  while (!g_stop) ::pause();
  later.clear();
  usbLater.clear();
  usbBench.clear();
  usbFastboot.clear();
  usbDisks.clear();
  usbRunning.clear();
  bench.clear();
  fastboot.clear();
  running.clear();
  return 0;
}
