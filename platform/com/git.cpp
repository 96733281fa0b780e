#include "platform/com/git.h"

#include <map>
#include <mutex>

#include "platform/com/comptr.h"

namespace {

struct Table {
  std::mutex mutex;
  std::map<DWORD, ComPtr<IUnknown>> entries;
  DWORD next = 1;
};

Table& GlobalTable() {
  static Table* table = new Table;  // outlives every static destructor
  return *table;
}

}  // namespace

HRESULT RegisterInterfaceInGlobal(IUnknown* unknown, REFIID iid, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!unknown) return E_INVALIDARG;
  ComPtr<IUnknown> held;
  HRESULT hr = unknown->QueryInterface(iid, held.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return hr;
  Table& t = GlobalTable();
  std::lock_guard lock(t.mutex);
  while (t.next == 0 || t.entries.count(t.next)) ++t.next;
  *cookie = t.next++;
  t.entries.emplace(*cookie, std::move(held));
  return S_OK;
}

HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  ComPtr<IUnknown> held;
  {
    Table& t = GlobalTable();
    std::lock_guard lock(t.mutex);
    auto it = t.entries.find(cookie);
    if (cookie == 0 || it == t.entries.end()) return E_INVALIDARG;
    held = it->second;
  }
  return held->QueryInterface(iid, object);
}

HRESULT RevokeInterfaceFromGlobal(DWORD cookie) {
  ComPtr<IUnknown> released;  // released after the table's lock is left
  Table& t = GlobalTable();
  std::lock_guard lock(t.mutex);
  auto it = t.entries.find(cookie);
  if (cookie == 0 || it == t.entries.end()) return E_INVALIDARG;
  released = std::move(it->second);
  t.entries.erase(it);
  return S_OK;
}
