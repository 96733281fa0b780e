// The process-wide global interface table: an interface pointer registered
// under a cookie can be fetched from any thread. Every object is usable from
// every thread here, so fetching is a QueryInterface on the stored pointer.
#pragma once
#include "platform/com/unknown.h"

// Stores a reference to unknown's interface iid; cookies are never 0.
HRESULT RegisterInterfaceInGlobal(IUnknown* unknown, REFIID iid, DWORD* cookie);
// The interface registered under cookie, queried for iid. Cookie 0 or an
// unknown cookie: E_INVALIDARG.
HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID iid, void** object);
// Releases the stored reference. Cookie 0 or an unknown cookie: E_INVALIDARG.
HRESULT RevokeInterfaceFromGlobal(DWORD cookie);
