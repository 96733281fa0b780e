#include "platform/com/apartment.h"

namespace {
thread_local int t_count = 0;
thread_local DWORD t_model = COINIT_MULTITHREADED;
}  // namespace

HRESULT CoInitializeEx(void*, DWORD model) {
  if (model != COINIT_MULTITHREADED && model != COINIT_APARTMENTTHREADED) return E_INVALIDARG;
  if (t_count > 0) {
    if (model != t_model) return RPC_E_CHANGED_MODE;
    ++t_count;
    return S_FALSE;
  }
  t_model = model;
  t_count = 1;
  return S_OK;
}

void CoUninitialize() {
  if (t_count > 0) --t_count;
}

int CoInitializeCount() { return t_count; }
