// Late-bound calls (IDispatch) served from a static member table per
// interface: name, dispatch id, kind, argument and result types.
#pragma once
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "platform/com/variant.h"

using DISPID = LONG;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;

enum : WORD {
  DISPATCH_METHOD = 0x1,
  DISPATCH_PROPERTYGET = 0x2,
  DISPATCH_PROPERTYPUT = 0x4,
};

// Arguments in reverse order (the last argument first), as late-bound callers
// pass them.
struct DISPPARAMS {
  Variant* rgvarg = nullptr;
  unsigned cArgs = 0;
};

class ITypeInfo;

struct IDispatch : IUnknown {
  static constexpr IID kIid = MakeGuid("{00020400-0000-0000-C000-000000000046}");
  virtual HRESULT GetTypeInfoCount(unsigned* count) = 0;
  virtual HRESULT GetTypeInfo(unsigned index, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(const std::string* names, unsigned count, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, Variant* result) = 0;

 protected:
  ~IDispatch() = default;
};

// One member of an interface. `call` receives the object, the arguments
// already converted to `args` (in declaration order) and the result slot.
struct DispMember {
  using Call = HRESULT (*)(void* object, std::span<Variant> args, Variant* result);
  const char* name;
  DISPID id;
  WORD kind;  // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
  std::vector<VARTYPE> args;
  VARTYPE result;  // VT_EMPTY when the member returns nothing
  Call call;
};

// The description of one interface, served through GetTypeInfo.
class ITypeInfo : public IUnknown {
 public:
  static constexpr IID kIid = MakeGuid("{00020401-0000-0000-C000-000000000046}");
  virtual HRESULT GetTypeName(Bstr* name) = 0;
  virtual HRESULT GetGuid(IID* iid) = 0;
  virtual HRESULT GetFuncCount(unsigned* count) = 0;
  virtual HRESULT GetFuncDesc(unsigned index, const DispMember** member) = 0;

 protected:
  ~ITypeInfo() = default;
};

// A member table and the four IDispatch operations over it. An interface
// implementation keeps one static DispatchTable and forwards to it.
class DispatchTable {
 public:
  DispatchTable(const char* interfaceName, const IID& iid, std::vector<DispMember> members);

  HRESULT GetTypeInfoCount(unsigned* count) const;
  HRESULT GetTypeInfo(unsigned index, ITypeInfo** info) const;
  // Names compare ignoring case; an unknown name yields DISPID_UNKNOWN in its
  // slot and DISP_E_UNKNOWNNAME.
  HRESULT GetIDsOfNames(const std::string* names, unsigned count, DISPID* ids) const;
  HRESULT Invoke(void* object, DISPID id, WORD flags, DISPPARAMS* params, Variant* result) const;

  const std::vector<DispMember>& members() const { return members_; }
  const char* name() const { return name_; }
  const IID& iid() const { return iid_; }

 private:
  const char* name_;
  IID iid_;
  std::vector<DispMember> members_;
};

// Table calls for the members of T that hand their result, or take their one
// argument, through a Variant pointer, and for stand-ins whose argument list
// is not known (they are called with none).
template <class T, HRESULT (T::*Member)(Variant*)>
HRESULT DispatchGet(void* object, std::span<Variant>, Variant* result) {
  return (static_cast<T*>(object)->*Member)(result);
}
template <class T, HRESULT (T::*Member)(Variant*)>
HRESULT DispatchPut(void* object, std::span<Variant> args, Variant*) {
  return (static_cast<T*>(object)->*Member)(&args[0]);
}
template <class T, HRESULT (T::*Member)(Variant*)>
HRESULT DispatchStandIn(void* object, std::span<Variant>, Variant*) {
  return (static_cast<T*>(object)->*Member)(nullptr);
}

// IDispatch served from Derived::Table(), a static DispatchTable; Derived
// implements Interface (an interface derived from IDispatch).
template <class Derived, class Interface>
class CDispatchFromTable : public Interface {
 public:
  HRESULT GetTypeInfoCount(unsigned* count) override { return Derived::Table().GetTypeInfoCount(count); }
  HRESULT GetTypeInfo(unsigned index, ITypeInfo** info) override { return Derived::Table().GetTypeInfo(index, info); }
  HRESULT GetIDsOfNames(const std::string* names, unsigned count, DISPID* ids) override {
    return Derived::Table().GetIDsOfNames(names, count, ids);
  }
  HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, Variant* result) override {
    return Derived::Table().Invoke(static_cast<Derived*>(this), id, flags, params, result);
  }
};
