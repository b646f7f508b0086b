#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include <tolvane/platform/completion_port.h>

using namespace tolvane::platform;
using namespace std::chrono_literals;

namespace {

void* Tag(std::uintptr_t n) { return reinterpret_cast<void*>(n); }

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

// Workers that block inside a request must not keep the others from running.
TEST(CompletionPort, TwentyFiveWaitersCanAllBeBusyAtOnce) {
  constexpr int kWaiters = 25;
  TCompletionPort Port;
  std::barrier AllInside(kWaiters + 1);
  std::vector<std::thread> Threads;
  for (int w = 0; w < kWaiters; ++w)
    Threads.emplace_back([&] {
      if (Port.Wait()) AllInside.arrive_and_wait();
    });
  for (int w = 0; w < kWaiters; ++w) Port.Post(0, w + 1, nullptr);
  auto Met = std::async(std::launch::async, [&] { AllInside.arrive_and_wait(); });
  ASSERT_EQ(Met.wait_for(10s), std::future_status::ready) << "not every waiter got a packet";
  for (auto& t : Threads) t.join();
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
