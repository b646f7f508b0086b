#include <tolvane/platform/completion_port.h>

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>

namespace tolvane::platform {
namespace {

// Every system call is dear, and a wake is two of them plus a context switch,
// so the port wakes as few waiters as keep every packet moving:
//  - a waiter that finds the queue empty first watches it for a little while
//    before it parks, so a steady stream of packets never parks it;
//  - a packet posted while some waiter is awake and not serving one (watching,
//    or woken and on its way) wakes nobody: that waiter takes it;
//  - a waiter that takes a packet with more behind it and nobody else awake
//    wakes the next, because the packet it took may block it for ever;
//  - the waiter woken is the one parked last: its stack and cache are warm.

// How long a waiter watches the empty queue before it parks: about what a
// caller takes to queue its next request, far below a time slice.
constexpr auto kWatch = std::chrono::microseconds(20);

// Only this many waiters watch at once; more would burn processors that the
// threads posting need.
constexpr int kMaxWatching = 1;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// A parked waiter's bell. Bells belong to the port and outlive every waiter,
// so that a bell rung just as its waiter leaves rings nothing freed; a waiter
// that later parks on the same bell and hears that stale ring finds it
// unrung and parks again.
struct TBell {
  std::atomic<std::uint32_t> Rung{0};

  void Await() {
    while (Rung.load(std::memory_order_acquire) == 0)
      syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&Rung), FUTEX_WAIT_PRIVATE, 0, nullptr, nullptr, 0);
  }
  void Ring() {
    Rung.store(1, std::memory_order_release);
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&Rung), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }
};

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

}  // namespace

struct TCompletionPort::TImpl {
  std::mutex Lock;
  // Guarded by Lock.
  std::deque<TCompletionPacket> Queue;
  std::deque<TBell> Bells;        // every bell ever handed out; stable addresses
  std::vector<TBell*> FreeBells;  // bells nobody parks on
  std::vector<TBell*> Parked;     // the bells of parked waiters, last parked at the back
  int Awake = 0;                  // waiters inside Wait that are neither parked nor serving
  int Watching = 0;
  bool Closed = false;
  // Copies readable without the lock, for the watch.
  std::atomic<std::size_t> Queued{0};
  std::atomic<bool> ClosedFlag{false};

  // Wakes the waiter parked last, who counts as awake from now on. Answers
  // its bell, to be rung once the lock is let go.
  TBell* WakeOne() {
    if (Parked.empty()) return nullptr;
    TBell* Bell = Parked.back();
    Parked.pop_back();
    ++Awake;
    return Bell;
  }

  // Room for every bell is kept in both lists, so that parking and waking
  // never fail half-way for want of memory and leave the count of awake
  // waiters wrong.
  TBell* TakeBell() {
    if (FreeBells.empty()) {
      FreeBells.reserve(Bells.size() + 1);
      Parked.reserve(Bells.size() + 1);
      return &Bells.emplace_back();
    }
    TBell* Bell = FreeBells.back();
    FreeBells.pop_back();
    return Bell;
  }

  // Watches the queue without the lock for a while: answers once there is a
  // packet, the port closed, or the time ran out.
  void Watch() {
    const auto Until = std::chrono::steady_clock::now() + kWatch;
    for (;;) {
      for (int I = 0; I < 16; ++I) {
        if (Queued.load(std::memory_order_relaxed) != 0 || ClosedFlag.load(std::memory_order_relaxed)) return;
        CpuRelax();
      }
      if (std::chrono::steady_clock::now() >= Until) return;
    }
  }
};

TCompletionPort::TCompletionPort() : FImpl(std::make_unique<TImpl>()) {}

TCompletionPort::~TCompletionPort() { Close(); }

bool TCompletionPort::Post(std::uint32_t Bytes, std::uintptr_t Key, void* Overlapped) {
  TBell* Bell = nullptr;
  {
    std::lock_guard Guard(FImpl->Lock);
    if (FImpl->Closed) return false;
    FImpl->Queue.push_back({Bytes, Key, Overlapped});
    FImpl->Queued.store(FImpl->Queue.size(), std::memory_order_relaxed);
    if (FImpl->Awake == 0) Bell = FImpl->WakeOne();
  }
  if (Bell) Bell->Ring();
  return true;
}

std::optional<TCompletionPacket> TCompletionPort::Wait() {
  TImpl& Port = *FImpl;
  std::unique_lock Guard(Port.Lock);
  ++Port.Awake;
  bool Watched = false;
  for (;;) {
    if (Port.Closed) {
      --Port.Awake;
      return std::nullopt;
    }
    if (!Port.Queue.empty()) {
      const TCompletionPacket Packet = Port.Queue.front();
      Port.Queue.pop_front();
      Port.Queued.store(Port.Queue.size(), std::memory_order_relaxed);
      --Port.Awake;
      TBell* Next = !Port.Queue.empty() && Port.Awake == 0 ? Port.WakeOne() : nullptr;
      Guard.unlock();
      if (Next) Next->Ring();
      return Packet;
    }
    if (!Watched && Port.Watching < kMaxWatching) {
      Watched = true;
      ++Port.Watching;
      Guard.unlock();
      Port.Watch();
      Guard.lock();
      --Port.Watching;
      continue;
    }
    // Nothing came: park until a post or a taker that left packets behind
    // wakes this waiter, which then counts as awake again.
    TBell* Bell = Port.TakeBell();
    --Port.Awake;
    Bell->Rung.store(0, std::memory_order_relaxed);
    Port.Parked.push_back(Bell);
    Guard.unlock();
    Bell->Await();
    Guard.lock();
    Port.FreeBells.push_back(Bell);
    Watched = false;
  }
}

std::vector<TCompletionPacket> TCompletionPort::Close() {
  std::vector<TCompletionPacket> Left;
  std::vector<TBell*> Parked;
  {
    std::lock_guard Guard(FImpl->Lock);
    if (FImpl->Closed) return Left;
    FImpl->Closed = true;
    FImpl->ClosedFlag.store(true, std::memory_order_relaxed);
    Left.assign(FImpl->Queue.begin(), FImpl->Queue.end());
    FImpl->Queue.clear();
    FImpl->Queued.store(0, std::memory_order_relaxed);
    Parked.swap(FImpl->Parked);
    FImpl->Awake += static_cast<int>(Parked.size());
  }
  for (TBell* Bell : Parked) Bell->Ring();
  return Left;
}

}  // namespace tolvane::platform
