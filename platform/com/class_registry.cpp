#include "platform/com/class_registry.h"

#include <mutex>
#include <vector>

#include "platform/com/comptr.h"

namespace {

struct Entry {
  DWORD cookie;
  CLSID clsid;
  ComPtr<IUnknown> classObject;
  DWORD context;
  bool suspended;
};

struct Registry {
  std::mutex mutex;
  std::vector<Entry> entries;
  DWORD next = 1;
};

Registry& Classes() {
  static Registry* registry = new Registry;  // outlives every static destructor
  return *registry;
}

}  // namespace

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD context, DWORD flags,
                              DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!classObject) return E_INVALIDARG;
  Registry& r = Classes();
  std::lock_guard lock(r.mutex);
  *cookie = r.next++;
  r.entries.push_back({*cookie, clsid, ComPtr<IUnknown>(classObject), context, (flags & REGCLS_SUSPENDED) != 0});
  return S_OK;
}

HRESULT CoResumeClassObjects() {
  Registry& r = Classes();
  std::lock_guard lock(r.mutex);
  for (Entry& e : r.entries) e.suspended = false;
  return S_OK;
}

HRESULT CoSuspendClassObjects() {
  Registry& r = Classes();
  std::lock_guard lock(r.mutex);
  for (Entry& e : r.entries) e.suspended = true;
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  ComPtr<IUnknown> released;  // released after the registry's lock is left
  Registry& r = Classes();
  std::lock_guard lock(r.mutex);
  for (auto it = r.entries.begin(); it != r.entries.end(); ++it) {
    if (it->cookie == cookie) {
      released = std::move(it->classObject);
      r.entries.erase(it);
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IUnknown> classObject;
  {
    Registry& r = Classes();
    std::lock_guard lock(r.mutex);
    for (const Entry& e : r.entries) {
      if (e.clsid == clsid && !e.suspended && (e.context & context) != 0) {
        classObject = e.classObject;
        break;
      }
    }
  }
  if (!classObject) return REGDB_E_CLASSNOTREG;
  return classObject->QueryInterface(iid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(clsid, context, IClassFactory::kIid, factory.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(outer, iid, object);
}
