#include "platform/com/module.h"

#include <atomic>

namespace {
std::atomic<LONG> g_lockCount{0};
std::atomic<void (*)()> g_idleHandler{nullptr};
}  // namespace

LONG ModuleLock() { return ++g_lockCount; }

LONG ModuleUnlock() {
  LONG count = --g_lockCount;
  if (count == 0)
    if (void (*handler)() = g_idleHandler.load()) handler();
  return count;
}

LONG ModuleLockCount() { return g_lockCount.load(); }

void SetModuleIdleHandler(void (*handler)()) { g_idleHandler.store(handler); }
