// An outside automation server of the tests' own, registered under
// AtmnServer: GetPort hands out ports of type Port (a CPortProxy subclass),
// and every call it gets is recorded.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "download/server_objects.h"
#include "platform/com/class_registry.h"

struct FakeServerLog {
  std::mutex m;
  std::vector<std::string> calls;
  void Note(const char* call) {
    std::lock_guard l(m);
    calls.push_back(call);
  }
  std::vector<std::string> Calls() {
    std::lock_guard l(m);
    return calls;
  }
};

template <class Port>
class CFakeServer : public IDispatch, public CComObjectRoot {
 public:
  static FakeServerLog& Log() {
    static FakeServerLog log;
    return log;
  }
  HRESULT InternalQueryInterface(REFIID iid, void** object) {
    if (iid == IUnknown::kIid || iid == IDispatch::kIid) return ReturnInterface(static_cast<IDispatch*>(this), object);
    return E_NOINTERFACE;
  }
  HRESULT GetTypeInfoCount(unsigned* count) override { return *count = 0, S_OK; }
  HRESULT GetTypeInfo(unsigned, ITypeInfo**) override { return DISP_E_BADINDEX; }
  HRESULT GetIDsOfNames(const std::string* names, unsigned, DISPID* ids) override {
    const std::pair<const char*, DISPID> known[] = {{"Quit", 4}, {"GetPort", 5}, {"AddPort", 8}, {"RemovePort", 9}};
    for (auto [name, id] : known)
      if (*names == name) return *ids = id, S_OK;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID id, WORD, DISPPARAMS* params, Variant* result) override {
    if (id == 4) Log().Note("Quit");
    if (id == 8) Log().Note(params->cArgs == 2 ? "AddPort" : "AddPort?");
    if (id == 9) Log().Note("RemovePort");
    if (id == 5) {
      Log().Note("GetPort");
      CComObject<Port>* port = nullptr;
      CComObject<Port>::CreateInstance(&port);
      *result = Variant::Unknown(static_cast<IQPortProxy*>(port));
    }
    return S_OK;
  }
};

// The class object of T, for registering test classes.
template <class T, class I>
class CTestFactory : public IClassFactory, public CComObjectRoot {
 public:
  HRESULT InternalQueryInterface(REFIID iid, void** object) {
    if (iid == IUnknown::kIid || iid == IClassFactory::kIid) return ReturnInterface(static_cast<IClassFactory*>(this), object);
    return E_NOINTERFACE;
  }
  HRESULT CreateInstance(IUnknown*, REFIID iid, void** object) override {
    CComObject<T>* created = nullptr;
    HRESULT hr = CComObject<T>::CreateInstance(&created);
    if (FAILED(hr)) return hr;
    ComPtr<I> hold(created);
    return created->QueryInterface(iid, object);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }
};

// Registers a class for the scope of a test.
template <class T, class I>
class ScopedClass {
 public:
  explicit ScopedClass(REFCLSID clsid) {
    static CComObjectGlobal<CTestFactory<T, I>> factory;
    CoRegisterClassObject(clsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
  }
  ~ScopedClass() { CoRevokeClassObject(cookie_); }
  ScopedClass(const ScopedClass&) = delete;
  ScopedClass& operator=(const ScopedClass&) = delete;

 private:
  DWORD cookie_ = 0;
};
