// A tagged value for the variant types in use, with conversion and the
// equality rule used to look parameters up by name.
#pragma once
#include <cstdint>
#include <string>

#include "platform/com/bstr.h"
#include "platform/com/comptr.h"

enum VARTYPE : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_VARIANT = 12,  // in member tables: any type, passed as it is
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_UI8 = 21,
  VT_HRESULT = 25,  // in member tables: the member's result is its HRESULT
};

struct IDispatch;

class Variant {
 public:
  Variant() = default;
  static Variant Null();
  static Variant I1(std::int8_t v);
  static Variant UI2(std::uint16_t v);
  static Variant I4(std::int32_t v);
  static Variant UI4(std::uint32_t v);
  static Variant UI8(std::uint64_t v);
  static Variant String(Bstr v);
  static Variant Unknown(IUnknown* v);
  static Variant Dispatch(IDispatch* v);

  VARTYPE vt() const { return vt_; }
  std::int64_t Signed() const { return signed_; }
  std::uint64_t Unsigned() const { return unsigned_; }
  const Bstr& bstr() const { return bstr_; }
  IUnknown* unknown() const { return unknown_.Get(); }
  IDispatch* dispatch() const;

 private:
  VARTYPE vt_ = VT_EMPTY;
  std::int64_t signed_ = 0;     // VT_I1, VT_I4
  std::uint64_t unsigned_ = 0;  // VT_UI2, VT_UI4, VT_UI8
  Bstr bstr_;
  ComPtr<IUnknown> unknown_;  // VT_UNKNOWN, VT_DISPATCH (held as IUnknown)
};

// Converts src to the type vt into *dest (dest may be the same object).
// A value without a representation in vt fails with DISP_E_TYPEMISMATCH, a
// number out of the target's range with DISP_E_OVERFLOW. An object converts
// to a string through its default member (dispatch id 0).
HRESULT VariantChangeType(Variant* dest, const Variant& src, VARTYPE vt);

// Equality for parameter keys: same type, and for the integer types the
// same number; strings compare case-sensitively; two empty or two null
// values are equal; objects are equal when they are the same object.
bool VariantEquals(const Variant& a, const Variant& b);
