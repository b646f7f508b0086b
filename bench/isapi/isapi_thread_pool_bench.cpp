// Requests per second through the worker pool, from PushBack on the posting
// threads to the end of the session reported by a worker, with a request path
// that does nothing: the cost of the pool itself (item, token, port, identity).
#include <atomic>
#include <cstdint>
#include <thread>

#include <benchmark/benchmark.h>

#include <tolvane/isapi/isapi_thread_pool.h>
#include <tolvane/platform/thread_token.h>

using namespace tolvane;

namespace {

// Requests ended, per posting thread: each thread waits for its own.
struct alignas(64) TEnded {
  std::atomic<std::uint64_t> Count{0};
};

BOOL CountEnded(HCONN ConnID, DWORD Request, LPVOID, LPDWORD, LPDWORD) {
  if (Request == HSE_REQ_DONE_WITH_SESSION) static_cast<TEnded*>(ConnID)->Count.fetch_add(1, std::memory_order_release);
  return ISAPI_TRUE;
}

TISAPIThreadPool* GPool = nullptr;

void BM_PushBackToDone(benchmark::State& State) {
  constexpr std::uint64_t kBatch = 1000;
  if (State.thread_index() == 0) {
    platform::CaptureOwnIdentity();  // as the library does when it is loaded
    DirectRequestProc = nullptr;
    GPool = new TISAPIThreadPool(false);
    GPool->Initialize();
  }
  TEnded Ended;
  EXTENSION_CONTROL_BLOCK ECB{};
  ECB.cbSize = sizeof ECB;
  ECB.ConnID = &Ended;
  ECB.ServerSupportFunction = &CountEnded;
  std::uint64_t Posted = 0;
  // Every thread starts its loop after thread 0 has started the pool.
  for (auto _ : State) {
    for (std::uint64_t I = 0; I < kBatch; ++I)
      if (!GPool->PushBack(&ECB)) State.SkipWithError("PushBack refused a request");
    Posted += kBatch;
    while (Ended.Count.load(std::memory_order_acquire) < Posted) std::this_thread::yield();
  }
  State.SetItemsProcessed(static_cast<std::int64_t>(State.iterations() * kBatch));
  // Every thread has left its loop, and so has no request in the pool.
  if (State.thread_index() == 0) {
    delete GPool;
    GPool = nullptr;
  }
}
BENCHMARK(BM_PushBackToDone)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
