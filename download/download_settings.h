// The download parameter set: named values behind IDownloadSettings, kept in
// order of first setting. A name is found by the key rule of VariantEquals
// (same type and value; strings compare case-sensitively).
#pragma once
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/marshal.h"
#include "platform/com/object.h"

inline constexpr CLSID CLSID_DownloadSettings = MakeGuid("{6BF99F3E-FE24-4A7A-94D9-32D7171C33A5}");

// A dual interface: its methods follow IDispatch's in this order.
struct IDownloadSettings : IDispatch {
  static constexpr IID kIid = MakeGuid("{55166E48-38AE-4F8C-847C-E4699D5228C0}");
  virtual HRESULT get_GetParam(const Variant& paramName, Variant* out) = 0;
  virtual HRESULT SetParam(const Variant& paramName, const Variant& paramValue) = 0;
  virtual HRESULT put_PhoneComponent(const Variant& component) = 0;
  virtual HRESULT get_IsKnownConfiguration(Variant* out) = 0;
  virtual HRESULT GetLastError(Variant* a, Variant* b, Variant* c, Variant* d, Variant* e) = 0;

 protected:
  ~IDownloadSettings() = default;
};

class CDownloadSettings : public CDispatchFromTable<CDownloadSettings, IDownloadSettings>, public CComObjectRoot {
 public:
  HRESULT FinalConstruct();
  ~CDownloadSettings() override;
  HRESULT InternalQueryInterface(REFIID iid, void** object);

  // IDownloadSettings
  HRESULT get_GetParam(const Variant& paramName, Variant* out) override;
  HRESULT SetParam(const Variant& paramName, const Variant& paramValue) override;
  HRESULT put_PhoneComponent(const Variant&) override { return E_NOTIMPL; }
  HRESULT get_IsKnownConfiguration(Variant*) override { return E_NOTIMPL; }
  HRESULT GetLastError(Variant*, Variant*, Variant*, Variant*, Variant*) override { return E_NOTIMPL; }

 private:
  friend class CDispatchFromTable<CDownloadSettings, IDownloadSettings>;
  static const DispatchTable& Table();
  CAggregatedMarshaler marshaler_;
  std::vector<Variant> keys_;
  std::vector<Variant> values_;
};

// A new, empty parameter set.
HRESULT CreateDownloadSettings(IDownloadSettings** settings);

// The named parameter as text: E_INVALIDARG when settings is null, does not
// answer IDownloadSettings or lacks the name; a value that has no text form
// fails with its conversion error.
HRESULT GetDownloadParameter(IUnknown* settings, const char* name, std::string* out);
