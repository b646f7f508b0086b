#pragma once
// Threads started at once with a body and an argument, known by a handle, and
// a wait for a whole set of them with a time-out.
#include <cstdint>
#include <memory>
#include <span>

namespace tolvane::platform {

// A thread body. It must not let an exception out: that ends the process.
using TThreadBody = void (*)(void* Argument);

// Wait without a time-out.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFF;

class TThreadHandle {
 public:
  // Closes the handle. A thread still running goes on running to its end; one
  // that has ended is reaped here, so none of its code runs after the close.
  ~TThreadHandle();
  TThreadHandle(const TThreadHandle&) = delete;
  TThreadHandle& operator=(const TThreadHandle&) = delete;

  // Whether the body has returned.
  bool Ended() const;

  struct TImpl;

 private:
  friend std::unique_ptr<TThreadHandle> StartThread(TThreadBody, void*);
  friend bool WaitForThreads(std::span<const std::unique_ptr<TThreadHandle>>, std::uint32_t);
  explicit TThreadHandle(std::unique_ptr<TImpl> Impl);
  std::unique_ptr<TImpl> FImpl;
};

// Starts a thread running Body(Argument) at once with the default stack size.
// Answers no handle when the system refuses a thread. On Windows it answers
// once the thread has passed the loader's start-up and runs Body.
std::unique_ptr<TThreadHandle> StartThread(TThreadBody Body, void* Argument);

// Test seam: while set, StartThread refuses every thread, as a system that is
// out of threads does.
void SetRefuseThreads(bool Refuse);

// Waits until every thread of the set has ended or TimeoutMs milliseconds
// (counted from the call, for the whole set) have passed; kInfinite waits for
// ever. Answers whether all ended. Empty entries count as ended.
bool WaitForThreads(std::span<const std::unique_ptr<TThreadHandle>> Threads, std::uint32_t TimeoutMs);

// For a library that the system's loader is unloading while it holds its
// lock. A thread that ends normally needs that lock for its exit
// notifications, so the unloading thread could never see it end. From now on
// a thread started here whose body has returned reports that from code
// outside the library and then exits; the waits above count that report, and
// the thread finishes its exit once the loader lets go, with no code of the
// library left to run. Nothing needs this on POSIX.
void EndThreadsOutsideLibrary();

}  // namespace tolvane::platform
