#include "platform/com/variant.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "platform/com/dispatch.h"
#include "platform/text.h"

Variant Variant::Null() {
  Variant v;
  v.vt_ = VT_NULL;
  return v;
}
Variant Variant::I1(std::int8_t x) {
  Variant v;
  v.vt_ = VT_I1;
  v.signed_ = x;
  return v;
}
Variant Variant::UI2(std::uint16_t x) {
  Variant v;
  v.vt_ = VT_UI2;
  v.unsigned_ = x;
  return v;
}
Variant Variant::I4(std::int32_t x) {
  Variant v;
  v.vt_ = VT_I4;
  v.signed_ = x;
  return v;
}
Variant Variant::UI4(std::uint32_t x) {
  Variant v;
  v.vt_ = VT_UI4;
  v.unsigned_ = x;
  return v;
}
Variant Variant::UI8(std::uint64_t x) {
  Variant v;
  v.vt_ = VT_UI8;
  v.unsigned_ = x;
  return v;
}
Variant Variant::String(Bstr x) {
  Variant v;
  v.vt_ = VT_BSTR;
  v.bstr_ = std::move(x);
  return v;
}
Variant Variant::Unknown(IUnknown* x) {
  Variant v;
  v.vt_ = VT_UNKNOWN;
  v.unknown_ = x;
  return v;
}
Variant Variant::Dispatch(IDispatch* x) {
  Variant v;
  v.vt_ = VT_DISPATCH;
  v.unknown_ = x;
  return v;
}

IDispatch* Variant::dispatch() const {
  return vt_ == VT_DISPATCH ? static_cast<IDispatch*>(unknown_.Get()) : nullptr;
}

namespace {

bool IsSignedType(VARTYPE vt) { return vt == VT_I1 || vt == VT_I4; }
bool IsUnsignedType(VARTYPE vt) { return vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8; }

// The range of an integer type, as signed bounds and an unsigned maximum.
struct Range {
  std::int64_t min;
  std::uint64_t max;
};
Range RangeOf(VARTYPE vt) {
  switch (vt) {
    case VT_I1: return {-128, 127};
    case VT_I4: return {std::numeric_limits<std::int32_t>::min(), 0x7FFFFFFFu};
    case VT_UI2: return {0, 0xFFFFu};
    case VT_UI4: return {0, 0xFFFFFFFFu};
    default: return {0, std::numeric_limits<std::uint64_t>::max()};
  }
}

Variant MakeInteger(VARTYPE vt, bool negative, std::uint64_t magnitude) {
  std::int64_t value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  switch (vt) {
    case VT_I1: return Variant::I1(static_cast<std::int8_t>(value));
    case VT_I4: return Variant::I4(static_cast<std::int32_t>(value));
    case VT_UI2: return Variant::UI2(static_cast<std::uint16_t>(magnitude));
    case VT_UI4: return Variant::UI4(static_cast<std::uint32_t>(magnitude));
    default: return Variant::UI8(magnitude);
  }
}

// A number given as sign and magnitude, fitted into the integer type vt.
HRESULT FitInteger(Variant* dest, VARTYPE vt, bool negative, std::uint64_t magnitude) {
  Range r = RangeOf(vt);
  if (negative && magnitude != 0) {
    if (r.min == 0 || magnitude > static_cast<std::uint64_t>(-(r.min + 1)) + 1) return DISP_E_OVERFLOW;
  } else if (magnitude > r.max) {
    return DISP_E_OVERFLOW;
  }
  *dest = MakeInteger(vt, negative, magnitude);
  return S_OK;
}

HRESULT ParseInteger(Variant* dest, VARTYPE vt, const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  size_t digitsStart = i;
  std::uint64_t value = 0;
  bool overflow = false;
  i = ReadDecimalDigits(text, i, &value, &overflow);
  size_t digitsEnd = i;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (digitsEnd == digitsStart || i != text.size()) return DISP_E_TYPEMISMATCH;
  if (overflow) return DISP_E_OVERFLOW;
  return FitInteger(dest, vt, negative, value);
}

HRESULT ObjectToString(Variant* dest, IUnknown* object) {
  if (!object) return DISP_E_TYPEMISMATCH;
  ComPtr<IDispatch> dispatch;
  if (FAILED(object->QueryInterface(IDispatch::kIid, dispatch.ReleaseAndGetVoidAddress())) || !dispatch)
    return DISP_E_TYPEMISMATCH;
  Variant value;
  DISPPARAMS none;
  HRESULT hr = dispatch->Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET, &none, &value);
  if (FAILED(hr)) return hr;
  if (value.vt() == VT_DISPATCH || value.vt() == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
  return VariantChangeType(dest, value, VT_BSTR);
}

HRESULT ToString(Variant* dest, const Variant& src) {
  switch (src.vt()) {
    case VT_EMPTY: *dest = Variant::String(Bstr(std::string())); return S_OK;
    case VT_BSTR: *dest = Variant::String(src.bstr()); return S_OK;
    case VT_I1:
    case VT_I4: *dest = Variant::String(Bstr(std::to_string(src.Signed()))); return S_OK;
    case VT_UI2:
    case VT_UI4:
    case VT_UI8: *dest = Variant::String(Bstr(std::to_string(src.Unsigned()))); return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN: return ObjectToString(dest, src.unknown());
    default: return DISP_E_TYPEMISMATCH;
  }
}

HRESULT ToInteger(Variant* dest, const Variant& src, VARTYPE vt) {
  if (src.vt() == VT_EMPTY) return FitInteger(dest, vt, false, 0);
  if (IsSignedType(src.vt())) {
    std::int64_t v = src.Signed();
    return FitInteger(dest, vt, v < 0, v < 0 ? static_cast<std::uint64_t>(-(v + 1)) + 1 : static_cast<std::uint64_t>(v));
  }
  if (IsUnsignedType(src.vt())) return FitInteger(dest, vt, false, src.Unsigned());
  if (src.vt() == VT_BSTR) return ParseInteger(dest, vt, src.bstr().str());
  return DISP_E_TYPEMISMATCH;
}

HRESULT ToObject(Variant* dest, const Variant& src, VARTYPE vt) {
  if (src.vt() != VT_UNKNOWN && src.vt() != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
  if (vt == VT_UNKNOWN) {
    *dest = Variant::Unknown(src.unknown());
    return S_OK;
  }
  if (src.vt() == VT_DISPATCH) {
    *dest = src;
    return S_OK;
  }
  if (!src.unknown()) return DISP_E_TYPEMISMATCH;
  ComPtr<IDispatch> dispatch;
  HRESULT hr = src.unknown()->QueryInterface(IDispatch::kIid, dispatch.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  *dest = Variant::Dispatch(dispatch.Get());
  return S_OK;
}

}  // namespace

HRESULT VariantChangeType(Variant* dest, const Variant& src, VARTYPE vt) {
  if (!dest) return E_POINTER;
  Variant result;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_EMPTY: break;
    case VT_NULL:
      if (src.vt() != VT_NULL) return DISP_E_TYPEMISMATCH;
      result = Variant::Null();
      break;
    case VT_BSTR: hr = ToString(&result, src); break;
    case VT_I1:
    case VT_I4:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8: hr = ToInteger(&result, src, vt); break;
    case VT_UNKNOWN:
    case VT_DISPATCH: hr = ToObject(&result, src, vt); break;
    default: return DISP_E_BADVARTYPE;
  }
  if (FAILED(hr)) return hr;
  *dest = std::move(result);
  return S_OK;
}

bool VariantEquals(const Variant& a, const Variant& b) {
  if (a.vt() != b.vt()) return false;
  switch (a.vt()) {
    case VT_EMPTY:
    case VT_NULL: return true;
    case VT_I1:
    case VT_I4: return a.Signed() == b.Signed();
    case VT_UI2:
    case VT_UI4:
    case VT_UI8: return a.Unsigned() == b.Unsigned();
    case VT_BSTR: return a.bstr() == b.bstr();
    case VT_UNKNOWN:
    case VT_DISPATCH: return a.unknown() == b.unknown();
    default: return false;
  }
}
