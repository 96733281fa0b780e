#include "download/software_download.h"

#include "download/download_run.h"
#include "jobs/discovery.h"
#include "jobs/status_sink.h"
#include "nv/nv_service.h"
#include "platform/com/git.h"
#include "platform/com/marshal.h"
#include "shell/log.h"

namespace {
CSoftwareDownload* Self(void* o) { return static_cast<CSoftwareDownload*>(o); }
}  // namespace

// The members in slot order, with the type library's dispatch identifiers:
// numbered from 1 in that order, a property's get and put sharing one.
// Members whose argument list is not known take none here.
const DispatchTable& CSoftwareDownload::Table() {
  using S = CSoftwareDownload;
  constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kMethod = DISPATCH_METHOD;
  constexpr VARTYPE V = VT_VARIANT;
  static const DispatchTable table(
      "IQSoftwareDownload", IQSoftwareDownload::kIid,
      {
          {"SetServer", 1, kPut, {V}, VT_EMPTY, DispatchPut<S, &S::put_SetServer>},
          {"SetPhone", 2, kPut, {V}, VT_EMPTY, DispatchPut<S, &S::put_SetPhone>},
          {"StatusReport", 3, kPut, {VT_UNKNOWN}, VT_EMPTY,
           [](void* o, std::span<Variant> a, Variant*) { return Self(o)->put_StatusReport(a[0].unknown()); }},
          {"DownloadPhoneImage", 4, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::DownloadPhoneImage>},
          {"DownloadBootImage", 5, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::DownloadBootImage>},
          {"BackupNV", 6, kMethod, {V, V}, VT_EMPTY,
           [](void* o, std::span<Variant> a, Variant*) { return Self(o)->BackupNV(a[0], a[1]); }},
          {"RestoreNV", 7, kMethod, {V, V, V}, VT_EMPTY,
           [](void* o, std::span<Variant> a, Variant*) { return Self(o)->RestoreNV(a[0], a[1], a[2]); }},
          {"GetCompletionStatus", 8, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::GetCompletionStatus>},
          {"GetErrorMessage", 9, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::GetErrorMessage>},
          {"DownloadPhoneAndBootImage", 10, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::DownloadPhoneAndBootImage>},
          {"NANDFlash", 11, kGet, {}, VT_VARIANT, DispatchGet<S, &S::get_NANDFlash>},
          {"MultiImageDownload", 12, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::MultiImageDownload>},
          {"OTPImageDownload", 13, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::OTPImageDownload>},
          {"DownloadCEFS_Image", 14, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::DownloadCEFS_Image>},
          {"GetMI_CompletedStatus", 15, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::GetMI_CompletedStatus>},
          {"OTPDownloadAMSS", 16, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::OTPDownloadAMSS>},
          {"OTPDownloadOEMSBL", 17, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::OTPDownloadOEMSBL>},
          {"ImageDownloadTimeout", 18, kGet, {}, VT_VARIANT, DispatchGet<S, &S::get_ImageDownloadTimeout>},
          {"ImageDownloadTimeout", 18, kPut, {V}, VT_EMPTY, DispatchPut<S, &S::put_ImageDownloadTimeout>},
          {"FactoryImageDownload", 19, kMethod, {}, VT_EMPTY, DispatchStandIn<S, &S::FactoryImageDownload>},
          {"DownloadCEFS_ImageAlternate", 20, kMethod, {}, VT_EMPTY,
           DispatchStandIn<S, &S::DownloadCEFS_ImageAlternate>},
          {"RestorePrlMode", 21, kGet, {}, VT_VARIANT, DispatchGet<S, &S::get_RestorePrlMode>},
          {"RestorePrlMode", 21, kPut, {V}, VT_EMPTY, DispatchPut<S, &S::put_RestorePrlMode>},
          {"DownloadSettings", 22, kGet, {}, VT_VARIANT, DispatchGet<S, &S::get_DownloadSettings>},
          {"DownloadBySettings", 23, kMethod, {VT_UNKNOWN}, VT_EMPTY,
           [](void* o, std::span<Variant> a, Variant*) { return Self(o)->DownloadBySettings(a[0].unknown()); }},
      });
  return table;
}

HRESULT CSoftwareDownload::CreateInstance(const std::string& deviceId, IQSoftwareDownload** out) {
  constexpr const char* kName = "CSoftwareDownload::CreateInstance";
  if (!out) return E_POINTER;
  *out = nullptr;
  CComObject<CSoftwareDownload>* object = nullptr;
  HRESULT hr = CComObject<CSoftwareDownload>::CreateInstance(&object);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ComPtr<IQSoftwareDownload> hold(object);  // destroys the object on every failure below
  object->deviceId_ = deviceId;
  object->index_ = GetDeviceIndex(deviceId);
  if (object->index_ == 0) {
    TraceResult(E_INVALIDARG, kName, __LINE__);
    return E_INVALIDARG;
  }
  hr = object->QueryInterface(IQSoftwareDownload::kIid, reinterpret_cast<void**>(out));
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT CSoftwareDownload::FinalConstruct() {
  return marshaler_.Create(static_cast<IQSoftwareDownload*>(this));
}

CSoftwareDownload::~CSoftwareDownload() {
  if (sinkCookie_) RevokeInterfaceFromGlobal(sinkCookie_);
}

HRESULT CSoftwareDownload::InternalQueryInterface(REFIID iid, void** object) {
  if (iid == IUnknown::kIid || iid == IDispatch::kIid || iid == IQSoftwareDownload::kIid)
    return ReturnInterface(static_cast<IQSoftwareDownload*>(this), object);
  return marshaler_.QueryInterface(iid, object);
}

HRESULT CSoftwareDownload::put_StatusReport(IUnknown* unknown) {
  ComPtr<IQStatusReport> sink;
  if (unknown) unknown->QueryInterface(IQStatusReport::kIid, sink.ReleaseAndGetVoidAddress());
  HRESULT hr = S_OK;
  if (sink) {
    if (sinkCookie_) hr = RevokeInterfaceFromGlobal(sinkCookie_);
    if (SUCCEEDED(hr)) {
      sinkCookie_ = 0;
      hr = RegisterInterfaceInGlobal(sink.Get(), IQStatusReport::kIid, &sinkCookie_);
    }
    return hr;
  }
  if (sinkCookie_) {
    hr = RevokeInterfaceFromGlobal(sinkCookie_);
    if (SUCCEEDED(hr)) sinkCookie_ = 0;
  }
  return hr;
}

HRESULT CSoftwareDownload::DownloadBySettings(IUnknown* settings) {
  constexpr const char* kName = "CSoftwareDownload::DownloadBySettings";
  ComPtr<IQStatusReport> sink;
  HRESULT hr = GetInterfaceFromGlobal(sinkCookie_, IQStatusReport::kIid, sink.ReleaseAndGetVoidAddress());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  return RunDownload(settings, index_, sink.Get());
}

HRESULT CSoftwareDownload::Sink(ComPtr<IQStatusReport>* sink, const char* operation) {
  if (sinkCookie_ == 0) return S_OK;  // no sink: the texts go nowhere
  HRESULT hr = GetInterfaceFromGlobal(sinkCookie_, IQStatusReport::kIid, sink->ReleaseAndGetVoidAddress());
  TraceResult(hr, operation, __LINE__);
  return hr;
}

HRESULT CSoftwareDownload::BackupNV(const Variant& backupNVFilePath, const Variant& spc) {
  constexpr const char* kName = "CSoftwareDownload::BackupNV";
  ComPtr<IQStatusReport> sink;
  HRESULT hr = Sink(&sink, kName);
  if (FAILED(hr)) return hr;
  NvBackupOptions options;
  options.walkBound = ReadNvWalkBound();
  hr = BackupNvItems(deviceId_, backupNVFilePath.bstr().str(), spc.bstr().str(), options, sink.Get());
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT CSoftwareDownload::RestoreNV(const Variant& backupNVFilePath, const Variant& spc,
                                     const Variant& allowEsnMismatch) {
  constexpr const char* kName = "CSoftwareDownload::RestoreNV";
  ComPtr<IQStatusReport> sink;
  HRESULT hr = Sink(&sink, kName);
  if (FAILED(hr)) return hr;
  hr = RestoreNvItems(deviceId_, backupNVFilePath.bstr().str(), spc.bstr().str(), allowEsnMismatch.Signed() == 1,
                      sink.Get());
  TraceResult(hr, kName, __LINE__);
  return hr;
}
