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

}  // namespace

// ---- CPortProxy ----------------------------------------------------------

// The forty members in slot order, with the type library's dispatch
// identifiers: numbered from 1 in that order, a property's get and put
// sharing one. Members whose argument list is not known take none here.
const DispatchTable& CPortProxy::Table() {
  using P = CPortProxy;
  constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kMethod = DISPATCH_METHOD;
  static const DispatchTable table(
      "IQPortProxy", IQPortProxy::kIid,
      {
          {"QPSTPhone", 1, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_QPSTPhone>},
          {"StatusReport", 2, kPut, {VT_VARIANT}, VT_EMPTY, DispatchPut<P, &P::put_StatusReport>},
          {"EFS", 3, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_EFS>},
          {"Reset", 4, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::Reset>},
          {"Offline", 5, kMethod, {}, VT_EMPTY, [](void* o, std::span<Variant>, Variant*) { return Port(o)->Offline(); }},
          {"SendSPC", 6, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::SendSPC>},
          {"ESN", 7, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_ESN>},
          {"IsUSB", 8, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_IsUSB>},
          {"PhoneMode", 9, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_PhoneMode>},
          {"PhoneStatus", 10, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_PhoneStatus>},
          {"PortId", 11, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_PortId>},
          {"PortLabel", 12, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_PortLabel>},
          {"PortName", 13, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_PortName>},
          {"QPSTPortConfig", 14, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_QPSTPortConfig>},
          {"FlashImage", 15, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::FlashImage>},
          {"SendCommand", 16, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::SendCommand>},
          {"ModelNumber", 17, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_ModelNumber>},
          {"BuildId", 18, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_BuildId>},
          {"IMEI", 19, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_IMEI>},
          {"LockPhone", 20, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::LockPhone>},
          {"UnlockPhone", 21, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::UnlockPhone>},
          {"MEID", 22, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_MEID>},
          {"SoftwareDownload", 23, kGet, {}, VT_UNKNOWN,
           [](void* o, std::span<Variant>, Variant* r) {
             IUnknown* download = nullptr;
             HRESULT hr = Port(o)->get_SoftwareDownload(&download);
             if (SUCCEEDED(hr)) {
               *r = Variant::Unknown(download);
               download->Release();
             }
             return hr;
           }},
          {"QPSTServer", 24, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_QPSTServer>},
          {"Provisioning", 25, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::Provisioning>},
          {"LockPhoneWithKey", 26, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::LockPhoneWithKey>},
          {"UnlockPhoneWithKey", 27, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::UnlockPhoneWithKey>},
          {"PhoneLockKey", 28, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_PhoneLockKey>},
          {"SendStreamCloseLog", 29, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::SendStreamCloseLog>},
          {"CommandTimeout", 30, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_CommandTimeout>},
          {"CommandTimeout", 30, kPut, {VT_VARIANT}, VT_EMPTY, DispatchPut<P, &P::put_CommandTimeout>},
          {"TraceLevel", 31, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_TraceLevel>},
          {"TraceLevel", 31, kPut, {VT_VARIANT}, VT_EMPTY, DispatchPut<P, &P::put_TraceLevel>},
          {"Annotate", 32, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::Annotate>},
          {"PhoneModeStateChange", 33, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_PhoneModeStateChange>},
          {"PhoneModeStateChange", 33, kPut, {VT_VARIANT}, VT_EMPTY, DispatchPut<P, &P::put_PhoneModeStateChange>},
          {"MemoryDebug", 34, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::MemoryDebug>},
          {"IPAddress", 35, kGet, {}, VT_VARIANT, DispatchGet<P, &P::get_IPAddress>},
          {"GetEFSSubsystem", 36, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::GetEFSSubsystem>},
          {"GetPhoneUid", 37, kMethod, {}, VT_EMPTY, DispatchStandIn<P, &P::GetPhoneUid>},
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

// Every member with its argument list and result type. All arguments are
// VARIANTs; only Quit, GetPort, AddPort and RemovePort are ever called.
const DispatchTable& CAtmnServer::Table() {
  auto nothing = [](void*, std::span<Variant>, Variant*) -> HRESULT { return S_OK; };
  constexpr VARTYPE V = VT_VARIANT;
  static const DispatchTable table(
      "IAtmnServer", IID_IAtmnServer,
      {
          {"GetPortList", kDispGetPortList, DISPATCH_METHOD, {}, VT_UNKNOWN, nothing},
          {"ShowWindow", kDispShowWindow, DISPATCH_METHOD, {}, VT_EMPTY, nothing},
          {"HideWindow", kDispHideWindow, DISPATCH_METHOD, {}, VT_EMPTY, nothing},
          {"Quit", kDispQuit, DISPATCH_METHOD, {}, VT_EMPTY, nothing},
          {"GetPort", kDispGetPort, DISPATCH_METHOD, {V}, VT_UNKNOWN,
           [](void*, std::span<Variant> a, Variant* r) -> HRESULT {
             Variant portId;
             HRESULT hr = VariantChangeType(&portId, a[0], VT_BSTR);
             if (FAILED(hr)) return hr;
             ComPtr<IQPortProxy> port;
             hr = CPortProxy::CreateInstance(portId.bstr().str(), port.ReleaseAndGetAddressOf());
             TraceResult(hr, "CAtmnServer::GetPort", __LINE__);
             *r = Variant::Unknown(port.Get());  // a null object on failure; the call still succeeds
             return S_OK;
           }},
          {"GetSelectedPort", kDispGetSelectedPort, DISPATCH_METHOD, {}, VT_UNKNOWN, nothing},
          {"GetCOMPortList", kDispGetCOMPortList, DISPATCH_METHOD, {}, VT_UNKNOWN, nothing},
          {"AddPort", kDispAddPort, DISPATCH_METHOD, {V, V}, VT_HRESULT, nothing},
          {"RemovePort", kDispRemovePort, DISPATCH_METHOD, {V}, VT_HRESULT, nothing},
          {"EnablePort", kDispEnablePort, DISPATCH_PROPERTYGET, {V}, VT_I4, nothing},
          {"EnablePort", kDispEnablePort, DISPATCH_PROPERTYPUT, {V, V}, VT_EMPTY, nothing},
          {"AppVersion", kDispAppVersion, DISPATCH_PROPERTYGET, {}, VT_HRESULT, nothing},
          {"StartOutgoingDiagConnection", kDispStartOutgoingDiagConnection, DISPATCH_METHOD, {V, V, V}, VT_HRESULT,
           nothing},
          {"GetPortFromUid", kDispGetPortFromUid, DISPATCH_METHOD, {V, V}, VT_HRESULT, nothing},
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
