#pragma once
// A reader/writer lock that the writing thread may take again, for reading or
// for writing, as often as it likes (each take matched by a release). A thread
// that holds it only for reading must not ask for writing: that would wait
// for itself.
#include <condition_variable>
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
  // The standard mutex and condition variable work alike on every system the
  // library builds for, so one source serves them all.
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  std::thread::id FWriter;
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
