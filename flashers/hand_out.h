// The common end of the job classes' creation functions: start the job for
// the device and hand it out as IDeviceReport; the job is released again when
// it cannot be handed out.
#pragma once
#include <string>

#include "jobs/device_report.h"
#include "shell/log.h"

template <class Job>
HRESULT HandOutJob(CComObject<Job>* job, const std::string& deviceId, IDeviceReport** out, const char* operation) {
  ComPtr<IDeviceReport> hold(job);
  job->StartWork(deviceId);
  HRESULT hr = hold.CopyTo(out);
  TraceResult(hr, operation, __LINE__);
  return hr;
}
