#include "jobs/refused_job.h"

#include "shell/log.h"

HRESULT CRefusedJob::Create(HRESULT result, IDeviceReport** out) {
  CComObject<CRefusedJob>* job = nullptr;
  HRESULT hr = CComObject<CRefusedJob>::CreateInstance(&job);
  if (!TraceResult(hr, "CRefusedJob::Create", __LINE__)) return hr;
  ComPtr<IDeviceReport> hold(job);
  job->SetResult(result);
  return hold.CopyTo(out);
}

HRESULT CRefusedJob::Create(HRESULT result, const std::string& reason, IDeviceReport** out) {
  ComPtr<IDeviceReport> job;
  HRESULT hr = Create(result, job.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  static_cast<CRefusedJob*>(job.Get())->ReportStatus("%s", reason.c_str());
  return job.CopyTo(out);
}
