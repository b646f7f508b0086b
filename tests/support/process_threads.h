#pragma once
// The threads of this process as the system lists them, by the system's own
// thread ids: tests count the workers a pool starts and see which of them
// served a request.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>

namespace tolvane::testing {

using TSystemThreadId = std::uint64_t;

std::set<TSystemThreadId> ProcessThreadIds();
TSystemThreadId CurrentSystemThreadId();

// How many threads the process has. A sanitizer's helper thread starts with
// the process's first extra thread, so one is started and ended before the
// first count: the helper is then part of every count.
std::size_t ThreadCount();

// Threads end a little after they are told to: waits until the count is
// Expected, at most Timeout; answers whether it got there.
bool AwaitThreadCount(std::size_t Expected, std::chrono::milliseconds Timeout = std::chrono::seconds(20));

}  // namespace tolvane::testing
