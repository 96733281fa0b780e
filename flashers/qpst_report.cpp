#include "flashers/qpst_report.h"

#include "platform/com/class_registry.h"
#include "platform/com/git.h"
#include "platform/timing.h"
#include "process/process_kill.h"
#include "shell/log.h"

namespace {

constexpr DWORD kPortWaitMs = 1000;

// Calls a member of the server by name, as a method.
HRESULT CallByName(IDispatch* server, const char* name, std::vector<Variant> args, Variant* result) {
  std::string member = name;
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = server->GetIDsOfNames(&member, 1, &id);
  if (FAILED(hr)) return hr;
  std::vector<Variant> reversed(args.rbegin(), args.rend());  // late-bound arguments come last-first
  DISPPARAMS params{reversed.data(), static_cast<unsigned>(reversed.size())};
  Variant ignored;
  return server->Invoke(id, DISPATCH_METHOD, &params, result ? result : &ignored);
}

}  // namespace

HRESULT CQPSTReport::FinalConstruct() {
  HRESULT hr = CDeviceReport::FinalConstruct();
  if (FAILED(hr)) return hr;
  ComPtr<IDispatch> server;
  CoCreateInstance(CLSID_AtmnServer, nullptr, CLSCTX_LOCAL_SERVER, IDispatch::kIid, server.ReleaseAndGetVoidAddress());
  if (server) RegisterInterfaceInGlobal(server.Get(), IDispatch::kIid, &serverCookie_);
  return S_OK;
}

CQPSTReport::~CQPSTReport() {
  // The worker has ended by now: the object is destroyed only after it.
  if (serverCookie_ == 0) return;
  ComPtr<IDispatch> server;
  GetInterfaceFromGlobal(serverCookie_, IDispatch::kIid, server.ReleaseAndGetVoidAddress());
  RevokeInterfaceFromGlobal(serverCookie_);
  if (server) CallByName(server.Get(), "Quit", {}, nullptr);
  CProcessList list;
  list.Snapshot();
  KillProcess(list, "QPSTServer.exe");
}

HRESULT CQPSTReport::GetPortObject(IQPortProxy** out) {
  constexpr const char* kName = "CQPSTReport::GetPortObject";
  if (!out) return E_POINTER;
  *out = nullptr;
  if (serverCookie_ == 0) return E_UNEXPECTED;
  ComPtr<IDispatch> server;
  HRESULT hr = GetInterfaceFromGlobal(serverCookie_, IDispatch::kIid, server.ReleaseAndGetVoidAddress());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  Variant portName = Variant::String(Bstr(GetDeviceId()));
  for (int attempt = 0;; ++attempt) {
    Variant result;
    hr = CallByName(server.Get(), "GetPort", {portName}, &result);
    if (TraceResult(hr, kName, __LINE__) && result.unknown()) {
      ComPtr<IQPortProxy> port;
      hr = result.unknown()->QueryInterface(IQPortProxy::kIid, port.ReleaseAndGetVoidAddress());
      if (!TraceResult(hr, kName, __LINE__)) return hr;
      Variant status;
      hr = port->get_PhoneStatus(&status);
      if (!TraceResult(hr, kName, __LINE__)) return hr;
      Variant value;
      if (SUCCEEDED(VariantChangeType(&value, status, VT_I4)) && value.Signed() == kPhoneReady) {
        hr = port->QueryInterface(IQPortProxy::kIid, reinterpret_cast<void**>(out));
        TraceResult(hr, kName, __LINE__);
        return hr;
      }
    }
    if (attempt == 10 || attempt == 20) {
      if (attempt == 20) {
        hr = CallByName(server.Get(), "RemovePort", {portName}, nullptr);
        if (!TraceResult(hr, kName, __LINE__)) return hr;
      }
      hr = CallByName(server.Get(), "AddPort", {portName, portName}, nullptr);
      if (!TraceResult(hr, kName, __LINE__)) return hr;
    }
    if (attempt == 30) return HRESULT_FROM_WIN32(ERROR_NOT_READY);
    ReportStatus("wait port ready to use %d", attempt);
    if (!WaitUnlessStopped(kPortWaitMs)) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  }
}

HRESULT CQPSTReport::GetSoftwareDownload(IQSoftwareDownload** out) {
  constexpr const char* kName = "CQPSTReport::GetSoftwareDownload";
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<IQPortProxy> port;
  HRESULT hr = GetPortObject(port.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ComPtr<IUnknown> download;
  hr = port->get_SoftwareDownload(download.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = download->QueryInterface(IQSoftwareDownload::kIid, reinterpret_cast<void**>(out));
  TraceResult(hr, kName, __LINE__);
  return hr;
}
