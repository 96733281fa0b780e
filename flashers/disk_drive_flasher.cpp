#include "flashers/disk_drive_flasher.h"

#include "download/disk_writer.h"
#include "flashers/hand_out.h"
#include "jobs/status_report.h"
#include "shell/log.h"

HRESULT CDiskDriveFlasher::StartFlash(const std::string& deviceId, const std::string& rawprogramXml,
                                      const std::string& patchXml, const std::string& searchPaths,
                                      IDeviceReport** out) {
  constexpr const char* kName = "CDiskDriveFlasher::StartFlash";
  CComObject<CDiskDriveFlasher>* job = nullptr;
  HRESULT hr = CComObject<CDiskDriveFlasher>::CreateInstance(&job);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  job->rawprogramXml_ = rawprogramXml;
  job->patchXml_ = patchXml;
  job->searchPaths_ = searchPaths;
  return HandOutJob(job, deviceId, out, kName);
}

HRESULT CDiskDriveFlasher::DoWork() {
  constexpr const char* kName = "CDiskDriveFlasher::DoWork";
  ComPtr<IQStatusReport> sink;
  HRESULT hr = CStatusReport<CDiskDriveFlasher>::CreateInstance(this, sink.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = DownloadToDiskDrive(GetDeviceId(), rawprogramXml_, patchXml_, searchPaths_, sink.Get());
  TraceResult(hr, kName, __LINE__);
  return hr;
}
