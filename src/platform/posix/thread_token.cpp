#include <tolvane/platform/thread_token.h>

#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace tolvane::platform {
namespace {

struct TIdentity {
  uid_t Uid = 0;
  gid_t Gid = 0;
  std::vector<gid_t> Groups;  // sorted, as the kernel keeps them
  bool operator==(const TIdentity&) const = default;
};

// The setters go to the kernel directly: the C library's wrappers change every
// thread of the process, the raw calls only the calling thread. -1 leaves the
// real and saved ids as they are.
#if defined(SYS_setresuid32)
constexpr long kSetResUid = SYS_setresuid32, kSetResGid = SYS_setresgid32, kSetGroups = SYS_setgroups32;
#else
constexpr long kSetResUid = SYS_setresuid, kSetResGid = SYS_setresgid, kSetGroups = SYS_setgroups;
#endif

bool SetEffectiveUid(uid_t Uid) { return syscall(kSetResUid, -1, Uid, -1) == 0; }
bool SetEffectiveGid(gid_t Gid) { return syscall(kSetResGid, -1, Gid, -1) == 0; }
bool SetGroups(const std::vector<gid_t>& Groups) {
  return syscall(kSetGroups, Groups.size(), Groups.data()) == 0;
}

constexpr int kFewGroups = 32;
constexpr int kUnreadable = -1, kManyGroups = -2;

// The getters read the calling thread's own credentials. Every call costs a
// system call, so the groups are read into room for the usual few first:
// answers their count, sorted, kManyGroups when there are more (the ids are
// read then), or kUnreadable.
int ReadFewIds(uid_t& Uid, gid_t& Gid, gid_t (&Few)[kFewGroups]) {
  uid_t RealUid, SavedUid;
  gid_t RealGid, SavedGid;
  if (getresuid(&RealUid, &Uid, &SavedUid) != 0 || getresgid(&RealGid, &Gid, &SavedGid) != 0) return kUnreadable;
  const int Count = getgroups(kFewGroups, Few);
  if (Count < 0) return kManyGroups;
  std::sort(Few, Few + Count);
  return Count;
}

bool ReadIdentity(TIdentity& Out) {
  gid_t Few[kFewGroups];
  int Count = ReadFewIds(Out.Uid, Out.Gid, Few);
  if (Count == kUnreadable) return false;
  if (Count >= 0) {
    Out.Groups.assign(Few, Few + Count);
    return true;
  }
  Count = getgroups(0, nullptr);
  if (Count < 0) return false;
  Out.Groups.resize(Count);
  Count = getgroups(Count, Out.Groups.data());
  if (Count < 0) return false;
  Out.Groups.resize(Count);
  std::sort(Out.Groups.begin(), Out.Groups.end());
  return true;
}

// The identity these calls last gave the calling thread, so that a worker
// serving request after request under the same identity makes no system call
// at all. Trivially destructible: a thread-local with a destructor would keep
// the library from being unloaded.
struct THeldIdentity {
  static constexpr std::size_t kMaxGroups = 32;
  bool Known;
  uid_t Uid;
  gid_t Gid;
  std::size_t Count;
  gid_t Groups[kMaxGroups];

  bool Is(const TIdentity& Id) const {
    return Known && Uid == Id.Uid && Gid == Id.Gid && Count == Id.Groups.size() &&
           std::equal(Id.Groups.begin(), Id.Groups.end(), Groups);
  }
  void Remember(const TIdentity& Id) {
    Known = Id.Groups.size() <= kMaxGroups;
    if (!Known) return;
    Uid = Id.Uid;
    Gid = Id.Gid;
    Count = Id.Groups.size();
    std::copy(Id.Groups.begin(), Id.Groups.end(), Groups);
  }
  TIdentity Get() const { return {Uid, Gid, std::vector<gid_t>(Groups, Groups + Count)}; }
};

thread_local THeldIdentity GHeld{};

struct TOwnIdentity {
  bool Captured = false;
  TIdentity Identity;
  int Dumpable = 1;
};

TOwnIdentity& Own() {
  static TOwnIdentity Instance;
  return Instance;
}

// Threads these calls have put under another identity than the own. Every
// change of an effective id clears the process's dumpable flag, and it may
// come back only once no thread of the process runs as another user: a
// thread counts from just before its change until it is back.
constinit std::mutex AwayLock;
constinit int AwayCount = 0;
thread_local bool GAway = false;

void MarkAway() {
  if (GAway) return;
  std::lock_guard Guard(AwayLock);
  ++AwayCount;
  GAway = true;
}

enum class TApply { apUnchanged, apChanged, apFailed };

TApply ApplyChanges(const TIdentity& Target, TIdentity Current) {
  const TOwnIdentity& Self = Own();
  if (!Self.Captured) return TApply::apFailed;
  // Changing groups or ids takes the privilege of the own identity, which an
  // impersonating thread has given up; the saved id lets it take that back.
  if (Current.Uid != Self.Identity.Uid) {
    if (!SetEffectiveUid(Self.Identity.Uid)) return TApply::apFailed;
    Current.Uid = Self.Identity.Uid;
  }
  if (Current.Groups != Target.Groups && !SetGroups(Target.Groups)) return TApply::apFailed;
  if (Current.Gid != Target.Gid && !SetEffectiveGid(Target.Gid)) return TApply::apFailed;
  if (Current.Uid != Target.Uid && !SetEffectiveUid(Target.Uid)) return TApply::apFailed;
  return TApply::apChanged;
}

TApply Apply(const TIdentity& Target) {
  if (GHeld.Is(Target)) return TApply::apUnchanged;
  TIdentity Current;
  if (GHeld.Known) {
    Current = GHeld.Get();
  } else if (!ReadIdentity(Current)) {
    return TApply::apFailed;
  }
  TApply Result = Current == Target ? TApply::apUnchanged : ApplyChanges(Target, std::move(Current));
  if (Result == TApply::apFailed)
    GHeld.Known = false;  // part of the change may have happened
  else
    GHeld.Remember(Target);
  return Result;
}

bool ReturnToOwn() {
  const TOwnIdentity& Self = Own();
  if (!Self.Captured) return false;
  const TApply Result = Apply(Self.Identity);
  if (Result == TApply::apFailed) return false;  // still away, if it was
  if (Result == TApply::apChanged || GAway) {
    std::lock_guard Guard(AwayLock);
    if (GAway) --AwayCount;
    GAway = false;
    // Back under the own identity: the flag that the changes cleared returns
    // once no other thread is still away.
    if (AwayCount == 0) prctl(PR_SET_DUMPABLE, Self.Dumpable, 0, 0, 0);
  }
  return true;
}

}  // namespace

struct TThreadToken::TImpl {
  TIdentity Identity;
  bool Usable = true;  // false when the identity could not be read: nobody takes it
};

TThreadToken::TThreadToken(std::unique_ptr<TImpl> Impl) : FImpl(std::move(Impl)) {}

TThreadToken::~TThreadToken() = default;

bool CaptureOwnIdentity() {
  TOwnIdentity& Self = Own();
  TIdentity Identity;
  if (!ReadIdentity(Identity)) return false;
  int Dumpable = prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
  Self.Identity = std::move(Identity);
  Self.Dumpable = Dumpable < 0 ? 1 : Dumpable;
  Self.Captured = true;
  return true;
}

std::unique_ptr<TThreadToken> OpenThreadToken() {
  auto Impl = std::make_unique<TThreadToken::TImpl>();
  if (!ReadIdentity(Impl->Identity)) return nullptr;
  return std::unique_ptr<TThreadToken>(new TThreadToken(std::move(Impl)));
}

std::unique_ptr<TThreadToken> OpenThreadTokenUnlessOwn() {
  uid_t Uid;
  gid_t Gid;
  gid_t Few[kFewGroups];
  const int Count = ReadFewIds(Uid, Gid, Few);
  const TOwnIdentity& Self = Own();
  if (Count >= 0 && Self.Captured && Uid == Self.Identity.Uid && Gid == Self.Identity.Gid &&
      std::equal(Few, Few + Count, Self.Identity.Groups.begin(), Self.Identity.Groups.end()))
    return nullptr;
  auto Impl = std::make_unique<TThreadToken::TImpl>();
  if (Count >= 0)
    Impl->Identity = {Uid, Gid, std::vector<gid_t>(Few, Few + Count)};
  else if (Count == kUnreadable || !ReadIdentity(Impl->Identity))
    Impl->Usable = false;
  return std::unique_ptr<TThreadToken>(new TThreadToken(std::move(Impl)));
}

bool Impersonate(const TThreadToken& Token) {
  const TIdentity& Target = Token.FImpl->Identity;
  const TOwnIdentity& Self = Own();
  // Without a known own identity a thread takes no other: it could not come back.
  if (!Self.Captured) return false;
  if (!Token.FImpl->Usable) {
    ReturnToOwn();
    return false;
  }
  if (Target == Self.Identity) return ReturnToOwn();
  MarkAway();
  if (Apply(Target) != TApply::apFailed) return true;
  ReturnToOwn();
  return false;
}

bool RevertToOwnIdentity() { return ReturnToOwn(); }

void ForgetOwnIdentity() { Own().Captured = false; }

}  // namespace tolvane::platform
