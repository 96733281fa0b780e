#include "tests/support/allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_count{0};

}  // namespace

// The array, non-throwing and sized forms of the library call these two.
void* operator new(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

AllocationCount::AllocationCount() {
  g_count = 0;
  g_counting = true;
}

AllocationCount::~AllocationCount() { g_counting = false; }

std::size_t AllocationCount::count() const { return g_count; }
