// Streaming download throughput against a fair bound, in paired runs.
//
// Program: DownloadMiniKernel of the boot image to the virtual bench's phone
// (N = 1024, W = 8), with a status sink that writes each status line to the
// log as a job's does (the log in a folder of the bench's own).
// Bound: a minimal correct host for the same protocol against the same bench
// phone: every packet framed beforehand (check sequence and stuffing), every
// answer read up to the length of its expected frame, computed beforehand, and
// compared with it byte for byte (the compare is timed), the same window.
// Both are timed from the hello to the reset's acknowledgement.
//
// The last line reads
//   streaming fair-ratio=<median> spread=<min>-<max> MB/s=<x> bare-ratio=<y>
// where bare-ratio is the old figure, kept as context: the program against a
// bare exchange of unframed bytes of the same sizes over a pty pair.
// With --slow-log the program runs against itself instead, once with a log
// whose every flush takes 10 ms (through the file-sync seam) and once with a
// fast log; the last line reads "slow-log ratio=<median> spread=<min>-<max>".
// Usage: streaming_bench [--slow-log] [--pairs K] [--mib M]
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/paired_runs.h"
#include "download/byte_order.h"
#include "download/hdlc.h"
#include "download/serial_port.h"
#include "download/streaming.h"
#include "platform/file_sync.h"
#include "platform/ticks.h"
#include "shell/log.h"
#include "tools/phonesim/pty_phone.h"

namespace {

constexpr std::uint32_t kBlock = 1024;
constexpr std::uint16_t kWindow = 8;
constexpr auto kSlowFlush = std::chrono::milliseconds(10);

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool ReadExactly(int fd, unsigned char* p, size_t n) {
  while (n > 0) {
    ssize_t r = ::read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool WriteExactly(int fd, const unsigned char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Frames one after the other in one buffer.
struct FrameList {
  Bytes bytes;
  std::vector<size_t> starts;
  void Add(const Bytes& payload) {
    starts.push_back(bytes.size());
    size_t at = bytes.size();
    bytes.resize(at + 1 + MaxFrameBody(payload.size()));
    bytes[at] = kHdlcFlag;
    bytes.resize(at + 1 + PutFrameBody(bytes.data() + at + 1, payload.data(), payload.size()));
  }
  const unsigned char* data(size_t i) const { return bytes.data() + starts[i]; }
  size_t size(size_t i) const { return (i + 1 < starts.size() ? starts[i + 1] : bytes.size()) - starts[i]; }
};

// A packet: code, address, then size bytes of data (zeros when data is null).
Bytes Packet(unsigned char code, std::uint32_t address, const unsigned char* data, size_t size) {
  Bytes p(5 + size);
  p[0] = code;
  PutLittleEndian32(p.data() + 1, address);
  if (data) std::memcpy(p.data() + 5, data, size);
  return p;
}

// Everything the bound host sends and expects, framed beforehand.
struct Conversation {
  FrameList hello, commands, expected;  // commands: security, open, close, reset
  FrameList writes, acks, reads, answers;

  explicit Conversation(const Bytes& image) {
    Bytes h = {0x01};
    const char text[] = "QCOM fast download protocol host";
    h.insert(h.end(), text, text + 32);
    h.insert(h.end(), {3, 3, 9});
    hello.Add(h);
    for (const Bytes& c : {Bytes{0x17, 0x01}, Bytes{0x1B, 0x21}, Bytes{0x15}, Bytes{0x0B}}) commands.Add(c);
    for (const Bytes& e : {Bytes{0x18}, Bytes{0x1C, 0x00}, Bytes{0x16}, Bytes{0x0C}}) expected.Add(e);
    for (std::uint32_t offset = 0; offset < image.size(); offset += kBlock) {
      std::uint32_t length = std::min<std::uint32_t>(kBlock, static_cast<std::uint32_t>(image.size()) - offset);
      writes.Add(Packet(0x07, offset, image.data() + offset, length));
      acks.Add(Packet(0x08, offset, nullptr, 0));
      Bytes read = Packet(0x03, offset, nullptr, 2);
      PutLittleEndian16(read.data() + 5, static_cast<std::uint16_t>(length));
      reads.Add(read);
      answers.Add(Packet(0x04, offset, image.data() + offset, length));
    }
  }
};

// The bound host's side of one exchange: reads the expected frame's length
// and compares.
bool Expect(int fd, const FrameList& frames, size_t i, Bytes& scratch) {
  size_t n = frames.size(i);
  if (scratch.size() < n) scratch.resize(n);
  return ReadExactly(fd, scratch.data(), n) && std::memcmp(scratch.data(), frames.data(i), n) == 0;
}

bool Send(int fd, const FrameList& frames, size_t i) { return WriteExactly(fd, frames.data(i), frames.size(i)); }

// The hello's answer is the phone's to describe: read up to its closing flag.
bool ReadHelloAnswer(int fd) {
  unsigned char byte;
  size_t inside = 0;
  while (ReadExactly(fd, &byte, 1)) {
    if (byte != kHdlcFlag) ++inside;
    else if (inside > 0) return true;
  }
  return false;
}

bool BoundConversation(int fd, const Conversation& c) {
  Bytes scratch;
  if (!Send(fd, c.hello, 0) || !ReadHelloAnswer(fd)) return false;
  for (size_t i = 0; i < 2; ++i)
    if (!Send(fd, c.commands, i) || !Expect(fd, c.expected, i, scratch)) return false;
  const size_t blocks = c.writes.starts.size();
  size_t acknowledged = 0;
  for (size_t i = 0; i < blocks; ++i) {
    if (i - acknowledged == kWindow && !Expect(fd, c.acks, acknowledged++, scratch)) return false;
    if (!Send(fd, c.writes, i)) return false;
  }
  while (acknowledged < blocks)
    if (!Expect(fd, c.acks, acknowledged++, scratch)) return false;
  for (size_t i = 0; i < blocks; ++i)
    if (!Send(fd, c.reads, i) || !Expect(fd, c.answers, i, scratch)) return false;
  for (size_t i = 2; i < 4; ++i)
    if (!Send(fd, c.commands, i) || !Expect(fd, c.expected, i, scratch)) return false;
  return true;
}

// A bench phone running the flash programmer, stopped when this ends.
struct BenchPhone {
  explicit BenchPhone(const std::string& dir) : phone(Options(dir)) {}
  static phonesim::BenchPhoneOptions Options(const std::string& dir) {
    phonesim::BenchPhoneOptions options;
    options.benchDir = dir;
    options.phone.block = kBlock;
    options.phone.window = kWindow;
    options.phone.startInProgrammer = true;
    options.neverReturnsAsDisk = true;
    return options;
  }
  bool Start() {
    std::string error;
    if (phone.Start(&error)) return true;
    std::fprintf(stderr, "bench: %s\n", error.c_str());
    return false;
  }
  phonesim::PtyEmergencyPhone phone;
};

std::optional<double> BoundRun(const std::string& dir, const Conversation& c) {
  BenchPhone bench(dir);
  if (!bench.Start()) return std::nullopt;
  int fd = ::open(bench.phone.portPath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  auto start = Clock::now();
  bool ok = fd >= 0 && BoundConversation(fd, c);
  auto end = Clock::now();
  if (fd >= 0) ::close(fd);
  if (!ok) std::fprintf(stderr, "bench: the bound host's conversation failed\n");
  return ok ? std::optional<double>(Seconds(end - start)) : std::nullopt;
}

// Writes each status text to the log as a job's status line.
struct LoggingSink : IQStatusReport {
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT NewStatus(LONG, const Bstr&, const Bstr& text) override {
    WriteLog("%s\t%.2f\t%s", "bench-phone", (GetTickCount() - start) / 1000.0, text.str().c_str());
    return S_OK;
  }
  DWORD start = GetTickCount();
};

std::optional<double> ProgramRun(const std::string& dir, const std::string& image) {
  BenchPhone bench(dir);
  if (!bench.Start()) return std::nullopt;
  std::unique_ptr<SerialPort> port;
  HRESULT hr = OpenSerialPort(bench.phone.portPath(), &port);
  LoggingSink sink;
  auto start = Clock::now();
  if (SUCCEEDED(hr)) hr = DownloadMiniKernel(image, &sink, *port);
  auto end = Clock::now();
  if (FAILED(hr)) {
    std::fprintf(stderr, "bench: DownloadMiniKernel failed (0x%08x)\n", static_cast<unsigned>(hr));
    return std::nullopt;
  }
  return Seconds(end - start);
}

// The old bound: the same packet sizes, unframed, over a bare pty pair.
double BareExchange(size_t imageBytes) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ::grantpt(master);
  ::unlockpt(master);
  termios tio{};
  ::tcgetattr(master, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(master, TCSANOW, &tio);
  int host = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  const size_t blocks = (imageBytes + kBlock - 1) / kBlock;
  std::thread phone([&] {
    Bytes packet(kBlock + 5, 0x5A), ack(5, 0x08), request(7);
    for (size_t i = 0; i < blocks; ++i)
      if (!ReadExactly(master, packet.data(), packet.size()) || !WriteExactly(master, ack.data(), ack.size())) return;
    for (size_t i = 0; i < blocks; ++i)
      if (!ReadExactly(master, request.data(), request.size()) || !WriteExactly(master, packet.data(), packet.size())) return;
  });
  Bytes packet(kBlock + 5, 0xA5), ack(5), request(7, 0x03), response(kBlock + 5);
  auto start = Clock::now();
  size_t outstanding = 0;
  for (size_t i = 0; i < blocks; ++i) {
    if (outstanding == kWindow) {
      ReadExactly(host, ack.data(), ack.size());
      --outstanding;
    }
    WriteExactly(host, packet.data(), packet.size());
    ++outstanding;
  }
  for (; outstanding > 0; --outstanding) ReadExactly(host, ack.data(), ack.size());
  for (size_t i = 0; i < blocks; ++i) {
    WriteExactly(host, request.data(), request.size());
    ReadExactly(host, response.data(), response.size());
  }
  double took = Seconds(Clock::now() - start);
  phone.join();
  ::close(host);
  ::close(master);
  return took;
}

Bytes MakeImage(size_t bytes) {
  Bytes image(bytes);
  for (size_t i = 0; i < bytes; ++i) image[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  bool slowLog = false;
  int pairs = 7;
  size_t mib = 16;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--slow-log") slowLog = true;
    else if (arg == "--pairs" && i + 1 < argc) pairs = std::max(1, std::atoi(argv[++i]));
    else if (arg == "--mib" && i + 1 < argc) mib = std::max<size_t>(1, std::strtoul(argv[++i], nullptr, 10));
    else return std::fprintf(stderr, "usage: streaming_bench [--slow-log] [--pairs K] [--mib M]\n"), 2;
  }
  std::string dir = (std::filesystem::temp_directory_path() / ("vantor-bench-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(dir + "/log");
  ProcessLog().Redirect(LogPlacement{[&](const std::string& name) { return dir + "/log/" + name; }, "",
                                     [] { return std::optional<std::string>("bench"); }});
  const Bytes image = MakeImage(mib << 20);
  const std::string imagePath = dir + "/boot.mbn";
  std::ofstream(imagePath, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

  auto program = [&] { return ProgramRun(dir, imagePath); };
  int status = 1;
  if (slowLog) {
    // "bound" here is the program with a fast log; the program half runs
    // with every flush of the log slowed to 10 ms.
    auto slowed = [&] {
      ScopedSyncHook slow([](int fd) {
        std::this_thread::sleep_for(kSlowFlush);
        return RealSyncFileData(fd);
      }, SyncKind::Data);
      return program();
    };
    if (auto figure = RunPairs("slow-log", pairs, slowed, program)) {
      std::printf("slow-log ratio=%.3f spread=%.3f-%.3f\n", figure->Median(), figure->Min(), figure->Max());
      status = 0;
    }
  } else {
    const Conversation conversation(image);
    if (auto figure = RunPairs("streaming", pairs, program, [&] { return BoundRun(dir, conversation); })) {
      std::vector<double> bare;
      for (int i = 0; i < 3; ++i) bare.push_back(BareExchange(image.size()));
      const double programSeconds = figure->MedianProgramSeconds();
      const double blocks = static_cast<double>(conversation.writes.starts.size());
      std::printf("image %zu MiB, N=%u W=%u, %d pairs; per block: program %.1f us, bound %.1f us (medians); "
                  "bare exchange %.3f s (median of 3)\n",
                  mib, kBlock, kWindow, pairs, programSeconds / blocks * 1e6,
                  programSeconds * figure->Median() / blocks * 1e6, PairedFigure::MedianOf(bare));
      std::printf("streaming fair-ratio=%.3f spread=%.3f-%.3f MB/s=%.2f bare-ratio=%.3f\n", figure->Median(),
                  figure->Min(), figure->Max(), image.size() / programSeconds / 1e6,
                  PairedFigure::MedianOf(bare) / programSeconds);
      status = 0;
    }
  }
  ProcessLog().Flush();
  std::filesystem::remove_all(dir);
  return status;
}
