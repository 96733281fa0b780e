#include "download/download_settings.h"

#include <new>

#include "platform/com/comptr.h"
#include "platform/com/marshal.h"
#include "shell/log.h"

namespace {

enum : DISPID { kDispGetParam = 1, kDispSetParam = 2, kDispPhoneComponent = 3, kDispIsKnownConfiguration = 4,
                kDispGetLastError = 5 };

CDownloadSettings* Self(void* object) { return static_cast<CDownloadSettings*>(object); }

}  // namespace

const DispatchTable& CDownloadSettings::Table() {
  static const DispatchTable table(
      "IDownloadSettings", IDownloadSettings::kIid,
      {
          {"GetParam", kDispGetParam, DISPATCH_PROPERTYGET, {VT_VARIANT}, VT_VARIANT,
           [](void* o, std::span<Variant> a, Variant* r) { return Self(o)->get_GetParam(a[0], r); }},
          {"SetParam", kDispSetParam, DISPATCH_METHOD, {VT_VARIANT, VT_VARIANT}, VT_EMPTY,
           [](void* o, std::span<Variant> a, Variant*) { return Self(o)->SetParam(a[0], a[1]); }},
          {"PhoneComponent", kDispPhoneComponent, DISPATCH_PROPERTYPUT, {VT_VARIANT}, VT_EMPTY,
           [](void* o, std::span<Variant> a, Variant*) { return Self(o)->put_PhoneComponent(a[0]); }},
          {"IsKnownConfiguration", kDispIsKnownConfiguration, DISPATCH_PROPERTYGET, {}, VT_VARIANT,
           [](void* o, std::span<Variant>, Variant* r) { return Self(o)->get_IsKnownConfiguration(r); }},
          {"GetLastError", kDispGetLastError, DISPATCH_METHOD, {VT_VARIANT, VT_VARIANT, VT_VARIANT, VT_VARIANT, VT_VARIANT},
           VT_EMPTY,
           [](void* o, std::span<Variant> a, Variant*) {
             return Self(o)->GetLastError(&a[0], &a[1], &a[2], &a[3], &a[4]);
           }},
      });
  return table;
}

HRESULT CDownloadSettings::FinalConstruct() {
  return marshaler_.Create(static_cast<IDownloadSettings*>(this));
}

CDownloadSettings::~CDownloadSettings() {
  keys_.clear();
  values_.clear();
}

HRESULT CDownloadSettings::InternalQueryInterface(REFIID iid, void** object) {
  if (iid == IUnknown::kIid || iid == IDispatch::kIid || iid == IDownloadSettings::kIid)
    return ReturnInterface(static_cast<IDownloadSettings*>(this), object);
  return marshaler_.QueryInterface(iid, object);
}

HRESULT CDownloadSettings::get_GetParam(const Variant& paramName, Variant* out) {
  if (!out) return E_POINTER;
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (VariantEquals(keys_[i], paramName)) {
      *out = values_[i];
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

HRESULT CDownloadSettings::SetParam(const Variant& paramName, const Variant& paramValue) {
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (VariantEquals(keys_[i], paramName)) {
      keys_[i] = paramName;
      values_[i] = paramValue;
      return S_OK;
    }
  }
  try {
    keys_.push_back(paramName);
    values_.push_back(paramValue);
  } catch (const std::bad_alloc&) {
    if (keys_.size() > values_.size()) keys_.pop_back();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CreateDownloadSettings(IDownloadSettings** settings) {
  if (!settings) return E_POINTER;
  *settings = nullptr;
  CComObject<CDownloadSettings>* object = nullptr;
  HRESULT hr = CComObject<CDownloadSettings>::CreateInstance(&object);
  if (FAILED(hr)) return hr;
  ComPtr<IDownloadSettings> hold(object);
  return hold.CopyTo(settings);
}

HRESULT GetDownloadParameter(IUnknown* settings, const char* name, std::string* out) {
  constexpr const char* kName = "CSoftwareDownload::GetDownloadParameter";
  ComPtr<IDownloadSettings> parameters;
  if (!settings || FAILED(settings->QueryInterface(IDownloadSettings::kIid, parameters.ReleaseAndGetVoidAddress())) ||
      !parameters)
    return E_INVALIDARG;
  Variant value;
  HRESULT hr = parameters->get_GetParam(Variant::String(Bstr(name)), &value);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  Variant text;
  hr = VariantChangeType(&text, value, VT_BSTR);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  *out = text.bstr().str();
  return S_OK;
}
