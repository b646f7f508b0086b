#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <tolvane/platform/critical_section.h>
#include <tolvane/platform/thread.h>

using namespace tolvane::platform;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

// A thread body that reports where it ran, waits until released and reports
// its end. The gate is shared, so a thread whose handle was closed may outlive
// the test's own reference.
struct TGate {
  std::mutex Lock;
  std::condition_variable Changed;
  std::thread::id Id;
  bool Started = false, Released = false, Finished = false;

  bool WaitFor(bool TGate::*Flag, milliseconds Timeout = 10s) {
    std::unique_lock Guard(Lock);
    return Changed.wait_for(Guard, Timeout, [&] { return this->*Flag; });
  }
  void Set(bool TGate::*Flag) {
    std::lock_guard Guard(Lock);
    this->*Flag = true;
    Changed.notify_all();
  }
};

void GateBody(void* Argument) {
  auto* Holder = static_cast<std::shared_ptr<TGate>*>(Argument);
  std::shared_ptr<TGate> Gate = std::move(*Holder);
  delete Holder;
  {
    std::lock_guard Guard(Gate->Lock);
    Gate->Id = std::this_thread::get_id();
  }
  Gate->Set(&TGate::Started);
  Gate->WaitFor(&TGate::Released, hours(1));
  Gate->Set(&TGate::Finished);
}

std::unique_ptr<TThreadHandle> StartGated(const std::shared_ptr<TGate>& Gate) {
  return StartThread(GateBody, new std::shared_ptr<TGate>(Gate));
}

milliseconds Since(steady_clock::time_point Start) {
  return duration_cast<milliseconds>(steady_clock::now() - Start);
}

}  // namespace

TEST(Thread, RunsTheBodyWithItsArgumentOnAnotherThreadAtOnce) {
  auto Gate = std::make_shared<TGate>();
  auto Handle = StartGated(Gate);
  ASSERT_TRUE(Handle);
  ASSERT_TRUE(Gate->WaitFor(&TGate::Started));
  {
    std::lock_guard Guard(Gate->Lock);
    EXPECT_NE(Gate->Id, std::this_thread::get_id());
  }
  EXPECT_FALSE(Handle->Ended());
  Gate->Set(&TGate::Released);
  std::vector<std::unique_ptr<TThreadHandle>> Set;
  Set.push_back(std::move(Handle));
  EXPECT_TRUE(WaitForThreads(Set, kInfinite));
  EXPECT_TRUE(Set[0]->Ended());
}

TEST(Thread, WaitAnswersWhetherAllEndedWithinOneTimeOutForTheWholeSet) {
  constexpr int kThreads = 8;
  std::vector<std::shared_ptr<TGate>> Gates;
  std::vector<std::unique_ptr<TThreadHandle>> Set;
  for (int i = 0; i < kThreads; ++i) {
    Gates.push_back(std::make_shared<TGate>());
    Set.push_back(StartGated(Gates.back()));
  }
  Set.push_back(nullptr);  // a thread that never started counts as ended

  auto Start = steady_clock::now();
  EXPECT_FALSE(WaitForThreads(Set, 200));
  auto Waited = Since(Start);
  EXPECT_GE(Waited, 190ms);
  EXPECT_LT(Waited, 1000ms) << "each thread waited out its own time-out";

  // One still running is enough to fail the wait.
  for (int i = 0; i < kThreads - 1; ++i) Gates[i]->Set(&TGate::Released);
  EXPECT_FALSE(WaitForThreads(Set, 50));
  Gates[kThreads - 1]->Set(&TGate::Released);
  EXPECT_TRUE(WaitForThreads(Set, 10000));
  EXPECT_TRUE(WaitForThreads({}, 0));
}

TEST(Thread, ClosingTheHandleOfARunningThreadLetsItFinish) {
  auto Gate = std::make_shared<TGate>();
  auto Handle = StartGated(Gate);
  ASSERT_TRUE(Gate->WaitFor(&TGate::Started));
  auto Start = steady_clock::now();
  Handle.reset();
  EXPECT_LT(Since(Start), 1s) << "closing waited for the thread";
  Gate->Set(&TGate::Released);
  EXPECT_TRUE(Gate->WaitFor(&TGate::Finished)) << "closing ended the thread";

  // An ended thread's handle closes at once too.
  auto Ended = std::make_shared<TGate>();
  auto Second = StartGated(Ended);
  Ended->Set(&TGate::Released);
  ASSERT_TRUE(Ended->WaitFor(&TGate::Finished));
  while (!Second->Ended()) std::this_thread::yield();
  Start = steady_clock::now();
  Second.reset();
  EXPECT_LT(Since(Start), 1s);
}

TEST(CriticalSection, ExcludesOtherThreadsAndLetsItsHolderEnterAgain) {
  TCriticalSection Section;
  long Counter = 0;  // guarded only by the section: a race here is what the sanitizer looks for
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<std::thread> Threads;
  for (int t = 0; t < kThreads; ++t)
    Threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        std::lock_guard Outer(Section);
        Section.Enter();  // nested entry by the holder
        ++Counter;
        Section.Leave();
      }
    });
  for (auto& t : Threads) t.join();
  EXPECT_EQ(Counter, long(kThreads) * kRounds);

  Section.Enter();
  Section.Enter();
  Section.Leave();
  bool OtherGotIn = true;
  std::thread([&] { OtherGotIn = Section.TryEnter(); }).join();
  EXPECT_FALSE(OtherGotIn) << "released after one of two entries";
  Section.Leave();
  std::thread([&] {
    OtherGotIn = Section.TryEnter();
    if (OtherGotIn) Section.Leave();
  }).join();
  EXPECT_TRUE(OtherGotIn);
}
