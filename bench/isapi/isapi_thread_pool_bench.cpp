// Requests per second through the worker pool, from PushBack on the posting
// threads to the end of the session reported by a worker, with a request path
// that does nothing: the cost of the pool itself (item, token, port, identity).
#include <atomic>
#include <cstdint>

#include <benchmark/benchmark.h>

#include <tolvane/isapi/isapi_thread_pool.h>
#include <tolvane/platform/thread_token.h>
#include "support/process_cost.h"

using namespace tolvane;

namespace {

// Requests ended, per posting thread: each thread sleeps until its own have
// ended, as a host thread would, instead of taking processor time from the
// workers.
struct alignas(64) TEnded {
  std::atomic<std::uint64_t> Count{0};
  std::atomic<std::uint64_t> Awaited{0};

  void Await(std::uint64_t Target) {
    Awaited.store(Target, std::memory_order_seq_cst);
    for (std::uint64_t Seen = Count.load(std::memory_order_seq_cst); Seen < Target; Seen = Count.load()) Count.wait(Seen);
  }
};

BOOL CountEnded(HCONN ConnID, DWORD Request, LPVOID, LPDWORD, LPDWORD) {
  TEnded& Ended = *static_cast<TEnded*>(ConnID);
  if (Request == HSE_REQ_DONE_WITH_SESSION && Ended.Count.fetch_add(1, std::memory_order_seq_cst) + 1 == Ended.Awaited.load())
    Ended.Count.notify_all();
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
  const tolvane::bench::TProcessCost Cost(State);
  // Every thread starts its loop after thread 0 has started the pool.
  for (auto _ : State) {
    for (std::uint64_t I = 0; I < kBatch; ++I)
      if (!GPool->PushBack(&ECB)) State.SkipWithError("PushBack refused a request");
    Posted += kBatch;
    Ended.Await(Posted);
  }
  State.SetItemsProcessed(static_cast<std::int64_t>(State.iterations() * kBatch));
  Cost.Report(State, State.iterations() * kBatch * static_cast<std::uint64_t>(State.threads()));
  // Every thread has left its loop, and so has no request in the pool.
  if (State.thread_index() == 0) {
    delete GPool;
    GPool = nullptr;
  }
}
BENCHMARK(BM_PushBackToDone)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
