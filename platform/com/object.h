// Object creation in the style of the usual COM framework:
//  - a class T derives from its interfaces and from CComObjectRoot, and
//    implements InternalQueryInterface (its interface map);
//  - CComObject<T> adds the reference count, locks the module for its
//    lifetime, and is created with CreateInstance (reference count 0);
//    CComObjectNoLock<T> is the same without the module lock;
//  - CComObjectGlobal<T> wraps a static instance whose AddRef and Release
//    only lock and unlock the module, so reference counting never deletes it.
#pragma once
#include <atomic>
#include <new>

#include "platform/com/module.h"
#include "platform/com/unknown.h"

class CComObjectRoot {
 public:
  virtual ~CComObjectRoot() = default;
  // Deletes the most-derived object; a no-op for static objects.
  virtual void DeleteThis() {}

  // Final construction step; a failure fails the creation.
  HRESULT FinalConstruct() { return S_OK; }
  // Called when the reference count reaches zero. Returning false keeps the
  // object: whoever holds it then deletes it through DeleteThis().
  bool FinalRelease() { return true; }

 protected:
  CComObjectRoot() = default;
};

// Helper for interface maps: hands out p for the interface and takes a
// reference through it.
template <class I>
HRESULT ReturnInterface(I* p, void** object) {
  *object = p;
  p->AddRef();
  return S_OK;
}

// LocksModule false: an object that does not keep the module alive, as the
// class objects a server registers (the registration holds them, not a
// client).
template <class T, bool LocksModule = true>
class CComObject final : public T {
 public:
  template <class... Args>
  explicit CComObject(Args&&... args) : T(std::forward<Args>(args)...) {
    if constexpr (LocksModule) ModuleLock();
  }
  ~CComObject() {
    if constexpr (LocksModule) ModuleUnlock();
  }

  // Creates an object with reference count 0, running T::FinalConstruct.
  template <class... Args>
  static HRESULT CreateInstance(CComObject** out, Args&&... args) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* p = new (std::nothrow) CComObject(std::forward<Args>(args)...);
    if (!p) return E_OUTOFMEMORY;
    p->refs_.store(1);  // guard against a FinalConstruct that AddRefs and Releases
    HRESULT hr = p->FinalConstruct();
    p->refs_.store(0);
    if (FAILED(hr)) {
      delete p;
      return hr;
    }
    *out = p;
    return S_OK;
  }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    return this->InternalQueryInterface(iid, object);
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0 && this->FinalRelease()) delete this;
    return left;
  }
  void DeleteThis() override { delete this; }

 private:
  std::atomic<ULONG> refs_{0};
};

template <class T>
using CComObjectNoLock = CComObject<T, false>;

template <class T>
class CComObjectGlobal final : public T {
 public:
  template <class... Args>
  explicit CComObjectGlobal(Args&&... args) : T(std::forward<Args>(args)...) {
    constructResult_ = this->FinalConstruct();
  }

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    return this->InternalQueryInterface(iid, object);
  }
  ULONG AddRef() override { return static_cast<ULONG>(ModuleLock()); }
  ULONG Release() override { return static_cast<ULONG>(ModuleUnlock()); }
  void DeleteThis() override {}
  HRESULT ConstructResult() const { return constructResult_; }

 private:
  HRESULT constructResult_ = S_OK;
};
