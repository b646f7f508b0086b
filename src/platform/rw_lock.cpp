#include <tolvane/platform/rw_lock.h>

namespace tolvane::platform {

void TReentrantRWLock::BeginRead() {
  std::unique_lock lock(FMutex);
  if (FWriteDepth > 0 && FWriter == std::this_thread::get_id()) {
    ++FWriteDepth;
    return;
  }
  // Waiting writers go first, so a stream of readers cannot starve them.
  FChanged.wait(lock, [&] { return FWriteDepth == 0 && FWaitingWriters == 0; });
  ++FReaders;
}

void TReentrantRWLock::EndRead() {
  std::unique_lock lock(FMutex);
  if (FWriteDepth > 0 && FWriter == std::this_thread::get_id()) {
    if (--FWriteDepth == 0) {
      FWriter = {};
      FChanged.notify_all();
    }
    return;
  }
  if (--FReaders == 0) FChanged.notify_all();
}

void TReentrantRWLock::BeginWrite() {
  std::unique_lock lock(FMutex);
  auto me = std::this_thread::get_id();
  if (FWriteDepth > 0 && FWriter == me) {
    ++FWriteDepth;
    return;
  }
  ++FWaitingWriters;
  FChanged.wait(lock, [&] { return FWriteDepth == 0 && FReaders == 0; });
  --FWaitingWriters;
  FWriter = me;
  FWriteDepth = 1;
}

void TReentrantRWLock::EndWrite() {
  std::unique_lock lock(FMutex);
  if (FWriteDepth == 0 || FWriter != std::this_thread::get_id()) return;  // not ours to release
  if (--FWriteDepth == 0) {
    FWriter = {};
    FChanged.notify_all();
  }
}

bool TReentrantRWLock::WrittenByMe() const {
  std::lock_guard lock(FMutex);
  return FWriteDepth > 0 && FWriter == std::this_thread::get_id();
}

}  // namespace tolvane::platform
