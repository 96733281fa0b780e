#include "platform/com/dispatch.h"

#include <atomic>
#include <new>

#include "platform/text.h"

namespace {

// The type description handed out by GetTypeInfo; it refers to a table that
// lives as long as the program.
class TableTypeInfo final : public ITypeInfo {
 public:
  explicit TableTypeInfo(const DispatchTable* table) : table_(table) {}

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid != IUnknown::kIid && iid != ITypeInfo::kIid) return E_NOINTERFACE;
    *object = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetTypeName(Bstr* name) override {
    if (!name) return E_POINTER;
    *name = Bstr(table_->name());
    return S_OK;
  }
  HRESULT GetGuid(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = table_->iid();
    return S_OK;
  }
  HRESULT GetFuncCount(unsigned* count) override {
    if (!count) return E_POINTER;
    *count = static_cast<unsigned>(table_->members().size());
    return S_OK;
  }
  HRESULT GetFuncDesc(unsigned index, const DispMember** member) override {
    if (!member) return E_POINTER;
    if (index >= table_->members().size()) return DISP_E_BADINDEX;
    *member = &table_->members()[index];
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
  const DispatchTable* table_;
};

}  // namespace

DispatchTable::DispatchTable(const char* interfaceName, const IID& iid, std::vector<DispMember> members)
    : name_(interfaceName), iid_(iid), members_(std::move(members)) {}

HRESULT DispatchTable::GetTypeInfoCount(unsigned* count) const {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT DispatchTable::GetTypeInfo(unsigned index, ITypeInfo** info) const {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  auto* p = new (std::nothrow) TableTypeInfo(this);
  if (!p) return E_OUTOFMEMORY;
  *info = p;
  return S_OK;
}

HRESULT DispatchTable::GetIDsOfNames(const std::string* names, unsigned count, DISPID* ids) const {
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  for (unsigned i = 0; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    for (const DispMember& m : members_) {
      if (EqualsIgnoreCase(m.name, names[i])) {
        ids[i] = m.id;
        break;
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT DispatchTable::Invoke(void* object, DISPID id, WORD flags, DISPPARAMS* params,
                              Variant* result) const {
  if (!params) return E_POINTER;
  for (const DispMember& m : members_) {
    if (m.id != id) continue;
    if ((m.kind & flags) == 0) continue;
    if (params->cArgs != m.args.size()) return DISP_E_BADPARAMCOUNT;
    // Late-bound arguments arrive last-first; hand them over first-first,
    // each converted to its declared type.
    std::vector<Variant> args(m.args.size());
    for (size_t i = 0; i < m.args.size(); ++i) {
      const Variant& given = params->rgvarg[m.args.size() - 1 - i];
      if (m.args[i] == VT_VARIANT) {
        args[i] = given;
        continue;
      }
      HRESULT hr = VariantChangeType(&args[i], given, m.args[i]);
      if (FAILED(hr)) return hr;  // the conversion's own error
    }
    Variant ignored;
    return m.call(object, args, result ? result : &ignored);
  }
  return DISP_E_MEMBERNOTFOUND;
}
