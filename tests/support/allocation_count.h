// Heap allocations counted by the operator new that allocation_count.cpp
// puts in place of the library's. That replaces it for the whole program,
// so only a test program of its own links it.
#pragma once
#include <cstddef>

// While one lives, every allocation of the process is counted, on every
// thread (a bench phone answers on a thread of its own).
class AllocationCount {
 public:
  AllocationCount();
  ~AllocationCount();
  AllocationCount(const AllocationCount&) = delete;
  AllocationCount& operator=(const AllocationCount&) = delete;

  std::size_t count() const;
};
