#include "jobs/dispatch.h"

#include "flashers/disk_drive_flasher.h"
#include "flashers/emergency_flasher.h"
#include "flashers/fastboot_flasher.h"
#include "flashers/nv_item_jobs.h"
#include "jobs/discovery.h"
#include "jobs/refused_job.h"
#include "shell/log.h"

namespace {

// Hands out a placeholder with one reference added.
void Placeholder(CComObjectGlobal<COOMReport>& placeholder, IDeviceReport** out) {
  if (!out) return;
  placeholder.AddRef();
  *out = &placeholder;
}

HRESULT CreateFlashJob(const std::string& id, const JobSettings& s, IDeviceReport** out) {
  switch (GetDeviceType(id)) {
    case kDeviceEmergencyDownload:
      return CEmergencyFlasher::StartFlash(id, s.flashProgrammer, s.bootImage, s.rawprogramXml, s.patchXml,
                                           s.searchPaths, out, s.firehoseProgrammer, s.firehoseMemory);
    case kDeviceUsbDisk: return CDiskDriveFlasher::StartFlash(id, s.rawprogramXml, s.patchXml, s.searchPaths, out);
    case kDeviceFastboot: return CFastBootFlasher::StartFlash(id, s.fastbootScript, out);
    case kDeviceDiagnostic: return CNvItemFlasher::StartFlash(id, s.nvItemFile, s.searchPaths, out);
    default: return E_INVALIDARG;
  }
}

}  // namespace

void StartFlash(const std::string* deviceId, const JobSettings* settings, IDeviceReport** out) {
  static CComObjectGlobal<COOMReport> placeholder;
  HRESULT hr = deviceId && settings ? CreateFlashJob(*deviceId, *settings, out) : E_INVALIDARG;
  if (!TraceResult(hr, "StartFlash", __LINE__)) Placeholder(placeholder, out);
}

// A phone in any other mode than a running phone's gets a refused job that
// says so, rather than the placeholder's "out of memory".
void StartBackup(const std::string* deviceId, const std::string* searchPaths, IDeviceReport** out) {
  static CComObjectGlobal<COOMReport> placeholder;
  HRESULT hr = E_INVALIDARG;
  bool refused = false;
  if (deviceId && searchPaths) {
    refused = GetDeviceType(*deviceId) != kDeviceDiagnostic;
    hr = refused ? HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) : CNvItemBackup::StartBackup(*deviceId, *searchPaths, out);
  }
  if (TraceResult(hr, "StartBackup", __LINE__)) return;
  if (refused && out && SUCCEEDED(CRefusedJob::Create(hr, kNotARunningPhone, out))) return;
  Placeholder(placeholder, out);
}
