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
#include "firehose/firehose_package.h"
#include "firehose/firehose_run.h"
#include "firehose/protocol_probe.h"
#include "jobs/discovery.h"
#include "platform/mapped_file.h"
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

// The DMSS download over an open port: the boot image is checked before the
// programmer goes out, so the phone stays in its boot loader when it is bad.
HRESULT DownloadDmss(SerialPort& port, const std::string& bootImage, const std::string& programmer,
                     IQStatusReport* sink, const char* name) {
  MappedFile image;
  HRESULT hr = OpenBootImage(bootImage, &image);
  if (!TraceResult(hr, name, __LINE__)) return hr;
  hr = DownloadFlashProgrammer(programmer, sink, port);
  if (!TraceResult(hr, name, __LINE__)) return hr;
  hr = DownloadMiniKernel(bootImage, image, sink, port);
  TraceResult(hr, name, __LINE__);
  return hr;
}

HRESULT DownloadFlashProgrammerAndMiniKernel(const std::string& bootImage, const std::string& portName,
                                             const std::string& programmer, IQStatusReport* sink) {
  constexpr const char* kName = "DownloadFlashProgrammerAndMiniKernel";
  // A boot image that cannot be streamed ends the run before the port opens.
  MappedFile image;
  HRESULT hr = OpenBootImage(bootImage, &image);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  NotifyStatus(sink, "Open serial port \"%s\"", portName.c_str());
  std::unique_ptr<SerialPort> port;
  hr = OpenSerialPort(portName, &port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  return DownloadDmss(*port, bootImage, programmer, sink, kName);  // the port closes here
}

HRESULT DownloadOverEmergencyPort(const std::string& portName, const EmergencyFiles& files, IQStatusReport* sink,
                                  bool* dmss) {
  constexpr const char* kName = "DownloadOverEmergencyPort";
  NotifyStatus(sink, "Open serial port \"%s\"", portName.c_str());
  std::unique_ptr<SerialPort> port;
  HRESULT hr = OpenSerialPort(portName, &port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  // Only listening first: a Sahara boot ROM speaks before it hears anything.
  ProbeResult probe;
  hr = ListenToPhone(*port, sink, &probe);
  if (SUCCEEDED(hr) && probe.protocol == PhoneProtocol::kSilent) hr = AskPhone(*port, sink, &probe);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  *dmss = probe.protocol == PhoneProtocol::kDmss || probe.protocol == PhoneProtocol::kSilent;
  if (*dmss) {
    NotifyProtocol(sink, kProtocolDmss, "Flash by DMSS download and streaming download");
    return DownloadDmss(*port, files.bootImage, files.programmer, sink, kName);
  }
  NotifyProtocol(sink, kProtocolFirehose, "Flash by Sahara and Firehose");
  FirehosePackage package;
  hr = ReadFirehosePackage(files.firehoseProgrammer, files.rawprogramXml, files.patchXml, files.searchPaths, sink,
                           &package);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = FlashWithFirehose(*port, package, probe, sink);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT RunDownload(IUnknown* settings, DWORD index, IQStatusReport* sink) {
  constexpr const char* kName = "CSoftwareDownload::DownloadBySettings";
  EmergencyFiles files;
  const std::pair<const char*, std::string*> parameters[] = {{"filepathxml", &files.rawprogramXml},
                                                             {"emmcfilepathboot", &files.bootImage},
                                                             {"filepathpatch", &files.patchXml},
                                                             {"searchpaths", &files.searchPaths},
                                                             {"flashprogrammer", &files.programmer}};
  for (const auto& [name, value] : parameters) {
    HRESULT hr = GetDownloadParameter(settings, name, value);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
  }
  // Only a phone whose boot ROM speaks Sahara needs it; a set without it
  // still flashes a DMSS phone.
  if (FAILED(GetDownloadParameter(settings, "firehoseprogrammer", &files.firehoseProgrammer)))
    files.firehoseProgrammer.clear();
  std::string port;
  HRESULT hr = GetDeviceName(index, kDeviceEmergencyDownload, sink, &port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  bool dmss = false;
  hr = DownloadOverEmergencyPort(port, files, sink, &dmss);
  if (!TraceResult(hr, kName, __LINE__) || !dmss) return hr;
  std::string disk;
  hr = GetDeviceName(index, kDeviceUsbDisk, sink, &disk);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = DownloadToDiskDrive(disk, files.rawprogramXml, files.patchXml, files.searchPaths, sink);
  TraceResult(hr, kName, __LINE__);
  return hr;
}
