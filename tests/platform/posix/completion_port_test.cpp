#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <vector>

#include <tolvane/platform/completion_port.h>

using namespace tolvane::platform;
using namespace std::chrono_literals;

// Packets that come one at a time, each after every waiter has parked, are all
// served by the one waiter that parked last: its stack and cache are warm, and
// the others sleep on. (On Windows the system's port chooses.)
TEST(CompletionPortPosix, ATrickleOfPacketsIsServedByTheWaiterThatParkedLast) {
  constexpr int kWaiters = 4, kPackets = 20;
  TCompletionPort Port;
  std::atomic<int> Taken{0};
  std::vector<int> TakenBy(kPackets + 1, -1);
  std::vector<std::thread> Threads;
  for (int w = 0; w < kWaiters; ++w)
    Threads.emplace_back([&, w] {
      while (auto Packet = Port.Wait()) {
        TakenBy[Packet->Key] = w;
        Taken.fetch_add(1, std::memory_order_release);
      }
    });
  std::this_thread::sleep_for(100ms);  // every waiter parks
  for (int p = 1; p <= kPackets; ++p) {
    Port.Post(0, static_cast<std::uintptr_t>(p), nullptr);
    const auto Deadline = std::chrono::steady_clock::now() + 10s;
    while (Taken.load(std::memory_order_acquire) < p && std::chrono::steady_clock::now() < Deadline)
      std::this_thread::yield();
    ASSERT_EQ(Taken.load(std::memory_order_acquire), p) << "packet " << p << " was not taken";
    std::this_thread::sleep_for(5ms);  // long enough for its waiter to park again
  }
  Port.Close();
  for (auto& t : Threads) t.join();
  std::map<int, int> PerWaiter;
  for (int p = 1; p <= kPackets; ++p) ++PerWaiter[TakenBy[p]];
  EXPECT_EQ(PerWaiter.size(), 1u) << "the packets went to " << PerWaiter.size() << " different waiters";
}
