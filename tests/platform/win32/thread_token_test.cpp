// Thread tokens on Windows: only an impersonating thread has a token of its
// own; a worker takes a caller's token and returns to the process identity.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <tolvane/platform/thread.h>
#include <tolvane/platform/thread_token.h>

using namespace tolvane::platform;

namespace {

void OnNewThread(const std::function<void()>& Body) { std::thread(Body).join(); }

// Whether the calling thread runs under a token of its own, and at which level.
struct TSeen {
  bool HasToken = false;
  SECURITY_IMPERSONATION_LEVEL Level = SecurityAnonymous;
  bool operator==(const TSeen&) const = default;
};

TSeen Observe() {
  TSeen Seen;
  HANDLE Token = nullptr;
  if (!::OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &Token)) return Seen;
  Seen.HasToken = true;
  DWORD Size = 0;
  GetTokenInformation(Token, TokenImpersonationLevel, &Seen.Level, sizeof Seen.Level, &Size);
  CloseHandle(Token);
  return Seen;
}

// A caller's token: opened on a thread that impersonates at Level, which
// then stops impersonating and ends, as a host thread goes on to other work.
std::unique_ptr<TThreadToken> CallerToken(SECURITY_IMPERSONATION_LEVEL Level) {
  std::unique_ptr<TThreadToken> Token;
  OnNewThread([&] {
    ASSERT_TRUE(ImpersonateSelf(Level));
    Token = OpenThreadToken();
    RevertToSelf();
  });
  return Token;
}

class ThreadToken : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CaptureOwnIdentity()); }
};

}  // namespace

TEST_F(ThreadToken, AThreadThatDoesNotImpersonateHasNoToken) {
  // The system answers ERROR_NO_TOKEN: the caller serves such work under the
  // own identity, which is the identity that thread had.
  EXPECT_FALSE(OpenThreadToken());
  OnNewThread([] {
    EXPECT_FALSE(OpenThreadToken());
    EXPECT_TRUE(RevertToOwnIdentity()) << "going back where one already is must succeed";
    EXPECT_FALSE(Observe().HasToken);
  });
}

TEST_F(ThreadToken, AWorkerTakesEachCallersTokenAloneAndReturnsToTheProcessIdentity) {
  const SECURITY_IMPERSONATION_LEVEL Levels[] = {SecurityImpersonation, SecurityIdentification,
                                                 SecurityImpersonation};
  std::vector<std::unique_ptr<TThreadToken>> Tokens;
  for (auto Level : Levels) {
    Tokens.push_back(CallerToken(Level));
    ASSERT_TRUE(Tokens.back()) << "no token from an impersonating thread";
  }
  const TSeen MainBefore = Observe();
  OnNewThread([&] {
    for (std::size_t i = 0; i < Tokens.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "caller " << i);
      // Straight from the previous caller's token, without a revert between.
      ASSERT_TRUE(Impersonate(*Tokens[i]));
      const TSeen Now = Observe();
      EXPECT_TRUE(Now.HasToken);
      EXPECT_EQ(Now.Level, Levels[i]);
      EXPECT_EQ(Observe(), Now) << "a second look changed the identity";
    }
    ASSERT_TRUE(RevertToOwnIdentity());
    EXPECT_FALSE(Observe().HasToken);
    EXPECT_FALSE(OpenThreadToken());
  });
  // No other thread changed.
  EXPECT_EQ(Observe(), MainBefore);
  // A token serves any number of workers, one after the other.
  OnNewThread([&] {
    ASSERT_TRUE(Impersonate(*Tokens[0]));
    EXPECT_TRUE(Observe().HasToken);
    RevertToOwnIdentity();
  });
}

// A thread started by an impersonating thread runs under the process
// identity: unlike POSIX, Windows does not hand impersonation down.
TEST_F(ThreadToken, AWorkerStartedByAnImpersonatingThreadRunsUnderTheProcessIdentity) {
  std::pair<TSeen, bool> Seen;
  OnNewThread([&] {
    ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
    std::vector<std::unique_ptr<TThreadHandle>> Set;
    Set.push_back(StartThread(
        [](void* Argument) {
          auto& Seen = *static_cast<std::pair<TSeen, bool>*>(Argument);
          Seen.first = Observe();
          Seen.second = RevertToOwnIdentity();
        },
        &Seen));
    ASSERT_TRUE(Set[0]);
    ASSERT_TRUE(WaitForThreads(Set, 10000));
    EXPECT_TRUE(Observe().HasToken) << "the starting thread lost its own impersonation";
    RevertToSelf();
  });
  EXPECT_FALSE(Seen.first.HasToken);
  EXPECT_TRUE(Seen.second);
}

TEST_F(ThreadToken, WithoutACapturedOwnIdentityNoCallersTokenIsTaken) {
  auto Token = CallerToken(SecurityImpersonation);
  ASSERT_TRUE(Token);
  ForgetOwnIdentity();
  OnNewThread([&] {
    EXPECT_FALSE(Impersonate(*Token));
    EXPECT_FALSE(Observe().HasToken);
    EXPECT_TRUE(RevertToOwnIdentity()) << "the process identity is always there to go back to";
  });
  ASSERT_TRUE(CaptureOwnIdentity());
  OnNewThread([&] {
    EXPECT_TRUE(Impersonate(*Token));
    RevertToOwnIdentity();
  });
}
