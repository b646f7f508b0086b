#pragma once
// The threads of this process as the system lists them, by the system's own
// thread ids: tests count the workers a pool starts and see which of them
// served a request.
#include <cstdint>
#include <set>

namespace tolvane::testing {

using TSystemThreadId = std::uint64_t;

std::set<TSystemThreadId> ProcessThreadIds();
TSystemThreadId CurrentSystemThreadId();

}  // namespace tolvane::testing
