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

int Failed(HRESULT hr, const CPrintSink* sink = nullptr) {
  PrintCommandFailure("download", hr, sink ? sink->newest() : std::string());
  return 1;
}

// Loads the flash programmer and streams the boot image over one port, as a
// download run does before it waits for the disk.
int RunDownload(const ParsedOptions& parsed) {
  std::string port = parsed.Value("port"), programmer = parsed.Value("programmer"), boot = parsed.Value("boot");
  CComObject<CPrintSink>* raw = nullptr;
  HRESULT hr = CComObject<CPrintSink>::CreateInstance(&raw);
  if (FAILED(hr)) return Failed(hr);
  ComPtr<IQStatusReport> sink(raw);
  raw->Init(port, stdout);

  std::unique_ptr<SerialPort> serial;
  hr = OpenSerialPort(port, &serial);
  if (!TraceResult(hr, "RunDownloadCommand", __LINE__)) return Failed(hr, raw);
  hr = DownloadFlashProgrammer(programmer, sink.Get(), *serial);
  if (FAILED(hr)) return Failed(hr, raw);
  hr = DownloadMiniKernel(boot, sink.Get(), *serial);
  if (FAILED(hr)) return Failed(hr, raw);
  return 0;
}

}  // namespace

const CommandSpec kDownloadCommand{
    "download",
    "load the flash programmer into a phone in emergency download mode, stream the boot image, reset it",
    {{"port", 0, "PORT", "the phone's serial port (/dev/ttyUSBn, or a bench pseudo-terminal)", false, true},
     {"programmer", 0, "HEX", "the flash programmer in Intel HEX format", false, true},
     {"boot", 0, "IMAGE", "the boot image streamed into the eMMC", false, true}},
    RunDownload};
