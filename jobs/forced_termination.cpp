#include "jobs/forced_termination.h"

#include <atomic>

namespace {
std::atomic<bool> g_forced{false};
}

void SetForcedTermination() { g_forced.store(true); }
bool ForcedTermination() { return g_forced.load(); }
