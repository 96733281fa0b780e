#include "download/server_objects.h"

#include "nv/nv_service.h"
#include "platform/com/class_registry.h"
#include "platform/com/marshal.h"
#include "shell/log.h"

namespace {

// The class object of a creatable class T.
template <class T>
class CClassFactory : public IClassFactory, public CComObjectRoot {
 public:
  HRESULT InternalQueryInterface(REFIID iid, void** object) {
    if (iid == IUnknown::kIid || iid == IClassFactory::kIid) return ReturnInterface(static_cast<IClassFactory*>(this), object);
    return E_NOINTERFACE;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CComObject<T>* created = nullptr;
    HRESULT hr = CComObject<T>::CreateInstance(&created);
    if (FAILED(hr)) return hr;
    created->AddRef();
    hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    lock ? ModuleLock() : ModuleUnlock();
    return S_OK;
  }
};

template <class T>
HRESULT RegisterClass(REFCLSID clsid, std::vector<DWORD>* cookies) {
  // The registration, not a client, holds the class object: it must not
  // keep the server module alive.
  CComObjectNoLock<CClassFactory<T>>* factory = nullptr;
  HRESULT hr = CComObjectNoLock<CClassFactory<T>>::CreateInstance(&factory);
  if (FAILED(hr)) return hr;
  ComPtr<IClassFactory> hold(factory);
  DWORD cookie = 0;
  hr = CoRegisterClassObject(clsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie);
  if (SUCCEEDED(hr)) cookies->push_back(cookie);
  return hr;
}

CPortProxy* Port(void* o) { return static_cast<CPortProxy*>(o); }
enum : DISPID { kDispPhoneStatus = 10, kDispSoftwareDownload = 23 };

}  // namespace

// ---- CPortProxy ----------------------------------------------------------

const DispatchTable& CPortProxy::Table() {
  static const DispatchTable table(
      "IQPortProxy", IQPortProxy::kIid,
      {
          {"PhoneStatus", kDispPhoneStatus, DISPATCH_PROPERTYGET, {}, VT_VARIANT,
           [](void* o, std::span<Variant>, Variant* r) { return Port(o)->get_PhoneStatus(r); }},
          {"SoftwareDownload", kDispSoftwareDownload, DISPATCH_PROPERTYGET, {}, VT_UNKNOWN,
           [](void* o, std::span<Variant>, Variant* r) {
             IUnknown* download = nullptr;
             HRESULT hr = Port(o)->get_SoftwareDownload(&download);
             if (SUCCEEDED(hr)) {
               *r = Variant::Unknown(download);
               download->Release();
             }
             return hr;
           }},
      });
  return table;
}

HRESULT CPortProxy::CreateInstance(const std::string& portName, IQPortProxy** out) {
  constexpr const char* kName = "CPortProxy::CreateInstance";
  if (!out) return E_POINTER;
  *out = nullptr;
  CComObject<CPortProxy>* object = nullptr;
  HRESULT hr = CComObject<CPortProxy>::CreateInstance(&object);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ComPtr<IQPortProxy> hold(object);
  object->portName_ = portName;
  hr = object->QueryInterface(IQPortProxy::kIid, reinterpret_cast<void**>(out));
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT CPortProxy::FinalConstruct() {
  return marshaler_.Create(static_cast<IQPortProxy*>(this));
}

HRESULT CPortProxy::InternalQueryInterface(REFIID iid, void** object) {
  if (iid == IUnknown::kIid || iid == IDispatch::kIid || iid == IQPortProxy::kIid)
    return ReturnInterface(static_cast<IQPortProxy*>(this), object);
  return marshaler_.QueryInterface(iid, object);
}

HRESULT CPortProxy::get_PhoneStatus(Variant* status) {
  if (!status) return E_POINTER;
  *status = Variant::I4(kPhoneReady);
  return S_OK;
}

HRESULT CPortProxy::Offline() {
  HRESULT hr = PhoneOffline(portName_);
  TraceResult(hr, "CPortProxy::Offline", __LINE__);
  return hr;
}

HRESULT CPortProxy::get_SoftwareDownload(IUnknown** download) {
  if (!download) return E_POINTER;
  *download = nullptr;
  ComPtr<IQSoftwareDownload> created;
  HRESULT hr = CSoftwareDownload::CreateInstance(portName_, created.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, "CPortProxy::get_SoftwareDownload", __LINE__)) return hr;
  return created->QueryInterface(IUnknown::kIid, reinterpret_cast<void**>(download));
}

// ---- CAtmnServer ---------------------------------------------------------

const DispatchTable& CAtmnServer::Table() {
  auto nothing = [](void*, std::span<Variant>, Variant*) -> HRESULT { return S_OK; };
  static const DispatchTable table(
      "IAtmnServer", IID_IAtmnServer,
      {
          {"GetPortList", kDispGetPortList, DISPATCH_METHOD, {}, VT_UNKNOWN, nothing},
          {"ShowWindow", kDispShowWindow, DISPATCH_METHOD, {}, VT_EMPTY, nothing},
          {"HideWindow", kDispHideWindow, DISPATCH_METHOD, {}, VT_EMPTY, nothing},
          {"Quit", kDispQuit, DISPATCH_METHOD, {}, VT_EMPTY, nothing},
          {"GetPort", kDispGetPort, DISPATCH_METHOD, {VT_BSTR}, VT_UNKNOWN,
           [](void*, std::span<Variant> a, Variant* r) -> HRESULT {
             ComPtr<IQPortProxy> port;
             HRESULT hr = CPortProxy::CreateInstance(a[0].bstr().str(), port.ReleaseAndGetAddressOf());
             TraceResult(hr, "CAtmnServer::GetPort", __LINE__);
             *r = Variant::Unknown(port.Get());  // a null object on failure; the call still succeeds
             return S_OK;
           }},
          {"GetSelectedPort", kDispGetSelectedPort, DISPATCH_METHOD, {}, VT_UNKNOWN, nothing},
          {"GetCOMPortList", kDispGetCOMPortList, DISPATCH_METHOD, {}, VT_UNKNOWN, nothing},
          {"AddPort", kDispAddPort, DISPATCH_METHOD, {VT_VARIANT, VT_VARIANT}, VT_EMPTY, nothing},
          {"RemovePort", kDispRemovePort, DISPATCH_METHOD, {VT_VARIANT}, VT_EMPTY, nothing},
          {"EnablePort", kDispEnablePort, DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT, {}, VT_EMPTY, nothing},
          {"AppVersion", kDispAppVersion, DISPATCH_PROPERTYGET, {}, VT_EMPTY, nothing},
          {"StartOutgoingDiagConnection", kDispStartOutgoingDiagConnection, DISPATCH_METHOD, {}, VT_EMPTY, nothing},
          {"GetPortFromUid", kDispGetPortFromUid, DISPATCH_METHOD, {}, VT_EMPTY, nothing},
      });
  return table;
}

HRESULT CAtmnServer::FinalConstruct() {
  return marshaler_.Create(static_cast<IDispatch*>(this));
}

HRESULT CAtmnServer::InternalQueryInterface(REFIID iid, void** object) {
  if (iid == IUnknown::kIid || iid == IDispatch::kIid || iid == IID_IAtmnServer)
    return ReturnInterface(static_cast<IDispatch*>(this), object);
  return marshaler_.QueryInterface(iid, object);
}

HRESULT CAtmnServer::Invoke(DISPID id, WORD flags, DISPPARAMS* params, Variant* result) {
  // Members this server does not serve answer S_OK with no result.
  if (id != kDispGetPort && id != kDispAddPort && id != kDispRemovePort && id != kDispQuit) return S_OK;
  return Table().Invoke(this, id, flags, params, result);
}

// ---- class objects -------------------------------------------------------

HRESULT RegisterServerObjects(std::vector<DWORD>* cookies) {
  HRESULT hr = RegisterClass<CAtmnServer>(CLSID_AtmnServer, cookies);
  if (SUCCEEDED(hr)) hr = RegisterClass<CDownloadSettings>(CLSID_DownloadSettings, cookies);
  return hr;
}

void RevokeServerObjects(std::vector<DWORD>* cookies) {
  for (DWORD cookie : *cookies) CoRevokeClassObject(cookie);
  cookies->clear();
}
