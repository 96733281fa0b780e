// The root interface and the small standard interfaces built on it. Slot
// order is declaration order: QueryInterface, AddRef, Release first.
#pragma once
#include "platform/com/guid.h"
#include "platform/hresult.h"

struct IUnknown {
  static constexpr IID kIid = MakeGuid("{00000000-0000-0000-C000-000000000046}");
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// The interface identifier of an interface type.
template <class I>
constexpr const IID& IidOf() {
  return I::kIid;
}

struct IClassFactory : IUnknown {
  static constexpr IID kIid = MakeGuid("{00000001-0000-0000-C000-000000000046}");
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// Answered by objects that aggregate the free-threaded marshaler. Every object
// is usable from every thread here, so marshaling itself is a no-op.
struct IMarshal : IUnknown {
  static constexpr IID kIid = MakeGuid("{00000003-0000-0000-C000-000000000046}");
  virtual HRESULT IsFreeThreaded() = 0;

 protected:
  ~IMarshal() = default;
};
