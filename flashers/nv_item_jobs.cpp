#include "flashers/nv_item_jobs.h"

#include <unistd.h>

#include "flashers/hand_out.h"
#include "jobs/discovery.h"
#include "jobs/status_report.h"
#include "platform/timing.h"
#include "process/search_file.h"
#include "shell/log.h"

namespace {

constexpr int kRestoreAttempts = 2;
constexpr DWORD kRetryPauseMs = 5000;

}  // namespace

std::string BackupFilePath(const std::string& deviceId, const std::string& searchPaths) {
  return SearchFile(searchPaths, GetDeviceIMEI(deviceId) + ".qcn");
}

std::string RestoreFilePath(const std::string& deviceId, const std::string& nvFile, const std::string& searchPaths) {
  if (!nvFile.empty() && ::access(nvFile.c_str(), F_OK) == 0) return nvFile;
  return BackupFilePath(deviceId, searchPaths);
}

HRESULT CNvItemFlasher::StartFlash(const std::string& deviceId, const std::string& nvFile,
                                   const std::string& searchPaths, IDeviceReport** out) {
  constexpr const char* kName = "CNvItemFlasher::StartFlash";
  CComObject<CNvItemFlasher>* job = nullptr;
  HRESULT hr = CComObject<CNvItemFlasher>::CreateInstance(&job);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  job->qcn_ = RestoreFilePath(deviceId, nvFile, searchPaths);
  return HandOutJob(job, deviceId, out, kName);
}

// One restore attempt. *ended is set when the result is final (success, or a
// failure that is not retried); otherwise the attempt may be repeated.
HRESULT CNvItemFlasher::Attempt(HRESULT* ended) {
  constexpr const char* kName = "CNvItemFlasher::DoWork";
  ComPtr<IQPortProxy> port;
  HRESULT hr = GetPortObject(port.ReleaseAndGetAddressOf());
  AddProgress(10.0);
  if (!TraceResult(hr, kName, __LINE__)) return *ended = hr;
  hr = port->Offline();
  AddProgress(10.0);
  if (!TraceResult(hr, kName, __LINE__)) return *ended = hr;
  ComPtr<IQSoftwareDownload> download;
  ComPtr<IQStatusReport> sink;
  hr = GetSoftwareDownload(download.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = CStatusReport<CNvItemFlasher>::CreateInstance(this, sink.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = download->put_StatusReport(sink.Get());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ReportStatus("start flash %s", qcn_.c_str());
  hr = download->RestoreNV(Variant::String(Bstr(qcn_)), Variant::String(Bstr(kServiceProgrammingCode)), Variant::I4(1));
  if (TraceResult(hr, kName, __LINE__)) *ended = S_OK;
  return hr;
}

HRESULT CNvItemFlasher::DoWork() {
  HRESULT hr = E_FAIL;
  for (int attempt = 1; attempt <= kRestoreAttempts; ++attempt) {
    HRESULT ended = S_FALSE;
    hr = Attempt(&ended);
    if (ended != S_FALSE) return ended;
    if (!WaitUnlessStopped(kRetryPauseMs)) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  }
  return hr;
}

HRESULT CNvItemBackup::StartBackup(const std::string& deviceId, const std::string& searchPaths, IDeviceReport** out) {
  constexpr const char* kName = "CNvItemBackup::StartBackup";
  CComObject<CNvItemBackup>* job = nullptr;
  HRESULT hr = CComObject<CNvItemBackup>::CreateInstance(&job);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  job->qcn_ = BackupFilePath(deviceId, searchPaths);
  return HandOutJob(job, deviceId, out, kName);
}

HRESULT CNvItemBackup::DoWork() {
  constexpr const char* kName = "CNvItemBackup::DoWork";
  ComPtr<IQSoftwareDownload> download;
  HRESULT hr = GetSoftwareDownload(download.ReleaseAndGetAddressOf());
  AddProgress(20.0);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ComPtr<IQStatusReport> sink;
  hr = CStatusReport<CNvItemBackup>::CreateInstance(this, sink.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = download->put_StatusReport(sink.Get());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ::unlink(qcn_.c_str());  // the result is of no interest
  ReportStatus("start backup %s", qcn_.c_str());
  hr = download->BackupNV(Variant::String(Bstr(qcn_)), Variant::String(Bstr(kServiceProgrammingCode)));
  TraceResult(hr, kName, __LINE__);
  return hr;
}
