#include "platform/com/module.h"

#include <atomic>

namespace {
std::atomic<LONG> g_lockCount{0};
}

LONG ModuleLock() { return ++g_lockCount; }
LONG ModuleUnlock() { return --g_lockCount; }
LONG ModuleLockCount() { return g_lockCount.load(); }
