#pragma once
// A reader/writer lock that the writing thread may take again, for reading or
// for writing, as often as it likes (each take matched by a release). A thread
// that holds it only for reading must not ask for writing: that would wait
// for itself.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace tolvane::platform {

class TReentrantRWLock {
 public:
  void BeginRead();
  void EndRead();
  void BeginWrite();
  void EndWrite();
  // True when the calling thread holds it for writing.
  bool WrittenByMe() const;

 private:
#if defined(_WIN32)
  // A slim reader/writer lock taken exclusively as the guard of the fields
  // below, and a condition variable; each is one pointer, all zero when
  // unused, and only the Windows source names their types.
  alignas(void*) mutable unsigned char FGuard[sizeof(void*)] = {};
  alignas(void*) unsigned char FChanged[sizeof(void*)] = {};
  std::uint32_t FWriter = 0;  // thread id; no thread has the id 0
#else
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  std::thread::id FWriter;
#endif
  int FWriteDepth = 0;  // takes by the writer, reads included
  int FReaders = 0;     // readers other than the writer
  int FWaitingWriters = 0;
};

// Scoped takes.
class TWriteLock {
 public:
  explicit TWriteLock(TReentrantRWLock& Lock) : FLock(Lock) { FLock.BeginWrite(); }
  ~TWriteLock() { FLock.EndWrite(); }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

 private:
  TReentrantRWLock& FLock;
};

class TReadLock {
 public:
  explicit TReadLock(TReentrantRWLock& Lock) : FLock(Lock) { FLock.BeginRead(); }
  ~TReadLock() { FLock.EndRead(); }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

 private:
  TReentrantRWLock& FLock;
};

}  // namespace tolvane::platform
