#include "platform/rw_lock.h"

#include <windows.h>

namespace tolvane::platform {
namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "rw_lock.h keeps one pointer for each of SRWLOCK and CONDITION_VARIABLE");

// Both are a single pointer, zero when unused (SRWLOCK_INIT,
// CONDITION_VARIABLE_INIT), which is how the header starts them.
PSRWLOCK Guard(unsigned char* Room) { return reinterpret_cast<PSRWLOCK>(Room); }
PCONDITION_VARIABLE Condition(unsigned char* Room) { return reinterpret_cast<PCONDITION_VARIABLE>(Room); }

class TGuarded {
 public:
  explicit TGuarded(unsigned char* Room) : FLock(Guard(Room)) { AcquireSRWLockExclusive(FLock); }
  ~TGuarded() { ReleaseSRWLockExclusive(FLock); }
  TGuarded(const TGuarded&) = delete;
  TGuarded& operator=(const TGuarded&) = delete;
  template <class Predicate>
  void WaitUntil(unsigned char* ConditionRoom, Predicate Done) {
    while (!Done()) SleepConditionVariableSRW(Condition(ConditionRoom), FLock, INFINITE, 0);
  }

 private:
  PSRWLOCK FLock;
};

}  // namespace

void TReentrantRWLock::BeginRead() {
  TGuarded Lock(FGuard);
  if (FWriteDepth > 0 && FWriter == GetCurrentThreadId()) {
    ++FWriteDepth;
    return;
  }
  // Waiting writers go first, so a stream of readers cannot starve them.
  Lock.WaitUntil(FChanged, [&] { return FWriteDepth == 0 && FWaitingWriters == 0; });
  ++FReaders;
}

void TReentrantRWLock::EndRead() {
  TGuarded Lock(FGuard);
  if (FWriteDepth > 0 && FWriter == GetCurrentThreadId()) {
    if (--FWriteDepth == 0) {
      FWriter = 0;
      WakeAllConditionVariable(Condition(FChanged));
    }
    return;
  }
  if (--FReaders == 0) WakeAllConditionVariable(Condition(FChanged));
}

void TReentrantRWLock::BeginWrite() {
  TGuarded Lock(FGuard);
  const DWORD Me = GetCurrentThreadId();
  if (FWriteDepth > 0 && FWriter == Me) {
    ++FWriteDepth;
    return;
  }
  ++FWaitingWriters;
  Lock.WaitUntil(FChanged, [&] { return FWriteDepth == 0 && FReaders == 0; });
  --FWaitingWriters;
  FWriter = Me;
  FWriteDepth = 1;
}

void TReentrantRWLock::EndWrite() {
  TGuarded Lock(FGuard);
  if (FWriteDepth == 0 || FWriter != GetCurrentThreadId()) return;  // not ours to release
  if (--FWriteDepth == 0) {
    FWriter = 0;
    WakeAllConditionVariable(Condition(FChanged));
  }
}

bool TReentrantRWLock::WrittenByMe() const {
  TGuarded Lock(FGuard);
  return FWriteDepth > 0 && FWriter == GetCurrentThreadId();
}

}  // namespace tolvane::platform
