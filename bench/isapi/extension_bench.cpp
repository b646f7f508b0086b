// Requests per second through the built library's exported entry points, with
// a null host whose callbacks only count: the direct path (no pool: the request
// is served on the calling thread) and the pooled path (queued, served by a
// worker, counted when the worker ends the session).
#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <benchmark/benchmark.h>

#include <tolvane/isapi/isapi.h>
#include "support/process_cost.h"

namespace {

struct TEntryPoints {
  PFN_GETEXTENSIONVERSION GetExtensionVersion = nullptr;
  PFN_HTTPEXTENSIONPROC HttpExtensionProc = nullptr;
  PFN_TERMINATEEXTENSION TerminateExtension = nullptr;
};

const TEntryPoints& Library() {
  static const TEntryPoints Entry = [] {
    TEntryPoints E;
    // TOLVANE_LIBRARY in the environment names another build to measure,
    // such as a copy kept from before a change.
    const char* Path = std::getenv("TOLVANE_LIBRARY");
    if (!Path || !*Path) Path = TOLVANE_LIBRARY;
    void* Handle = dlopen(Path, RTLD_NOW | RTLD_LOCAL);
    if (!Handle) {
      std::fprintf(stderr, "cannot load %s: %s\n", Path, dlerror());
      std::abort();
    }
    E.GetExtensionVersion = reinterpret_cast<PFN_GETEXTENSIONVERSION>(dlsym(Handle, "GetExtensionVersion"));
    E.HttpExtensionProc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(dlsym(Handle, "HttpExtensionProc"));
    E.TerminateExtension = reinterpret_cast<PFN_TERMINATEEXTENSION>(dlsym(Handle, "TerminateExtension"));
    return E;
  }();
  return Entry;
}

// One calling thread's connection: what its callbacks counted. The calling
// thread sleeps until Ended reaches Awaited, as a host thread would, instead
// of taking processor time from the workers.
struct alignas(64) TNullConnection {
  std::uint64_t Variables = 0, Writes = 0, Reads = 0, Support = 0;
  std::atomic<std::uint64_t> Ended{0};
  std::atomic<std::uint64_t> Awaited{0};

  void AwaitEnded(std::uint64_t Count) {
    Awaited.store(Count, std::memory_order_seq_cst);
    for (std::uint64_t Seen = Ended.load(std::memory_order_seq_cst); Seen < Count; Seen = Ended.load())
      Ended.wait(Seen);
  }
};

TNullConnection& Of(HCONN ConnID) { return *static_cast<TNullConnection*>(ConnID); }

BOOL NullGetServerVariable(HCONN ConnID, LPSTR, LPVOID, LPDWORD) {
  ++Of(ConnID).Variables;
  return ISAPI_FALSE;
}
BOOL NullWriteClient(HCONN ConnID, LPVOID, LPDWORD, DWORD) {
  ++Of(ConnID).Writes;
  return ISAPI_TRUE;
}
BOOL NullReadClient(HCONN ConnID, LPVOID, LPDWORD Size) {
  ++Of(ConnID).Reads;
  *Size = 0;
  return ISAPI_TRUE;
}
BOOL NullServerSupport(HCONN ConnID, DWORD Request, LPVOID, LPDWORD, LPDWORD) {
  TNullConnection& Connection = Of(ConnID);
  if (Request != HSE_REQ_DONE_WITH_SESSION) {
    ++Connection.Support;
  } else if (Connection.Ended.fetch_add(1, std::memory_order_seq_cst) + 1 == Connection.Awaited.load()) {
    Connection.Ended.notify_all();
  }
  return ISAPI_TRUE;
}

EXTENSION_CONTROL_BLOCK NullECB(TNullConnection& Connection) {
  static char Method[] = "GET", Empty[] = "", Path[] = "/", ContentType[] = "";
  EXTENSION_CONTROL_BLOCK ECB{};
  ECB.cbSize = sizeof ECB;
  ECB.dwVersion = HseMakeVersion(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  ECB.ConnID = &Connection;
  ECB.lpszMethod = Method;
  ECB.lpszQueryString = Empty;
  ECB.lpszPathInfo = Path;
  ECB.lpszPathTranslated = Empty;
  ECB.lpszContentType = ContentType;
  ECB.GetServerVariable = &NullGetServerVariable;
  ECB.WriteClient = &NullWriteClient;
  ECB.ReadClient = &NullReadClient;
  ECB.ServerSupportFunction = &NullServerSupport;
  return ECB;
}

// No GetExtensionVersion: without a pool every request takes the direct path.
void BM_DirectPath(benchmark::State& State) {
  const TEntryPoints& L = Library();
  TNullConnection Connection;
  EXTENSION_CONTROL_BLOCK ECB = NullECB(Connection);
  const tolvane::bench::TProcessCost Cost(State);
  for (auto _ : State) {
    if (L.HttpExtensionProc(&ECB) != HSE_STATUS_SUCCESS) State.SkipWithError("request not served");
  }
  State.SetItemsProcessed(static_cast<std::int64_t>(State.iterations()));
  Cost.Report(State, State.iterations() * static_cast<std::uint64_t>(State.threads()));
}
BENCHMARK(BM_DirectPath)->Threads(1)->Threads(2)->UseRealTime();

// Queued in batches; each calling thread waits until the workers ended its
// batch, so every request counted was served.
void BM_PooledPath(benchmark::State& State) {
  constexpr std::uint64_t kBatch = 1000;
  const TEntryPoints& L = Library();
  if (State.thread_index() == 0) {
    HSE_VERSION_INFO Ver{};
    L.GetExtensionVersion(&Ver);
  }
  TNullConnection Connection;
  EXTENSION_CONTROL_BLOCK ECB = NullECB(Connection);
  std::uint64_t Posted = 0;
  const tolvane::bench::TProcessCost Cost(State);
  for (auto _ : State) {
    for (std::uint64_t I = 0; I < kBatch; ++I)
      if (L.HttpExtensionProc(&ECB) != HSE_STATUS_PENDING) State.SkipWithError("request not queued");
    Posted += kBatch;
    Connection.AwaitEnded(Posted);
  }
  State.SetItemsProcessed(static_cast<std::int64_t>(State.iterations() * kBatch));
  Cost.Report(State, State.iterations() * kBatch * static_cast<std::uint64_t>(State.threads()));
  if (State.thread_index() == 0) L.TerminateExtension(HSE_TERM_MUST_UNLOAD);
}
BENCHMARK(BM_PooledPath)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
