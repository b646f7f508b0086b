#pragma once
// A critical section: a lock that the thread holding it may enter again.
#include <mutex>

namespace tolvane::platform {

class TCriticalSection {
 public:
#if defined(_WIN32)
  TCriticalSection();
  ~TCriticalSection();
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;
  void Enter();
  bool TryEnter();
  void Leave();
#else
  void Enter() { FLock.lock(); }
  bool TryEnter() { return FLock.try_lock(); }
  void Leave() { FLock.unlock(); }
#endif

  // The standard lock names, so that std::lock_guard and std::unique_lock
  // hold the section for a scope.
  void lock() { Enter(); }
  bool try_lock() { return TryEnter(); }
  void unlock() { Leave(); }

 private:
#if defined(_WIN32)
  // Room for the system's CRITICAL_SECTION, which only the Windows source
  // names (it checks the size and alignment).
  alignas(8) unsigned char FSection[40];
#else
  // Re-entrant, as a critical section is on every platform the library serves.
  std::recursive_mutex FLock;
#endif
};

}  // namespace tolvane::platform
