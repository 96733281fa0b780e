// Streaming download throughput against the bound the protocol itself has on
// a pty: DownloadMiniKernel of a 64 MiB image to the virtual bench (N = 1024,
// W = 8), then a bare exchange over a pty pair with the same packet pattern
// and no framing (windowed writes of N + 5 bytes each acknowledged by 5
// bytes, then one-by-one reads: a 7-byte request answered by N + 5 bytes).
// The last line reads "streaming MB/s=<x> bare-protocol MB/s=<y> ratio=<x/y>".
// Usage: streaming_bench [MIB [streaming|bare]]; the second argument runs one
// measurement alone (for profiling).
#include <fcntl.h>
#include <poll.h>
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

#include "download/serial_port.h"
#include "download/streaming.h"
#include "tools/phonesim/pty_phone.h"

namespace {

constexpr std::uint32_t kBlock = 1024;
constexpr std::uint16_t kWindow = 8;
constexpr int kRounds = 3;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

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

// Both passes of the bare exchange; returns their time in seconds.
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
    std::vector<unsigned char> packet(kBlock + 5, 0x5A), ack(5, 0x08), request(7);
    for (size_t i = 0; i < blocks; ++i) {
      if (!ReadExactly(master, packet.data(), packet.size()) || !WriteExactly(master, ack.data(), ack.size())) return;
    }
    for (size_t i = 0; i < blocks; ++i) {
      if (!ReadExactly(master, request.data(), request.size()) || !WriteExactly(master, packet.data(), packet.size())) return;
    }
  });

  std::vector<unsigned char> packet(kBlock + 5, 0xA5), ack(5), request(7, 0x03), response(kBlock + 5);
  auto start = std::chrono::steady_clock::now();
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
  double took = Seconds(std::chrono::steady_clock::now() - start);
  phone.join();
  ::close(host);
  ::close(master);
  return took;
}

// Notes when the read-back pass begins, to split the time of the two passes.
struct PhaseSink : IQStatusReport {
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT NewStatus(LONG, const Bstr&, const Bstr& text) override {
    if (text.str().rfind("ReadPacket address 00000000", 0) == 0) readStart = std::chrono::steady_clock::now();
    return S_OK;
  }
  std::chrono::steady_clock::time_point readStart;
};

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  if (megabytes == 0) megabytes = 64;
  std::string only = argc > 2 ? argv[2] : "";
  const size_t imageBytes = megabytes << 20;
  std::string dir = (std::filesystem::temp_directory_path() / ("vantor-bench-" + std::to_string(::getpid()))).string();
  std::filesystem::create_directories(dir);
  std::string image = dir + "/boot.mbn";
  {
    std::vector<char> bytes(imageBytes);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 13);
    std::ofstream(image, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  // The machine's load varies from second to second: alternate the two
  // measurements and keep the best of each.
  double streaming = 1e9, bare = 1e9, writePass = 0, readPass = 0;
  for (int round = 0; round < kRounds; ++round) {
    if (only == "bare") {
      bare = std::min(bare, BareExchange(imageBytes));
      continue;
    }
    phonesim::BenchPhoneOptions options;
    options.benchDir = dir;
    options.phone.block = kBlock;
    options.phone.window = kWindow;
    options.phone.startInProgrammer = true;
    options.neverReturnsAsDisk = true;
    phonesim::PtyEmergencyPhone phone(options);
    std::string error;
    if (!phone.Start(&error)) {
      std::fprintf(stderr, "bench: %s\n", error.c_str());
      return 1;
    }
    std::unique_ptr<SerialPort> port;
    HRESULT hr = OpenSerialPort(phone.portPath(), &port);
    PhaseSink phases;
    auto start = std::chrono::steady_clock::now();
    if (SUCCEEDED(hr)) hr = DownloadMiniKernel(image, &phases, *port);
    auto end = std::chrono::steady_clock::now();
    port.reset();
    phone.Stop();
    if (FAILED(hr)) {
      std::fprintf(stderr, "bench: DownloadMiniKernel failed (0x%08x)\n", static_cast<unsigned>(hr));
      return 1;
    }
    if (Seconds(end - start) < streaming) {
      streaming = Seconds(end - start);
      writePass = Seconds(phases.readStart - start);
      readPass = Seconds(end - phases.readStart);
    }
    if (only != "streaming") bare = std::min(bare, BareExchange(imageBytes));
  }
  std::filesystem::remove_all(dir);

  double x = imageBytes / streaming / 1e6, y = imageBytes / bare / 1e6;
  std::printf("image %zu MiB, N=%u W=%u, best of %d: streaming %.2f s (writes %.2f s, read-back %.2f s), bare exchange %.2f s\n",
              megabytes, kBlock, kWindow, kRounds, streaming, writePass, readPass, bare);
  std::printf("streaming MB/s=%.2f bare-protocol MB/s=%.2f ratio=%.2f\n", x, y, x / y);
  return 0;
}
