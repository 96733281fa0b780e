#include "cli/download_command.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/print_sink.h"
#include "download/programmer.h"
#include "download/serial_port.h"
#include "download/streaming.h"
#include "platform/error_text.h"
#include "platform/com/comptr.h"
#include "shell/log.h"

namespace {

void Usage() {
  std::fprintf(stderr, "usage: vantor-cli download --port PORT --programmer HEX --boot IMAGE\n");
}

int Failed(HRESULT hr) {
  std::printf("error: %s(0x%08x)\n", GetErrorText(hr).c_str(), static_cast<unsigned>(hr));
  return 1;
}

}  // namespace

// Loads the flash programmer and streams the boot image over one port, as a
// download run does before it waits for the disk.
int RunDownloadCommand(int argc, char** argv) {
  std::string port, programmer, boot;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    std::string* target = arg == "--port" ? &port : arg == "--programmer" ? &programmer : arg == "--boot" ? &boot : nullptr;
    if (!target || i + 1 >= argc) {
      Usage();
      return 2;
    }
    *target = argv[++i];
  }
  if (port.empty() || programmer.empty() || boot.empty()) {
    Usage();
    return 2;
  }

  CComObject<CPrintSink>* raw = nullptr;
  HRESULT hr = CComObject<CPrintSink>::CreateInstance(&raw);
  if (FAILED(hr)) return Failed(hr);
  ComPtr<IQStatusReport> sink(raw);
  raw->Init(port, stdout);

  std::unique_ptr<SerialPort> serial;
  hr = OpenSerialPort(port, &serial);
  if (!TraceResult(hr, "RunDownloadCommand", __LINE__)) return Failed(hr);
  hr = DownloadFlashProgrammer(programmer, sink.Get(), *serial);
  if (FAILED(hr)) return Failed(hr);
  hr = DownloadMiniKernel(boot, sink.Get(), *serial);
  if (FAILED(hr)) return Failed(hr);
  return 0;
}
