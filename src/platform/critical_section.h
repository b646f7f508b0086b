#pragma once
// A critical section: a lock that the thread holding it may enter again.
#include <mutex>

namespace tolvane::platform {

class TCriticalSection {
 public:
  void Enter() { FLock.lock(); }
  bool TryEnter() { return FLock.try_lock(); }
  void Leave() { FLock.unlock(); }

  // The standard lock names, so that std::lock_guard and std::unique_lock
  // hold the section for a scope.
  void lock() { Enter(); }
  bool try_lock() { return TryEnter(); }
  void unlock() { Leave(); }

 private:
  // Re-entrant, as a critical section is on every platform the library serves.
  std::recursive_mutex FLock;
};

}  // namespace tolvane::platform
