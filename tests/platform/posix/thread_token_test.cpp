#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <tolvane/platform/thread.h>
#include <tolvane/platform/thread_token.h>

using namespace tolvane::platform;

namespace {

struct TIds {
  uid_t Uid;
  gid_t Gid;
  std::vector<gid_t> Groups;
};

struct TObserved {
  uid_t RealUid, Uid, SavedUid;
  gid_t RealGid, Gid, SavedGid;
  std::vector<gid_t> Groups;
};

TObserved Observe() {
  TObserved O;
  getresuid(&O.RealUid, &O.Uid, &O.SavedUid);
  getresgid(&O.RealGid, &O.Gid, &O.SavedGid);
  O.Groups.resize(getgroups(0, nullptr));
  O.Groups.resize(getgroups(O.Groups.size(), O.Groups.data()));
  std::sort(O.Groups.begin(), O.Groups.end());
  return O;
}

// Puts the calling thread under an identity with the raw per-thread calls.
void Become(const TIds& Ids) {
  ASSERT_EQ(syscall(SYS_setresuid, -1, 0, -1), 0);
  ASSERT_EQ(syscall(SYS_setgroups, Ids.Groups.size(), Ids.Groups.data()), 0);
  ASSERT_EQ(syscall(SYS_setresgid, -1, Ids.Gid, -1), 0);
  ASSERT_EQ(syscall(SYS_setresuid, -1, Ids.Uid, -1), 0);
}

void OnNewThread(const std::function<void()>& Body) { std::thread(Body).join(); }

std::unique_ptr<TThreadToken> TokenOf(const TIds& Ids) {
  std::unique_ptr<TThreadToken> Token;
  OnNewThread([&] {
    Become(Ids);
    Token = OpenThreadToken();
  });
  return Token;
}

// The "Uid:" line of the process's main thread: real, effective, saved, file system.
std::string MainThreadUids() {
  std::ifstream Status("/proc/self/status");
  for (std::string Line; std::getline(Status, Line);)
    if (Line.rfind("Uid:", 0) == 0) return Line;
  return {};
}

class ThreadToken : public ::testing::Test {
 protected:
  void SetUp() override {
    FDumpable = prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
    ASSERT_TRUE(CaptureOwnIdentity());
  }
  void TearDown() override {
    // Identity changes made by the tests' own helpers clear the flag too.
    prctl(PR_SET_DUMPABLE, FDumpable, 0, 0, 0);
    CaptureOwnIdentity();
  }
  static bool Root() { return geteuid() == 0; }
  int FDumpable = 1;
};

}  // namespace

TEST_F(ThreadToken, TheOwnIdentityIsTakenWithoutAnySystemCall) {
  // Also holds for an unprivileged process, which may not set its groups.
  auto Token = OpenThreadToken();
  ASSERT_TRUE(Token);
  auto Before = Observe();
  EXPECT_TRUE(Impersonate(*Token));
  EXPECT_TRUE(RevertToOwnIdentity());
  auto After = Observe();
  EXPECT_EQ(After.Uid, Before.Uid);
  EXPECT_EQ(After.Groups, Before.Groups);
}

TEST_F(ThreadToken, AWorkerTakesEachCallersIdentityAloneAndReturnsToItsOwn) {
  if (!Root()) GTEST_SKIP() << "changing identities needs root";
  const std::vector<TIds> Cases = {
      {65534, 65534, {}},
      {65534, 65534, {100, 65534, 4}},
      {1000, 1001, {1002}},
      {0, 65534, {}},  // only the group differs from the worker's own
      {65534, 0, {0}},
      {1000, 1001, {1002}},
  };
  const auto Own = Observe();
  const auto MainBefore = MainThreadUids();
  OnNewThread([&] {
    for (const auto& Case : Cases) {
      SCOPED_TRACE(testing::Message() << "uid " << Case.Uid << " gid " << Case.Gid);
      auto Token = TokenOf(Case);
      ASSERT_TRUE(Token);
      // Straight from the previous caller's identity, without a revert between.
      ASSERT_TRUE(Impersonate(*Token));
      auto Now = Observe();
      auto Groups = Case.Groups;
      std::sort(Groups.begin(), Groups.end());
      EXPECT_EQ(Now.Uid, Case.Uid);
      EXPECT_EQ(Now.Gid, Case.Gid);
      EXPECT_EQ(Now.Groups, Groups);
      // Real and saved ids stay the worker's, so it can always go back.
      EXPECT_EQ(Now.RealUid, Own.RealUid);
      EXPECT_EQ(Now.SavedUid, Own.SavedUid);
      EXPECT_EQ(Now.RealGid, Own.RealGid);
      EXPECT_EQ(Now.SavedGid, Own.SavedGid);
      // No other thread of the process changed.
      EXPECT_EQ(MainThreadUids(), MainBefore);
      // Holding that identity already, the worker makes no call: a call
      // changing an effective id would clear the flag again.
      prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
      ASSERT_TRUE(Impersonate(*Token));
      EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 1);
    }
    ASSERT_TRUE(RevertToOwnIdentity());
    auto Back = Observe();
    EXPECT_EQ(Back.Uid, Own.Uid);
    EXPECT_EQ(Back.Gid, Own.Gid);
    EXPECT_EQ(Back.Groups, Own.Groups);
    EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), FDumpable) << "the dumpable flag was not restored";
  });
}

TEST_F(ThreadToken, ImpersonatingTheOwnTokenAlsoReturnsToTheOwnIdentity) {
  if (!Root()) GTEST_SKIP() << "changing identities needs root";
  auto OwnToken = OpenThreadToken();
  auto Caller = TokenOf({65534, 65534, {}});
  ASSERT_TRUE(OwnToken && Caller);
  OnNewThread([&] {
    ASSERT_TRUE(Impersonate(*Caller));
    ASSERT_TRUE(Impersonate(*OwnToken));
    auto Now = Observe();
    EXPECT_EQ(Now.Uid, 0u);
    EXPECT_EQ(Now.Gid, 0u);
    EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), FDumpable);
  });
}

TEST_F(ThreadToken, AnUnprivilegedWorkerRefusesAnotherIdentityAndKeepsItsOwn) {
  if (!Root()) GTEST_SKIP() << "setting up an unprivileged worker needs root";
  auto Other = TokenOf({1000, 1000, {1000}});
  ASSERT_TRUE(Other);
  OnNewThread([&] {
    Become({65534, 65534, {}});
    ASSERT_TRUE(CaptureOwnIdentity());  // this worker's own identity is nobody
    auto Mine = OpenThreadToken();
    ASSERT_TRUE(Mine);
    EXPECT_TRUE(Impersonate(*Mine));
    for (int Attempt = 0; Attempt < 2; ++Attempt) {  // a refused identity stays refused
      EXPECT_FALSE(Impersonate(*Other));
      auto Now = Observe();
      EXPECT_EQ(Now.Uid, 65534u);
      EXPECT_EQ(Now.Gid, 65534u);
      EXPECT_TRUE(Now.Groups.empty());
    }
  });
}

// A worker inherits the identity of the thread that started it, which may be
// impersonating; it must still find its way back to its own.
TEST_F(ThreadToken, AWorkerStartedUnderACallersIdentityRevertsToItsOwn) {
  if (!Root()) GTEST_SKIP() << "changing identities needs root";
  auto Caller = TokenOf({65534, 65534, {100}});
  ASSERT_TRUE(Caller);
  const auto Own = Observe();
  std::pair<TObserved, TObserved> Seen;
  OnNewThread([&] {
    ASSERT_TRUE(Impersonate(*Caller));
    std::unique_ptr<TThreadHandle> Worker = StartThread(
        [](void* Argument) {
          auto& Seen = *static_cast<std::pair<TObserved, TObserved>*>(Argument);
          Seen.first = Observe();
          RevertToOwnIdentity();
          Seen.second = Observe();
        },
        &Seen);
    ASSERT_TRUE(Worker);
    std::vector<std::unique_ptr<TThreadHandle>> Set;
    Set.push_back(std::move(Worker));
    ASSERT_TRUE(WaitForThreads(Set, 10000));
    RevertToOwnIdentity();
  });
  EXPECT_EQ(Seen.first.Uid, 65534u);
  EXPECT_EQ(Seen.second.Uid, Own.Uid);
  EXPECT_EQ(Seen.second.Gid, Own.Gid);
  EXPECT_EQ(Seen.second.Groups, Own.Groups);
}

TEST_F(ThreadToken, TheDumpableFlagReturnsOnlyOnceNoThreadRunsAsAnotherUser) {
  if (!Root()) GTEST_SKIP() << "changing identities needs root";
  prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
  ASSERT_TRUE(CaptureOwnIdentity());
  auto First = TokenOf({4321, 4321, {}});
  auto Second = TokenOf({8765, 8765, {}});
  ASSERT_TRUE(First && Second);
  std::promise<void> Away, Return;
  std::thread Long([&] {
    EXPECT_TRUE(Impersonate(*First));
    Away.set_value();
    Return.get_future().wait();
    EXPECT_TRUE(RevertToOwnIdentity());
  });
  Away.get_future().wait();
  OnNewThread([&] {
    ASSERT_TRUE(Impersonate(*Second));
    ASSERT_TRUE(RevertToOwnIdentity());
  });
  EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0) << "dumpable while a thread still runs as user 4321";
  Return.set_value();
  Long.join();
  EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 1) << "not restored once every thread was back";
}

// Work queued by a thread that holds the own identity needs no token: it is
// served under that identity anyway. Any difference, down to one
// supplementary group, gives a token with exactly the caller's identity, and
// without a known own identity every caller gets a token, which no worker
// can take then.
TEST_F(ThreadToken, QueuedWorkCarriesATokenExactlyWhenItsCallerIsAwayFromTheOwnIdentity) {
  const auto Own = Observe();
  std::unique_ptr<TThreadToken> Token;
  OnNewThread([&] { Token = OpenThreadTokenUnlessOwn(); });
  EXPECT_FALSE(Token) << "a caller under the own identity got a token";
  ForgetOwnIdentity();
  OnNewThread([&] { Token = OpenThreadTokenUnlessOwn(); });
  ASSERT_TRUE(Token) << "without a known own identity a caller got no token";
  OnNewThread([&] { EXPECT_FALSE(Impersonate(*Token)); });
  ASSERT_TRUE(CaptureOwnIdentity());

  if (!Root()) GTEST_SKIP() << "changing identities needs root";
  auto OneMore = Own.Groups;
  OneMore.push_back(4242);
  const struct {
    const char* Name;
    TIds Ids;
  } Away[] = {
      {"another user", {65534, 65534, {}}},
      {"only the group differs", {Own.Uid, 65534, Own.Groups}},
      {"other supplementary groups", {Own.Uid, Own.Gid, {100, 4}}},
      {"one supplementary group more", {Own.Uid, Own.Gid, OneMore}},
  };
  for (const auto& Case : Away) {
    SCOPED_TRACE(Case.Name);
    OnNewThread([&] {
      Become(Case.Ids);
      Token = OpenThreadTokenUnlessOwn();
    });
    ASSERT_TRUE(Token);
    OnNewThread([&] {
      ASSERT_TRUE(Impersonate(*Token));
      auto Now = Observe();
      auto Groups = Case.Ids.Groups;
      std::sort(Groups.begin(), Groups.end());
      EXPECT_EQ(Now.Uid, Case.Ids.Uid);
      EXPECT_EQ(Now.Gid, Case.Ids.Gid);
      EXPECT_EQ(Now.Groups, Groups);
      EXPECT_TRUE(RevertToOwnIdentity());
    });
  }
}
