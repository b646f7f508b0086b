#include "allocation_ceiling.h"

#include <cstdlib>
#include <new>

namespace {

// The largest single allocation this thread may make; 0: no limit.
thread_local std::size_t AllocationCeiling = 0;

}  // namespace

namespace tolvane::testing {

TAllocationCeiling::TAllocationCeiling(std::size_t Bytes) { AllocationCeiling = Bytes; }

TAllocationCeiling::~TAllocationCeiling() { AllocationCeiling = 0; }

}  // namespace tolvane::testing

// In a file of their own, so that no caller sees them inlined.
void* operator new(std::size_t Size) {
  if (AllocationCeiling != 0 && Size > AllocationCeiling) throw std::bad_alloc();
  if (void* p = std::malloc(Size == 0 ? 1 : Size)) return p;
  throw std::bad_alloc();
}

void operator delete(void* P) noexcept { std::free(P); }

void operator delete(void* P, std::size_t) noexcept { std::free(P); }
