// The in-process class-object registry behind CoCreateInstance. With no
// class registered (or only suspended ones) creation fails with
// REGDB_E_CLASSNOTREG, which is also what a machine without the outside
// automation server answers.
#pragma once
#include "platform/com/unknown.h"

enum : DWORD {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_SERVER = 0x15,
  CLSCTX_ALL = 0x17,
};

enum : DWORD {
  REGCLS_SINGLEUSE = 0,
  REGCLS_MULTIPLEUSE = 1,
  REGCLS_MULTI_SEPARATE = 2,
  REGCLS_SUSPENDED = 4,
};

// Registers a class object (an IClassFactory); REGCLS_SUSPENDED keeps it out
// of reach until CoResumeClassObjects.
HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* classObject, DWORD context, DWORD flags,
                              DWORD* cookie);
HRESULT CoResumeClassObjects();
HRESULT CoSuspendClassObjects();
HRESULT CoRevokeClassObject(DWORD cookie);

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, REFIID iid, void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
