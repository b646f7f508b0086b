#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <tolvane/platform/rw_lock.h>

using namespace tolvane::platform;
using namespace std::chrono_literals;

namespace {

// True when Take (run on another thread) finishes within a short wait; the
// thread is always joined before returning (Release lets it through).
template <class Take>
bool OtherThreadGetsIn(TReentrantRWLock& Lock, Take&& TakeIt, const std::function<void()>& Release) {
  std::atomic<bool> started{false}, in{false};
  std::thread t([&] {
    started = true;
    TakeIt(Lock);
    in = true;
  });
  // The wait counts from the thread's start, which a loaded machine may delay.
  while (!started) std::this_thread::yield();
  for (int i = 0; i < 100 && !in; ++i) std::this_thread::sleep_for(1ms);
  bool got = in;
  Release();
  t.join();
  return got;
}

}  // namespace

TEST(ReentrantRWLock, TheWriterMayTakeItAgainAndOthersWaitUntilTheLastRelease) {
  TReentrantRWLock lock;
  lock.BeginWrite();
  lock.BeginWrite();
  lock.BeginRead();  // reading inside writing counts as one more take
  EXPECT_TRUE(lock.WrittenByMe());
  lock.EndRead();
  lock.EndWrite();
  EXPECT_TRUE(lock.WrittenByMe());
  auto reader = [](TReentrantRWLock& l) {
    l.BeginRead();
    l.EndRead();
  };
  // Still held once: another thread's reader waits until the last release.
  EXPECT_FALSE(OtherThreadGetsIn(lock, reader, [&] { lock.EndWrite(); }));
  EXPECT_FALSE(lock.WrittenByMe());
}

TEST(ReentrantRWLock, ReadersShareAndExcludeWriters) {
  TReentrantRWLock lock;
  lock.BeginRead();
  auto reader = [](TReentrantRWLock& l) {
    l.BeginRead();
    l.EndRead();
  };
  bool sharedRead = OtherThreadGetsIn(lock, reader, [] {});
  EXPECT_TRUE(sharedRead);
  auto writer = [](TReentrantRWLock& l) {
    l.BeginWrite();
    l.EndWrite();
  };
  EXPECT_FALSE(OtherThreadGetsIn(lock, writer, [&] { lock.EndRead(); }));
  // Released: a writer gets in at once.
  EXPECT_TRUE(OtherThreadGetsIn(lock, writer, [] {}));
}

TEST(ReentrantRWLock, WritersAreSerialised) {
  TReentrantRWLock lock;
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        TWriteLock outer(lock);
        TWriteLock inner(lock);
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 8000);
}
