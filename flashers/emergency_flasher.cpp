#include "flashers/emergency_flasher.h"

#include "jobs/status_report.h"
#include "platform/com/class_registry.h"
#include "platform/com/git.h"
#include "shell/log.h"

CEmergencyFlasher::~CEmergencyFlasher() {
  if (settingsCookie_) RevokeInterfaceFromGlobal(settingsCookie_);
}

HRESULT CEmergencyFlasher::StartFlash(const std::string& deviceId, const std::string& programmer,
                                      const std::string& bootImage, const std::string& rawprogramXml,
                                      const std::string& patchXml, const std::string& searchPaths,
                                      IDeviceReport** out, const std::string& firehoseProgrammer,
                                      const std::string& firehoseMemory) {
  constexpr const char* kName = "CEmergencyFlasher::StartFlash";
  CComObject<CEmergencyFlasher>* job = nullptr;
  HRESULT hr = CComObject<CEmergencyFlasher>::CreateInstance(&job);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ComPtr<IDeviceReport> hold(job);
  const std::pair<const char*, std::string> parameters[] = {
      {"flashprogrammer", programmer}, {"emmcfilepathboot", bootImage}, {"filepathxml", rawprogramXml},
      {"filepathpatch", patchXml},     {"searchpaths", searchPaths},    {"downloadtarget", "emmc"},
      {"skipreset", "1"},              {"usetrustedmode", "1"},         {"firehoseprogrammer", firehoseProgrammer},
      {"firehosememory", firehoseMemory}};
  for (const auto& [name, value] : parameters) {
    hr = job->SetDownloadParameter(name, value);
    if (!TraceResult(hr, kName, __LINE__)) break;
  }
  // A parameter that cannot be set hands the job out already failed.
  if (FAILED(hr)) job->SetResult(hr);
  else job->StartWork(deviceId);
  hr = hold.CopyTo(out);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT CEmergencyFlasher::SetDownloadParameter(const std::string& name, const std::string& value) {
  constexpr const char* kName = "CEmergencyFlasher::SetDownloadParameter";
  ComPtr<IDownloadSettings> settings;
  HRESULT hr;
  if (settingsCookie_ == 0) {
    hr = CoCreateInstance(CLSID_DownloadSettings, nullptr, CLSCTX_ALL, IDownloadSettings::kIid,
                          settings.ReleaseAndGetVoidAddress());
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    hr = RegisterInterfaceInGlobal(settings.Get(), IDownloadSettings::kIid, &settingsCookie_);
  } else {
    hr = GetInterfaceFromGlobal(settingsCookie_, IDownloadSettings::kIid, settings.ReleaseAndGetVoidAddress());
  }
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = settings->SetParam(Variant::String(Bstr(name)), Variant::String(Bstr(value)));
  TraceResult(hr, kName, __LINE__);
  return hr;
}

void CEmergencyFlasher::SetProtocol(const std::string& protocol) {
  std::lock_guard guard(protocolLock_);
  protocol_ = protocol;
}

std::string CEmergencyFlasher::Protocol() const {
  std::lock_guard guard(protocolLock_);
  return protocol_;
}

bool CEmergencyFlasher::IsQPSTServer() {
  constexpr const char* kName = "CEmergencyFlasher::IsQPSTServer";
  ComPtr<IDownloadSettings> settings;
  HRESULT hr = GetInterfaceFromGlobal(settingsCookie_, IDownloadSettings::kIid, settings.ReleaseAndGetVoidAddress());
  if (!TraceResult(hr, kName, __LINE__)) return false;
  Variant known;
  return TraceResult(settings->get_IsKnownConfiguration(&known), kName, __LINE__);
}

HRESULT CEmergencyFlasher::DoWork() {
  constexpr const char* kName = "CEmergencyFlasher::DoWork";
  if (IsQPSTServer() && !lock_.held()) {
    HRESULT hr = lock_.Acquire();
    if (!TraceResult(hr, kName, __LINE__)) return hr;
  }
  HRESULT hr = Download();
  lock_.Release();
  return hr;
}

// One failure leaves one trace line, at the line of the step that failed.
HRESULT CEmergencyFlasher::Download() {
  constexpr const char* kName = "CEmergencyFlasher::DoWork";
  ComPtr<IQSoftwareDownload> download;
  HRESULT hr = GetSoftwareDownload(download.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ComPtr<IQStatusReport> sink;
  hr = CStatusReport<CEmergencyFlasher>::CreateInstance(this, sink.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = download->put_StatusReport(sink.Get());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ComPtr<IDownloadSettings> settings;
  hr = GetInterfaceFromGlobal(settingsCookie_, IDownloadSettings::kIid, settings.ReleaseAndGetVoidAddress());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = download->DownloadBySettings(settings.Get());
  if (!TraceResult(hr, kName, __LINE__) && lastEvent_) {
    ReportStatus("receive last event, but fail with 0x%08x", static_cast<unsigned>(hr));
    hr = S_OK;
  }
  return hr;
}
