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

namespace {

// The DMSS download over an open port, from a package already checked.
HRESULT DownloadDmss(SerialPort& port, const EmergencyPackage& package, IQStatusReport* sink, const char* name) {
  HRESULT hr = DownloadFlashProgrammer(package.programmerPath, package.programmer, sink, port);
  if (!TraceResult(hr, name, __LINE__)) return hr;
  hr = DownloadMiniKernel(package.bootPath, package.boot, sink, port);
  TraceResult(hr, name, __LINE__);
  return hr;
}

}  // namespace

HRESULT DownloadFlashProgrammerAndMiniKernel(const EmergencyPackage& package, const std::string& portName,
                                             IQStatusReport* sink) {
  constexpr const char* kName = "DownloadFlashProgrammerAndMiniKernel";
  NotifyStatus(sink, "Open serial port \"%s\"", portName.c_str());
  std::unique_ptr<SerialPort> port;
  HRESULT hr = OpenSerialPort(portName, &port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  return DownloadDmss(*port, package, sink, kName);  // the port closes here
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

HRESULT CheckEmergencyPackages(const EmergencyFiles& files, IQStatusReport* sink, CheckedEmergencyPackages* checked) {
  constexpr const char* kName = "CheckEmergencyPackages";
  checked->dmssResult = CheckEmergencyPackage(files.programmer, files.bootImage, files.rawprogramXml, files.patchXml,
                                              files.searchPaths, &checked->dmss);
  checked->firehoseResult = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  if (!files.firehoseProgrammer.empty())
    checked->firehoseResult = ReadFirehosePackage(files.firehoseProgrammer, files.rawprogramXml, files.patchXml,
                                                  files.searchPaths, files.firehoseMemory, sink, &checked->firehose);
  // Neither kind of phone could be flashed whole: refused as a DMSS package.
  if (FAILED(checked->dmssResult) && FAILED(checked->firehoseResult)) {
    if (!checked->dmss.disk.failedImage.empty())
      NotifyStatus(sink, "Open image file \"%s\"", checked->dmss.disk.failedImage.c_str());
    TraceResult(checked->dmssResult, kName, __LINE__);
    return checked->dmssResult;
  }
  return S_OK;
}

HRESULT DownloadOverEmergencyPort(const std::string& portName, const CheckedEmergencyPackages& checked,
                                  IQStatusReport* sink, bool* dmss) {
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
    if (!TraceResult(checked.dmssResult, kName, __LINE__)) return checked.dmssResult;
    return DownloadDmss(*port, checked.dmss, sink, kName);
  }
  NotifyProtocol(sink, kProtocolFirehose, "Flash by Sahara and Firehose");
  if (!TraceResult(checked.firehoseResult, kName, __LINE__)) return checked.firehoseResult;
  hr = FlashWithFirehose(*port, checked.firehose, probe, sink);
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
  if (FAILED(GetDownloadParameter(settings, "firehosememory", &files.firehoseMemory))) files.firehoseMemory.clear();
  // A package that cannot be written whole is refused before the phone hears
  // a byte: a phone left half-flashed is worse than one left alone.
  CheckedEmergencyPackages checked;
  HRESULT hr = CheckEmergencyPackages(files, sink, &checked);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  std::string port;
  hr = GetDeviceName(index, kDeviceEmergencyDownload, sink, &port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  bool dmss = false;
  hr = DownloadOverEmergencyPort(port, checked, sink, &dmss);
  if (!TraceResult(hr, kName, __LINE__) || !dmss) return hr;
  std::string disk;
  hr = GetDeviceName(index, kDeviceUsbDisk, sink, &disk);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = DownloadToDiskDrive(disk, checked.dmss.disk, sink);
  TraceResult(hr, kName, __LINE__);
  return hr;
}
