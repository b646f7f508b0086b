#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include <tolvane/platform/completion_port.h>

using namespace tolvane::platform;
using namespace std::chrono_literals;

namespace {

void* Tag(std::uintptr_t n) { return reinterpret_cast<void*>(n); }

// Polls until the condition holds or the time is up; answers whether it held.
template <class TCondition>
bool WaitFor(TCondition Condition, std::chrono::milliseconds Limit) {
  const auto Deadline = std::chrono::steady_clock::now() + Limit;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace

TEST(CompletionPort, PacketsLeaveInTheOrderPostedWithTheirFields) {
  TCompletionPort Port;
  for (std::uint32_t i = 0; i < 100; ++i) ASSERT_TRUE(Port.Post(i, 1000 + i, Tag(i % 3 == 0 ? 0xFFFFFFFF : i)));
  for (std::uint32_t i = 0; i < 100; ++i) {
    auto Packet = Port.Wait();
    ASSERT_TRUE(Packet);
    EXPECT_EQ(Packet->Bytes, i);
    EXPECT_EQ(Packet->Key, 1000 + i);
    EXPECT_EQ(Packet->Overlapped, Tag(i % 3 == 0 ? 0xFFFFFFFF : i));
  }
}

TEST(CompletionPort, ManyPostersAndWaitersDeliverEachPacketOnce) {
  constexpr int kPosters = 4, kWaiters = 6, kEach = 5000;
  TCompletionPort Port;
  std::vector<std::vector<std::uintptr_t>> Taken(kWaiters);
  std::vector<std::thread> Threads;
  for (int w = 0; w < kWaiters; ++w)
    Threads.emplace_back([&, w] {
      while (auto Packet = Port.Wait()) {
        if (Packet->Overlapped == Tag(0xFFFFFFFF)) break;
        Taken[w].push_back(Packet->Key);
      }
    });
  std::vector<std::thread> Posters;
  for (int p = 0; p < kPosters; ++p)
    Posters.emplace_back([&, p] {
      for (int i = 0; i < kEach; ++i) Port.Post(0, std::uintptr_t(p) * kEach + i + 1, nullptr);
    });
  for (auto& t : Posters) t.join();
  // Stop orders go behind every request, so all requests are taken first.
  for (int w = 0; w < kWaiters; ++w) Port.Post(0, 0, Tag(0xFFFFFFFF));
  for (auto& t : Threads) t.join();

  std::set<std::uintptr_t> All;
  std::size_t Count = 0;
  for (const auto& Keys : Taken) {
    Count += Keys.size();
    All.insert(Keys.begin(), Keys.end());
    // One waiter takes packets oldest first, so each poster's keys rise.
    std::vector<std::uintptr_t> Last(kPosters, 0);
    for (auto Key : Keys) {
      auto Poster = (Key - 1) / kEach;
      EXPECT_GT(Key, Last[Poster]);
      Last[Poster] = Key;
    }
  }
  EXPECT_EQ(Count, std::size_t(kPosters * kEach));
  EXPECT_EQ(All.size(), std::size_t(kPosters * kEach));
}

// Waiters that block inside their packet must not keep the others from
// taking theirs, however the packets arrive and whether the waiters were
// parked or still awake when they came.
TEST(CompletionPort, EveryWaiterCanHoldAPacketAtOnce) {
  struct TCase {
    const char* Name;
    int Waiters;
    bool ParkedFirst;  // the waiters have long found the port empty
    bool OneByOne;     // each packet comes only once the one before is held
  } Cases[] = {
      {"25 waiters just started, packets together", 25, false, false},
      {"25 parked waiters, packets together", 25, true, false},
      {"25 parked waiters, each packet after the last is held", 25, true, true},
      {"2 waiters just started, each packet after the last is held", 2, false, true},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TCompletionPort Port;
    std::atomic<int> Holding{0};
    std::atomic<bool> Release{false};
    std::vector<std::thread> Threads;
    for (int w = 0; w < Case.Waiters; ++w)
      Threads.emplace_back([&] {
        if (!Port.Wait()) return;
        ++Holding;
        while (!Release) std::this_thread::sleep_for(1ms);
      });
    if (Case.ParkedFirst) std::this_thread::sleep_for(100ms);
    bool AllHeld = true;
    for (int p = 0; p < Case.Waiters && AllHeld; ++p) {
      Port.Post(0, p + 1, nullptr);
      if (Case.OneByOne) AllHeld = WaitFor([&] { return Holding == p + 1; }, 10s);
    }
    AllHeld = AllHeld && WaitFor([&] { return Holding == Case.Waiters; }, 10s);
    EXPECT_TRUE(AllHeld) << Holding << " of " << Case.Waiters << " packets taken";
    Release = true;
    Port.Close();
    for (auto& t : Threads) t.join();
  }
}

// However the packets are spaced, whether the waiters are watching the queue,
// on their way to park or long parked when one comes, every packet is taken.
TEST(CompletionPort, NoPacketIsLeftWhileWaitersPark) {
  struct TCase {
    const char* Name;
    int Waiters;
    int Packets;
    int BurstSize;                      // posted together, then awaited
    std::chrono::microseconds MaxGap;   // pause after each burst, drawn up to this
  } Cases[] = {
      {"one waiter, one packet at a time, parked in between", 1, 20, 1, 3000us},
      {"one waiter, gaps around the time it watches the queue", 1, 400, 1, 60us},
      {"four waiters, gaps around the time they watch the queue", 4, 400, 1, 60us},
      {"four waiters, bursts with short gaps", 4, 4000, 16, 60us},
      {"25 waiters, bursts, parked in between", 25, 400, 40, 3000us},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TCompletionPort Port;
    std::atomic<int> Taken{0};
    std::vector<std::thread> Threads;
    for (int w = 0; w < Case.Waiters; ++w)
      Threads.emplace_back([&] {
        while (Port.Wait()) ++Taken;
      });
    std::minstd_rand Random(7);
    bool Lost = false;
    for (int Posted = 0; Posted < Case.Packets && !Lost;) {
      for (int b = 0; b < Case.BurstSize; ++b) Port.Post(0, ++Posted, nullptr);
      Lost = !WaitFor([&] { return Taken == Posted; }, 10s);
      EXPECT_FALSE(Lost) << "after " << Posted << " packets only " << Taken << " were taken";
      std::this_thread::sleep_for(std::chrono::microseconds(Random() % (Case.MaxGap.count() + 1)));
    }
    Port.Close();
    for (auto& t : Threads) t.join();
  }
}

TEST(CompletionPort, CloseFailsEveryBlockedWaiter) {
  constexpr int kWaiters = 8;
  TCompletionPort Port;
  std::atomic<int> Failed{0};
  std::vector<std::thread> Threads;
  for (int w = 0; w < kWaiters; ++w)
    Threads.emplace_back([&] {
      if (!Port.Wait()) ++Failed;
    });
  std::this_thread::sleep_for(50ms);  // let them block; the outcome is the same if they have not
  EXPECT_TRUE(Port.Close().empty());
  for (auto& t : Threads) t.join();
  EXPECT_EQ(Failed, kWaiters);
}

TEST(CompletionPort, AClosedPortRefusesPostsAndWaitsAndHandsBackWhatWasLeft) {
  TCompletionPort Port;
  Port.Post(1, 11, nullptr);
  Port.Post(2, 22, Tag(0xFFFFFFFF));
  auto Left = Port.Close();
  ASSERT_EQ(Left.size(), 2u);
  EXPECT_EQ(Left[0].Key, 11u);
  EXPECT_EQ(Left[1].Bytes, 2u);
  EXPECT_EQ(Left[1].Overlapped, Tag(0xFFFFFFFF));
  EXPECT_FALSE(Port.Wait());
  EXPECT_FALSE(Port.Post(3, 33, nullptr));
  EXPECT_FALSE(Port.Wait());
  EXPECT_TRUE(Port.Close().empty());
}
