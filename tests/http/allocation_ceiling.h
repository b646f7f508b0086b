#pragma once
// A ceiling on single allocations for the tests of this folder: code that
// sizes a buffer by what a client claims fails under it instead of taking the
// memory. The test program's operator new enforces it.
#include <cstddef>

namespace tolvane::testing {

// Refuses (std::bad_alloc), on this thread and while it lives, any single
// allocation above Bytes.
class TAllocationCeiling {
 public:
  explicit TAllocationCeiling(std::size_t Bytes);
  ~TAllocationCeiling();
  TAllocationCeiling(const TAllocationCeiling&) = delete;
  TAllocationCeiling& operator=(const TAllocationCeiling&) = delete;
};

}  // namespace tolvane::testing
