// Per-thread bookkeeping of object-runtime initialisation. Every object is
// usable from every thread, so the apartment model only decides the codes:
// the first initialisation of a thread answers S_OK, a repeated one in the
// same model S_FALSE, one in the other model RPC_E_CHANGED_MODE.
#pragma once
#include "platform/hresult.h"

enum : DWORD {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
};

HRESULT CoInitializeEx(void* reserved, DWORD model);
void CoUninitialize();
// How many successful initialisations of the calling thread are not yet
// undone (for tests and for checks at thread exit).
int CoInitializeCount();
