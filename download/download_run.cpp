#include "download/download_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "download/disk_writer.h"
#include "download/download_settings.h"
#include "download/programmer.h"
#include "download/serial_port.h"
#include "download/streaming.h"
#include "download/transport.h"
#include "jobs/discovery.h"
#include "platform/timing.h"
#include "platform/unique_fd.h"
#include "shell/log.h"

namespace {

constexpr int kLastAttempt = 60;
constexpr DWORD kAttemptWaitMs = 1000;
constexpr DWORD kSettleWaitMs = 5000;
constexpr HRESULT kCancelled = HRESULT_FROM_WIN32(ERROR_CANCELLED);

// Opens the device with no data access and closes it at once.
HRESULT TestOpen(const std::string& device) {
  UniqueFd fd(::open(device.c_str(), O_PATH | O_CLOEXEC));
  return fd.valid() ? S_OK : HresultFromLastErrno();
}

// The programmer parsed and the boot image opened: what goes out on the port.
HRESULT LoadSerialHalf(const std::string& programmer, const std::string& bootImage, EmergencyPackage* package) {
  package->programmerPath = programmer;
  HRESULT hr = LoadIntelHex(programmer, &package->programmer);
  if (FAILED(hr)) return hr;
  package->bootPath = bootImage;
  return package->boot.Open(bootImage);
}

}  // namespace

HRESULT GetDeviceName(DWORD index, DWORD kind, IQStatusReport* sink, std::string* out) {
  constexpr const char* kName = "CSoftwareDownload::GetDeviceName";
  for (int attempt = 0;; ++attempt) {
    *out = QueryDeviceName(index, kNameDeviceId);
    if (!out->empty() && GetDeviceType(*out) == kind) {
      HRESULT hr = TestOpen(*out);
      if (TraceResult(hr, kName, __LINE__)) {
        if (attempt != 0 && !WaitUnlessStopped(kSettleWaitMs)) return kCancelled;
        return S_OK;
      }
    }
    if (attempt == kLastAttempt) {
      TraceResult(HRESULT_FROM_WIN32(ERROR_NOT_READY), kName, __LINE__);
      return HRESULT_FROM_WIN32(ERROR_NOT_READY);
    }
    NotifyStatus(sink, "Wait device connect %d", attempt);
    if (!WaitUnlessStopped(kAttemptWaitMs)) return kCancelled;
  }
}

HRESULT CheckEmergencyPackage(const std::string& programmer, const std::string& bootImage,
                              const std::string& rawprogramXml, const std::string& patchXml,
                              const std::string& searchPaths, EmergencyPackage* package) {
  constexpr const char* kName = "CheckEmergencyPackage";
  HRESULT hr = LoadSerialHalf(programmer, bootImage, package);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = CheckPackage(rawprogramXml, patchXml, searchPaths, &package->disk);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT DownloadFlashProgrammerAndMiniKernel(const EmergencyPackage& package, const std::string& portName,
                                             IQStatusReport* sink) {
  constexpr const char* kName = "DownloadFlashProgrammerAndMiniKernel";
  NotifyStatus(sink, "Open serial port \"%s\"", portName.c_str());
  std::unique_ptr<SerialPort> port;
  HRESULT hr = OpenSerialPort(portName, &port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = DownloadFlashProgrammer(package.programmerPath, package.programmer, sink, *port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = DownloadMiniKernel(package.bootPath, package.boot, sink, *port);
  TraceResult(hr, kName, __LINE__);
  return hr;  // the port closes here
}

HRESULT DownloadFlashProgrammerAndMiniKernel(const std::string& bootImage, const std::string& portName,
                                             const std::string& programmer, IQStatusReport* sink) {
  constexpr const char* kName = "DownloadFlashProgrammerAndMiniKernel";
  // A programmer or boot image that cannot be sent ends the run before the
  // port is opened, so the phone stays in its boot loader.
  EmergencyPackage package;
  HRESULT hr = LoadSerialHalf(programmer, bootImage, &package);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  return DownloadFlashProgrammerAndMiniKernel(package, portName, sink);
}

HRESULT RunDownload(IUnknown* settings, DWORD index, IQStatusReport* sink) {
  constexpr const char* kName = "CSoftwareDownload::DownloadBySettings";
  std::string rawprogram, boot, patch, searchPaths, programmer;
  const std::pair<const char*, std::string*> parameters[] = {{"filepathxml", &rawprogram},
                                                             {"emmcfilepathboot", &boot},
                                                             {"filepathpatch", &patch},
                                                             {"searchpaths", &searchPaths},
                                                             {"flashprogrammer", &programmer}};
  for (const auto& [name, value] : parameters) {
    HRESULT hr = GetDownloadParameter(settings, name, value);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
  }
  // A package that cannot be written whole is refused before the phone hears
  // a byte: a phone left half-flashed is worse than one left alone.
  EmergencyPackage package;
  HRESULT hr = CheckEmergencyPackage(programmer, boot, rawprogram, patch, searchPaths, &package);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  std::string port;
  hr = GetDeviceName(index, kDeviceEmergencyDownload, sink, &port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = DownloadFlashProgrammerAndMiniKernel(package, port, sink);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  std::string disk;
  hr = GetDeviceName(index, kDeviceUsbDisk, sink, &disk);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = DownloadToDiskDrive(disk, package.disk, sink);
  TraceResult(hr, kName, __LINE__);
  return hr;
}
