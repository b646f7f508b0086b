// The worker pool driven through a small fake host: each control block's
// ConnID names a fake request, the request path records where and under which
// identity it served the request, and ServerSupportFunction records the end of
// the session with its thread.
#include <tolvane/isapi/isapi_thread_pool.h>

#ifndef _WIN32
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <latch>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/isapi/isapi_entry_points.h>
#include <tolvane/platform/com.h>
#include <tolvane/platform/thread.h>
#include <tolvane/platform/thread_token.h>
#include <tolvane/runtime/com_init.h>
#include <tolvane/runtime/exception.h>
#include "support/fake_isapi_host.h"
#include "support/process_threads.h"

using namespace tolvane;
using namespace std::chrono_literals;
using tolvane::testing::CurrentSystemThreadId;
using tolvane::testing::ProcessThreadIds;
using tolvane::testing::TSystemThreadId;

namespace {

enum TBehaviour { rbAnswer, rbBlock, rbThrowException, rbThrowOther };
enum TCallKind { ckServed, ckDone };

// The identity a thread runs under. Windows impersonation is checked by the
// tests of the thread-token pieces; here only the POSIX one is compared.
#ifdef _WIN32
struct TIdentity {
  bool operator==(const TIdentity&) const = default;
};
TIdentity ThreadIdentity() { return {}; }
#else
struct TIdentity {
  uid_t Uid = 0;
  gid_t Gid = 0;
  std::vector<gid_t> Groups;  // sorted
  bool operator==(const TIdentity&) const = default;
};

TIdentity ThreadIdentity() {
  TIdentity Id;
  uid_t Real, Saved;
  gid_t RealG, SavedG;
  getresuid(&Real, &Id.Uid, &Saved);
  getresgid(&RealG, &Id.Gid, &SavedG);
  Id.Groups.resize(getgroups(0, nullptr));
  Id.Groups.resize(getgroups(Id.Groups.size(), Id.Groups.data()));
  std::sort(Id.Groups.begin(), Id.Groups.end());
  return Id;
}
#endif

class TFakeHost;

struct TFakeRequest {
  TFakeHost* Host = nullptr;
  TBehaviour Behaviour = rbAnswer;
  EXTENSION_CONTROL_BLOCK ECB{};
};

struct TCall {
  TCallKind Kind;
  const TFakeRequest* Request;
  std::thread::id Thread;
  TSystemThreadId Tid = 0;
  TIdentity Identity;
  bool NullArguments = true;
};

class TFakeHost {
 public:
  TFakeRequest& NewRequest(TBehaviour Behaviour = rbAnswer) {
    auto Request = std::make_unique<TFakeRequest>();
    Request->Host = this;
    Request->Behaviour = Behaviour;
    Request->ECB.cbSize = sizeof(EXTENSION_CONTROL_BLOCK);
    Request->ECB.ConnID = Request.get();
    Request->ECB.ServerSupportFunction = &SupportFunction;
    std::lock_guard Guard(FLock);
    FRequests.push_back(std::move(Request));
    return *FRequests.back();
  }

  // Notifies under the lock: a worker that outlives its pool may be the last
  // to touch the host, which the test destroys once it has seen the call.
  void Record(TCall Call) {
    std::lock_guard Guard(FLock);
    FCalls.push_back(std::move(Call));
    FChanged.notify_all();
  }

  std::vector<TCall> Calls() {
    std::lock_guard Guard(FLock);
    return FCalls;
  }
  std::vector<TCall> CallsOf(const TFakeRequest& Request, TCallKind Kind) {
    std::vector<TCall> Found;
    for (const TCall& Call : Calls())
      if (Call.Request == &Request && Call.Kind == Kind) Found.push_back(Call);
    return Found;
  }
  std::size_t Count(TCallKind Kind) {
    std::lock_guard Guard(FLock);
    return std::count_if(FCalls.begin(), FCalls.end(), [Kind](const TCall& C) { return C.Kind == Kind; });
  }
  bool WaitForDone(std::size_t Count, std::chrono::milliseconds Limit = 10s) {
    std::unique_lock Guard(FLock);
    return FChanged.wait_for(Guard, Limit, [&] {
      return std::count_if(FCalls.begin(), FCalls.end(), [](const TCall& C) { return C.Kind == ckDone; }) >=
             static_cast<std::ptrdiff_t>(Count);
    });
  }

  // Requests of behaviour rbBlock wait inside the request path until the gate opens.
  void Block() {
    std::unique_lock Guard(FLock);
    ++FInside;
    FChanged.notify_all();
    FChanged.wait(Guard, [this] { return FOpen; });
    --FInside;
  }
  bool WaitInside(int Count, std::chrono::milliseconds Limit = 10s) {
    std::unique_lock Guard(FLock);
    return FChanged.wait_for(Guard, Limit, [&] { return FInside >= Count; });
  }
  void Open() {
    {
      std::lock_guard Guard(FLock);
      FOpen = true;
    }
    FChanged.notify_all();
  }

 private:
  static BOOL SupportFunction(HCONN ConnID, DWORD Request, LPVOID Buffer, LPDWORD Size, LPDWORD DataType) {
    auto* Fake = static_cast<TFakeRequest*>(ConnID);
    if (Request == HSE_REQ_DONE_WITH_SESSION)
      Fake->Host->Record({ckDone, Fake, std::this_thread::get_id(), CurrentSystemThreadId(),
                          ThreadIdentity(), !Buffer && !Size && !DataType});
    return ISAPI_TRUE;
  }

  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<std::unique_ptr<TFakeRequest>> FRequests;
  std::vector<TCall> FCalls;
  int FInside = 0;
  bool FOpen = false;
};

// The request path the workers call.
DWORD RecordedRequest(EXTENSION_CONTROL_BLOCK* ECB) {
  auto* Fake = static_cast<TFakeRequest*>(ECB->ConnID);
  Fake->Host->Record({ckServed, Fake, std::this_thread::get_id(), CurrentSystemThreadId(),
                      ThreadIdentity()});
  switch (Fake->Behaviour) {
    case rbBlock:
      Fake->Host->Block();
      break;
    case rbThrowException:
      throw ECorvelException(u"request failed");
    case rbThrowOther:
      throw 42;
    case rbAnswer:
      break;
  }
  return HSE_STATUS_SUCCESS;
}

bool WaitUntil(const std::function<bool()>& Condition, std::chrono::milliseconds Limit = 10s) {
  const auto Deadline = std::chrono::steady_clock::now() + Limit;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// A pool whose ShutDown waits briefly, named by its own class reference.
class TShortWaitPool : public TISAPIThreadPool {
  TV_DECLARE_CLASS(TShortWaitPool)
 public:
  static constexpr std::uint32_t kWaitMs = 300;
  explicit TShortWaitPool(bool InitCOM) : TISAPIThreadPool(InitCOM) { SetShutDownTimeoutMs(kWaitMs); }
};
TV_DEFINE_CLASS(TShortWaitPool, TISAPIThreadPool);

class ISAPIThreadPoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSavedThreads = NumberOfThreads;
    DirectRequestProc = &RecordedRequest;
    // As the library's load does: the identity workers return to.
    ASSERT_TRUE(platform::CaptureOwnIdentity());
    // The test framework keeps per-thread state for SCOPED_TRACE and, on
    // Windows, watches each thread that has some from a thread of its own:
    // let that one start before the threads are taken too.
    { SCOPED_TRACE("baseline"); }
    // A sanitizer's own helper thread starts with the process's first thread:
    // let that happen before the threads are taken, and leave out this one.
    TSystemThreadId Starter = 0;
    std::thread([&Starter] { Starter = CurrentSystemThreadId(); }).join();
    FBaseline = ProcessThreadIds();
    FBaseline.insert(Starter);
  }
  void TearDown() override {
    NumberOfThreads = FSavedThreads;
    DirectRequestProc = nullptr;
  }
  // Every request was served (when Served says so) and ended exactly once,
  // the end after the serving and on the same worker.
  void ExpectServedAndDone(const TFakeRequest& Request, bool Served = true) {
    auto Serving = FHost.CallsOf(Request, ckServed);
    auto Done = FHost.CallsOf(Request, ckDone);
    ASSERT_EQ(Done.size(), 1u) << "the session must be ended exactly once";
    EXPECT_TRUE(Done[0].NullArguments);
    ASSERT_EQ(Serving.size(), Served ? 1u : 0u);
    if (Served) {
      EXPECT_EQ(Serving[0].Thread, Done[0].Thread);
      EXPECT_NE(Serving[0].Thread, std::this_thread::get_id()) << "served on the caller's thread";
      auto Calls = FHost.Calls();
      auto Position = [&](TCallKind Kind) {
        return std::find_if(Calls.begin(), Calls.end(), [&](const TCall& C) { return C.Request == &Request && C.Kind == Kind; });
      };
      EXPECT_LT(Position(ckServed), Position(ckDone));
    }
  }
  // A joined thread can stay listed by the kernel for a moment, so the count
  // is awaited rather than read once.
  bool ThreadsAboveBaselineBecome(std::size_t Count) {
    return WaitUntil([&] {
      std::size_t Above = 0;
      for (TSystemThreadId Tid : ProcessThreadIds()) Above += !FBaseline.count(Tid);
      return Above == Count;
    }, 5s);
  }

  TFakeHost FHost;
  std::uint8_t FSavedThreads = 25;
  std::set<TSystemThreadId> FBaseline;
};

TEST_F(ISAPIThreadPoolTest, LifecycleFromCreatedToStartedToStoppedAndStartedAgain) {
  TISAPIThreadPool Pool(false);
  Pool.SetMin(5);
  Pool.SetMax(9);
  EXPECT_EQ(Pool.Min(), 0);
  EXPECT_EQ(Pool.Max(), 0);
  EXPECT_EQ(Pool.ThreadCount(), 0u);
  EXPECT_EQ(Pool.RequestQueue(), nullptr);

  // Created, not started: nothing is queued and stopping does nothing.
  auto& Early = FHost.NewRequest();
  EXPECT_FALSE(Pool.PushBack(&Early.ECB));
  Pool.ShutDown();
  EXPECT_TRUE(ThreadsAboveBaselineBecome(0));

  for (int Round = 0; Round < 2; ++Round) {
    SCOPED_TRACE(Round == 0 ? "first start" : "started again after a stop");
    Pool.Initialize();
    platform::TCompletionPort* Port = Pool.RequestQueue();
    ASSERT_NE(Port, nullptr);
    Pool.Initialize();
    EXPECT_EQ(Pool.RequestQueue(), Port) << "a started pool must keep its port";
    EXPECT_EQ(Pool.ThreadCount(), 25u);
    EXPECT_TRUE(ThreadsAboveBaselineBecome(25));

    auto& Request = FHost.NewRequest();
    ASSERT_TRUE(Pool.PushBack(&Request.ECB));
    ASSERT_TRUE(FHost.WaitForDone(Round + 1));
    ExpectServedAndDone(Request);

    Pool.ShutDown();
    EXPECT_EQ(Pool.ThreadCount(), 0u);
    EXPECT_EQ(Pool.RequestQueue(), nullptr);
    EXPECT_TRUE(ThreadsAboveBaselineBecome(0)) << "every worker must have ended";
    auto& Late = FHost.NewRequest();
    EXPECT_FALSE(Pool.PushBack(&Late.ECB));
  }
  EXPECT_TRUE(FHost.CallsOf(Early, ckDone).empty());
  EXPECT_EQ(FHost.Count(ckDone), 2u);
}

TEST_F(ISAPIThreadPoolTest, APoolTheSystemGivesNoWorkerRefusesRequestsAndALaterOneStartsIt) {
  NumberOfThreads = 3;
  ThreadPool.store(new TISAPIThreadPool(false));
  auto& Refused = FHost.NewRequest();
  platform::SetRefuseThreads(true);
  const DWORD RefusedStatus = exports::HttpExtensionProc(&Refused.ECB);
  platform::SetRefuseThreads(false);
  EXPECT_EQ(RefusedStatus, static_cast<DWORD>(HSE_STATUS_ERROR)) << "queued for a pool without workers";
  EXPECT_EQ(ThreadPool.load()->ThreadCount(), 0u);
  EXPECT_EQ(ThreadPool.load()->RequestQueue(), nullptr);

  auto& Served = FHost.NewRequest();
  EXPECT_EQ(exports::HttpExtensionProc(&Served.ECB), static_cast<DWORD>(HSE_STATUS_PENDING));
  ASSERT_TRUE(FHost.WaitForDone(1));
  ExpectServedAndDone(Served);
  EXPECT_EQ(ThreadPool.load()->ThreadCount(), 3u);
  delete ThreadPool.exchange(nullptr);
  // Refused at once: the host finishes it, so the library never ends it.
  EXPECT_TRUE(FHost.CallsOf(Refused, ckServed).empty());
  EXPECT_TRUE(FHost.CallsOf(Refused, ckDone).empty());
}

TEST_F(ISAPIThreadPoolTest, RequestsArrivingTogetherBeforeTheStartMakeOnePortAndOneSetOfWorkers) {
  constexpr int kCallers = 4;
  TISAPIThreadPool Pool(false);
  std::vector<TFakeRequest*> Requests;
  for (int I = 0; I < kCallers; ++I) Requests.push_back(&FHost.NewRequest());
  std::vector<platform::TCompletionPort*> Ports(kCallers);
  std::vector<char> Queued(kCallers);  // not vector<bool>: each caller writes its own element
  {
    std::latch Together(kCallers);
    std::vector<std::jthread> Callers;
    for (int I = 0; I < kCallers; ++I)
      Callers.emplace_back([&, I] {
        Together.arrive_and_wait();
        // As the entry point does for every pooled request.
        Pool.Initialize();
        Ports[I] = Pool.RequestQueue();
        Queued[I] = Pool.PushBack(&Requests[I]->ECB);
      });
  }
  ASSERT_TRUE(FHost.WaitForDone(kCallers));
  for (int I = 0; I < kCallers; ++I) {
    EXPECT_TRUE(Queued[I]);
    EXPECT_EQ(Ports[I], Ports[0]);
    ExpectServedAndDone(*Requests[I]);
  }
  EXPECT_EQ(Pool.ThreadCount(), 25u);
  EXPECT_TRUE(ThreadsAboveBaselineBecome(25));
}

TEST_F(ISAPIThreadPoolTest, EveryWorkerCanBeInsideARequestAndShutDownServesWhatWasQueuedFirst) {
  TISAPIThreadPool Pool(false);
  Pool.Initialize();
  std::vector<TFakeRequest*> Busy, Queued;
  for (int I = 0; I < 25; ++I) {
    Busy.push_back(&FHost.NewRequest(rbBlock));
    ASSERT_TRUE(Pool.PushBack(&Busy.back()->ECB));
  }
  ASSERT_TRUE(FHost.WaitInside(25)) << "a worker inside a request held the others back";

  for (int I = 0; I < 5; ++I) {
    Queued.push_back(&FHost.NewRequest());
    ASSERT_TRUE(Pool.PushBack(&Queued.back()->ECB));
  }
  const auto Start = std::chrono::steady_clock::now();
  std::jthread Stopper([&] { Pool.ShutDown(); });
  // The stop orders are now behind the five; none of them may overtake.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(FHost.Count(ckDone), 0u);
  FHost.Open();
  Stopper.join();
  EXPECT_EQ(Pool.LateWorkers(), 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 10s);

  EXPECT_EQ(FHost.Count(ckDone), 30u);
  for (auto* Request : Busy) ExpectServedAndDone(*Request);
  for (auto* Request : Queued) ExpectServedAndDone(*Request);
  EXPECT_TRUE(ThreadsAboveBaselineBecome(0));
}

TEST_F(ISAPIThreadPoolTest, ABusyWorkerHoldsShutDownNoLongerThanItsWaitAndOutlivesThePool) {
  NumberOfThreads = 2;
  auto Pool = ThreadPoolClassOf<TShortWaitPool>()->Create(false);
  Pool->Initialize();
  auto& BusyA = FHost.NewRequest(rbBlock);
  auto& BusyB = FHost.NewRequest(rbBlock);
  ASSERT_TRUE(Pool->PushBack(&BusyA.ECB));
  ASSERT_TRUE(Pool->PushBack(&BusyB.ECB));
  ASSERT_TRUE(FHost.WaitInside(2));
  // No worker is free to take these.
  auto& WaitingA = FHost.NewRequest();
  auto& WaitingB = FHost.NewRequest();
  ASSERT_TRUE(Pool->PushBack(&WaitingA.ECB));
  ASSERT_TRUE(Pool->PushBack(&WaitingB.ECB));

  const auto Start = std::chrono::steady_clock::now();
  Pool->ShutDown();
  const auto Took = std::chrono::steady_clock::now() - Start;
  EXPECT_GE(Took, std::chrono::milliseconds(TShortWaitPool::kWaitMs - 20));
  EXPECT_LT(Took, 5s);
  EXPECT_EQ(Pool->ThreadCount(), 0u);
  EXPECT_EQ(Pool->RequestQueue(), nullptr);
  EXPECT_EQ(Pool->LateWorkers(), 2u);
  // What nobody took is ended unserved, not left open at the host.
  ExpectServedAndDone(WaitingA, false);
  ExpectServedAndDone(WaitingB, false);

  // The busy workers finish after the pool is gone, and then end.
  Pool.reset();
  FHost.Open();
  ASSERT_TRUE(FHost.WaitForDone(4));
  ExpectServedAndDone(BusyA);
  ExpectServedAndDone(BusyB);
  EXPECT_TRUE(ThreadsAboveBaselineBecome(0)) << "a worker did not end at the closed port";
}

TEST_F(ISAPIThreadPoolTest, TheSessionEndsAndTheWorkerGoesOnWhateverTheRequestPathDid) {
  NumberOfThreads = 1;  // so the next request shows that the same worker survived
  struct TCase {
    const char* Name;
    TBehaviour Behaviour;
    TDirectRequestProc Proc;
  };
  const TCase Cases[] = {
      {"answers", rbAnswer, &RecordedRequest},
      {"throws a library exception", rbThrowException, &RecordedRequest},
      {"throws something else", rbThrowOther, &RecordedRequest},
      {"no request path set", rbAnswer, nullptr},
  };
  TISAPIThreadPool Pool(false);
  Pool.Initialize();
  std::size_t Done = 0;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    DirectRequestProc = Case.Proc;
    auto& Request = FHost.NewRequest(Case.Behaviour);
    ASSERT_TRUE(Pool.PushBack(&Request.ECB));
    ASSERT_TRUE(FHost.WaitForDone(++Done));
    ExpectServedAndDone(Request, Case.Proc != nullptr);

    DirectRequestProc = &RecordedRequest;
    auto& Next = FHost.NewRequest();
    ASSERT_TRUE(Pool.PushBack(&Next.ECB));
    ASSERT_TRUE(FHost.WaitForDone(++Done));
    ExpectServedAndDone(Next);
    EXPECT_EQ(FHost.CallsOf(Next, ckDone)[0].Thread, FHost.CallsOf(Request, ckDone)[0].Thread);
  }
}

TEST_F(ISAPIThreadPoolTest, PushBackRacingShutDownLosesNoAcceptedRequest) {
  TISAPIThreadPool Pool(false);
  Pool.Initialize();
  std::atomic<std::size_t> Accepted{0};
  std::vector<std::pair<TFakeRequest*, bool>> Posted;
  std::jthread Poster([&] {
    for (int I = 0; I < 200000; ++I) {
      auto& Request = FHost.NewRequest();
      const bool Queued = Pool.PushBack(&Request.ECB);
      Posted.emplace_back(&Request, Queued);
      if (!Queued) return;
      Accepted.fetch_add(1, std::memory_order_relaxed);
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return Accepted.load() >= 200; }));
  Pool.ShutDown();
  Poster.join();
  ASSERT_FALSE(Posted.empty());
  EXPECT_FALSE(Posted.back().second) << "the poster should have been refused once the pool stopped";
  std::map<const TFakeRequest*, std::size_t> Ended;
  for (const TCall& Call : FHost.Calls())
    if (Call.Kind == ckDone) ++Ended[Call.Request];
  for (const auto& [Request, Queued] : Posted)
    ASSERT_EQ(Ended[Request], Queued ? 1u : 0u) << "every accepted request ends once, a refused one never";
}

TEST_F(ISAPIThreadPoolTest, WorkersInitializeCOMOnlyWhenAskedAndWithTheProcessWideModel) {
  struct TCase {
    const char* Name;
    bool Created;
    std::optional<bool> SetBeforeStart, SetWhileStarted;
    std::int32_t Flags;
    bool ExpectCOM;
    std::int32_t ExpectFlags;
  };
  const TCase Cases[] = {
      {"not asked", false, {}, {}, platform::kCoInitMultithreaded, false, 0},
      {"multithreaded", true, {}, {}, platform::kCoInitMultithreaded, true, platform::kCoInitMultithreaded},
      {"apartment", true, {}, {}, platform::kCoInitApartmentThreaded, true, platform::kCoInitApartmentThreaded},
      {"no model chosen", true, {}, {}, kCoInitFlagsUnset, true, platform::kCoInitApartmentThreaded},
      {"asked before the start", false, true, {}, platform::kCoInitMultithreaded, true, platform::kCoInitMultithreaded},
      {"asked while running", false, {}, true, platform::kCoInitMultithreaded, false, 0},
      {"released while running", true, {}, false, platform::kCoInitMultithreaded, true, platform::kCoInitMultithreaded},
  };
  const std::int32_t SavedFlags = CoInitFlags;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    CoInitFlags = Case.Flags;
    platform::ClearComRecords();
    TISAPIThreadPool Pool(Case.Created);
    if (Case.SetBeforeStart) Pool.SetInitCOM(*Case.SetBeforeStart);
    Pool.Initialize();
    if (Case.SetWhileStarted) {
      Pool.SetInitCOM(*Case.SetWhileStarted);
      EXPECT_EQ(Pool.InitCOM(), Case.ExpectCOM) << "the running workers' setting must stay";
    }
    auto& Request = FHost.NewRequest();
    const std::size_t Done = FHost.Count(ckDone);
    ASSERT_TRUE(Pool.PushBack(&Request.ECB));
    ASSERT_TRUE(FHost.WaitForDone(Done + 1));
    const std::thread::id Server = FHost.CallsOf(Request, ckServed).at(0).Thread;
    Pool.ShutDown();

    auto Records = platform::ComRecords();
    if (!Case.ExpectCOM) {
      EXPECT_TRUE(Records.empty());
      continue;
    }
    ASSERT_EQ(Records.size(), 25u);
    std::set<std::thread::id> Threads;
    for (const auto& Record : Records) {
      Threads.insert(Record.Thread);
      EXPECT_EQ(Record.Flags, Case.ExpectFlags);
      EXPECT_TRUE(Record.Released) << "a worker ended without releasing COM";
    }
    EXPECT_EQ(Threads.size(), 25u);
    EXPECT_TRUE(Threads.count(Server)) << "the request was served on a thread without COM";
  }
  CoInitFlags = SavedFlags;
  platform::ClearComRecords();
}

TEST_F(ISAPIThreadPoolTest, AClassReferenceBuildsTheClassItNames) {
  struct TCase {
    TISAPIThreadPoolClass Class;
    bool InitCOM;
    const char16_t* Name;
  };
  const TCase Cases[] = {
      {ThreadPoolClassOf<TISAPIThreadPool>(), false, u"TISAPIThreadPool"},
      {ThreadPoolClassOf<TShortWaitPool>(), true, u"TShortWaitPool"},
  };
  for (const TCase& Case : Cases) {
    auto Pool = Case.Class->Create(Case.InitCOM);
    EXPECT_EQ(Pool->ClassName(), Case.Name);
    EXPECT_TRUE(Pool->InheritsFrom(TISAPIThreadPool::StaticClass()));
    EXPECT_EQ(Pool->InitCOM(), Case.InitCOM);
    EXPECT_EQ(Pool->ThreadCount(), 0u);
  }
}

#ifndef _WIN32
// Identities: the caller's is carried to the worker and dropped after the
// request. Needs root.

struct TCaller {
  uid_t Uid;
  gid_t Gid;
  std::vector<gid_t> Groups;
};

// Puts the calling thread alone under an identity, with the per-thread calls.
void Become(const TCaller& Ids) {
  ASSERT_EQ(syscall(SYS_setresuid, -1, 0, -1), 0);
  ASSERT_EQ(syscall(SYS_setgroups, Ids.Groups.size(), Ids.Groups.data()), 0);
  ASSERT_EQ(syscall(SYS_setresgid, -1, Ids.Gid, -1), 0);
  ASSERT_EQ(syscall(SYS_setresuid, -1, Ids.Uid, -1), 0);
}

// The effective user and group id of one thread of the process, as the
// kernel shows them to everyone.
std::pair<long, long> EffectiveIdsOf(TSystemThreadId Tid) {
  std::ifstream Status("/proc/self/task/" + std::to_string(Tid) + "/status");
  long Uid = -1, Gid = -1;
  for (std::string Line; std::getline(Status, Line);) {
    long Real, Effective;
    if (std::sscanf(Line.c_str(), "Uid: %ld %ld", &Real, &Effective) == 2) Uid = Effective;
    if (std::sscanf(Line.c_str(), "Gid: %ld %ld", &Real, &Effective) == 2) Gid = Effective;
  }
  return {Uid, Gid};
}

class ISAPIThreadPoolIdentityTest : public ISAPIThreadPoolTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "changing identities needs root";
    ISAPIThreadPoolTest::SetUp();
    FDumpable = prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
    ASSERT_TRUE(platform::CaptureOwnIdentity());
    FOwn = ThreadIdentity();
  }
  void TearDown() override {
    if (geteuid() != 0) return;
    prctl(PR_SET_DUMPABLE, FDumpable, 0, 0, 0);
    ISAPIThreadPoolTest::TearDown();
  }
  int FDumpable = 1;
  TIdentity FOwn;
};

TEST_F(ISAPIThreadPoolIdentityTest, EachRequestRunsUnderItsCallersIdentityAndTheWorkerReturnsToItsOwn) {
  NumberOfThreads = 1;  // one worker serves every caller in turn
  TISAPIThreadPool Pool(false);
  const auto Before = ProcessThreadIds();
  // Started by a thread that is itself impersonating: the worker must not
  // keep that identity.
  TSystemThreadId Starter = 0;
  std::jthread([&] {
    Starter = CurrentSystemThreadId();
    Become({65534, 65534, {}});
    Pool.Initialize();
  }).join();
  std::set<TSystemThreadId> New;
  for (TSystemThreadId Tid : ProcessThreadIds())
    if (!Before.count(Tid) && Tid != Starter) New.insert(Tid);
  ASSERT_EQ(New.size(), 1u);
  const TSystemThreadId Worker = *New.begin();
  const std::pair<long, long> OwnIds{FOwn.Uid, FOwn.Gid};
  EXPECT_TRUE(WaitUntil([&] { return EffectiveIdsOf(Worker) == OwnIds; }))
      << "the worker kept the identity of the thread that started the pool";

  const TCaller Callers[] = {
      {65534, 65534, {}},
      {1000, 1001, {1002, 4}},
      {FOwn.Uid, FOwn.Gid, FOwn.Groups},  // the worker's own identity
      {0, 65534, {7}},
  };
  std::size_t Done = 0;
  for (const TCaller& Caller : Callers) {
    SCOPED_TRACE(::testing::Message() << "uid " << Caller.Uid << " gid " << Caller.Gid);
    auto& Request = FHost.NewRequest();
    std::jthread([&] {
      Become(Caller);
      EXPECT_TRUE(Pool.PushBack(&Request.ECB));
    }).join();
    ASSERT_TRUE(FHost.WaitForDone(++Done));
    ExpectServedAndDone(Request);
    auto Served = FHost.CallsOf(Request, ckServed).at(0);
    auto Groups = Caller.Groups;
    std::sort(Groups.begin(), Groups.end());
    EXPECT_EQ(Served.Tid, Worker);
    EXPECT_EQ(Served.Identity, (TIdentity{Caller.Uid, Caller.Gid, Groups}));
    // The host learns of the end under the caller's identity too.
    EXPECT_EQ(FHost.CallsOf(Request, ckDone).at(0).Identity, Served.Identity);
    EXPECT_TRUE(WaitUntil([&] { return EffectiveIdsOf(Worker) == OwnIds; }))
        << "the worker kept its caller's identity after the request";
  }
  Pool.ShutDown();
  EXPECT_EQ(ThreadIdentity(), FOwn) << "the test's own thread changed";
  EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), FDumpable) << "the dumpable flag was not restored";
}

// Serves nothing; counts the requests it was given.
std::atomic<int> RunRequests{0};
DWORD CountedRequest(EXTENSION_CONTROL_BLOCK*) {
  ++RunRequests;
  return HSE_STATUS_SUCCESS;
}

TEST_F(ISAPIThreadPoolIdentityTest, ARequestThatCannotRunUnderItsCallersIdentityRunsNothingAndGetsTheErrorPage) {
  NumberOfThreads = 1;
  DirectRequestProc = &CountedRequest;
  RunRequests = 0;
  // The workers' own identity is a user without the privilege to take
  // another's: every caller's identity but that one is refused.
  const TCaller Own{4000, 4000, FOwn.Groups};
  std::jthread([&] {
    ASSERT_EQ(syscall(SYS_setresuid, -1, Own.Uid, -1), 0);
    ASSERT_EQ(syscall(SYS_setresgid, -1, 0, -1), 0);
    ASSERT_TRUE(platform::CaptureOwnIdentity());
  }).join();
  const std::pair<long, long> OwnIds{Own.Uid, FOwn.Gid};
  TISAPIThreadPool Pool(false);
  Pool.Initialize();

  struct TCase {
    const char* Name;
    TCaller Caller;
    bool Runs;
  } Cases[] = {
      {"another user", {65534, 65534, {}}, false},
      {"the workers' own identity", {Own.Uid, FOwn.Gid, FOwn.Groups}, true},
      {"another user again", {1000, 1001, {4}}, false},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const int RunBefore = RunRequests;
    tolvane::testing::TFakeIsapiConnection C;
    C.SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
    std::jthread([&] {
      Become(Case.Caller);
      EXPECT_TRUE(Pool.PushBack(C.ECB()));
    }).join();
    ASSERT_TRUE(C.WaitDone(10s));
    EXPECT_EQ(RunRequests - RunBefore, Case.Runs ? 1 : 0);
    if (!Case.Runs) {
      EXPECT_EQ(C.ECB()->dwHttpStatusCode, 500u);
      EXPECT_NE(C.Written().find("<h1>Internal Server Error 500</h1>"), std::string::npos) << C.Written();
      EXPECT_NE(C.Written().find("EImpersonationError"), std::string::npos) << C.Written();
    } else {
      EXPECT_EQ(C.Written(), "");
    }
    for (TSystemThreadId Tid : ProcessThreadIds()) {
      if (FBaseline.count(Tid)) continue;
      EXPECT_TRUE(WaitUntil([&] { return EffectiveIdsOf(Tid) == OwnIds; })) << "the worker left its own identity";
    }
  }
  Pool.ShutDown();
  ASSERT_TRUE(platform::CaptureOwnIdentity());
}

TEST_F(ISAPIThreadPoolIdentityTest, WithoutAKnownOwnIdentityAWorkerTakesNoCallersIdentity) {
  NumberOfThreads = 1;
  DirectRequestProc = &CountedRequest;
  RunRequests = 0;
  // As when it could not be read at the library's load, before any worker.
  platform::ForgetOwnIdentity();
  TISAPIThreadPool Pool(false);
  Pool.Initialize();
  tolvane::testing::TFakeIsapiConnection C;
  std::jthread([&] {
    Become({65534, 65534, {}});
    EXPECT_TRUE(Pool.PushBack(C.ECB()));
  }).join();
  ASSERT_TRUE(C.WaitDone(10s));
  EXPECT_EQ(RunRequests, 0);
  EXPECT_EQ(C.ECB()->dwHttpStatusCode, 500u);
  Pool.ShutDown();
  ASSERT_TRUE(platform::CaptureOwnIdentity());
}
#endif

}  // namespace
