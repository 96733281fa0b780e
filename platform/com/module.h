// The module lock count: how many objects and locks keep the server module
// alive. Objects lock it for their lifetime; LockServer locks it explicitly.
#pragma once
#include "platform/types.h"

LONG ModuleLock();
LONG ModuleUnlock();
LONG ModuleLockCount();

// Called (on the unlocking thread) each time the count falls to 0; nullptr
// for none. The server module's shutdown monitor listens here.
void SetModuleIdleHandler(void (*handler)());
