#include <tolvane/platform/thread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace tolvane::platform {
namespace {

constinit std::atomic<bool> RefuseThreads{false};

// Shared by the thread and its handle, so either may go first.
struct TThreadState {
  std::mutex Lock;
  std::condition_variable Done;
  bool Ended = false;
};

}  // namespace

struct TThreadHandle::TImpl {
  std::shared_ptr<TThreadState> State;
  std::thread Thread;
};

TThreadHandle::TThreadHandle(std::unique_ptr<TImpl> Impl) : FImpl(std::move(Impl)) {}

TThreadHandle::~TThreadHandle() {
  // Joining an ended thread waits only for its last few instructions; this
  // matters when the library is unloaded right after its workers are closed.
  if (Ended())
    FImpl->Thread.join();
  else
    FImpl->Thread.detach();
}

bool TThreadHandle::Ended() const {
  std::lock_guard Guard(FImpl->State->Lock);
  return FImpl->State->Ended;
}

void SetRefuseThreads(bool Refuse) { RefuseThreads.store(Refuse, std::memory_order_relaxed); }

std::unique_ptr<TThreadHandle> StartThread(TThreadBody Body, void* Argument) {
  if (RefuseThreads.load(std::memory_order_relaxed)) return nullptr;
  auto Impl = std::make_unique<TThreadHandle::TImpl>();
  Impl->State = std::make_shared<TThreadState>();
  try {
    Impl->Thread = std::thread([State = Impl->State, Body, Argument] {
      Body(Argument);
      {
        std::lock_guard Guard(State->Lock);
        State->Ended = true;
      }
      State->Done.notify_all();
    });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return std::unique_ptr<TThreadHandle>(new TThreadHandle(std::move(Impl)));
}

bool WaitForThreads(std::span<const std::unique_ptr<TThreadHandle>> Threads, std::uint32_t TimeoutMs) {
  // One deadline for the whole set: waiting on each thread in turn must not
  // add up the time-outs.
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  for (const auto& Handle : Threads) {
    if (!Handle) continue;
    TThreadState& State = *Handle->FImpl->State;
    std::unique_lock Guard(State.Lock);
    auto HasEnded = [&State] { return State.Ended; };
    if (TimeoutMs == kInfinite)
      State.Done.wait(Guard, HasEnded);
    else if (!State.Done.wait_until(Guard, Deadline, HasEnded))
      return false;
  }
  return true;
}

// Unloading a shared object takes no lock that ending threads need.
void EndThreadsOutsideLibrary() {}

}  // namespace tolvane::platform
