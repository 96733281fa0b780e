#include "platform/ticks.h"

#include <time.h>

DWORD GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  unsigned long long ms = static_cast<unsigned long long>(ts.tv_sec) * 1000ull + ts.tv_nsec / 1000000;
  return static_cast<DWORD>(ms);
}
