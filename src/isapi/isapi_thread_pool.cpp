#include <tolvane/isapi/isapi_thread_pool.h>

#include <mutex>
#include <optional>

#include <tolvane/isapi/isapi_app.h>
#include <tolvane/platform/com.h>
#include <tolvane/runtime/com_init.h>

namespace tolvane {

constinit std::atomic<TDirectRequestProc> DirectRequestProc{nullptr};
constinit std::uint8_t NumberOfThreads = 25;

TV_DEFINE_CLASS(TISAPIThreadPool, TObject);
TV_DEFINE_CLASS(EImpersonationError, Exception);

// The host's thread allocates one of these per request: keep it two words.
static_assert(sizeof(TServerContext) == 2 * sizeof(void*));

std::unique_ptr<TISAPIThreadPool> TISAPIThreadPoolClassInfo::Create(bool InitCOM) const {
  return std::unique_ptr<TISAPIThreadPool>(Construct(InitCOM));
}

namespace {

// What a worker is started with: its share of the port.
struct TWorkerStart {
  std::shared_ptr<platform::TCompletionPort> Port;
};

bool IsStopOrder(const platform::TCompletionPacket& Packet) {
  return reinterpret_cast<std::uintptr_t>(Packet.Overlapped) == SHUTDOWN_FLAG;
}

std::unique_ptr<TServerContext> ItemOf(const platform::TCompletionPacket& Packet) {
  return std::unique_ptr<TServerContext>(reinterpret_cast<TServerContext*>(Packet.Key));
}

// Tells the host that the library is finished with the request. Without this
// the host keeps the connection open for ever, so it is sent also when serving
// the request failed.
void EndSession(EXTENSION_CONTROL_BLOCK* ECB) noexcept {
  if (!ECB || !ECB->ServerSupportFunction) return;
  try {
    ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_DONE_WITH_SESSION, nullptr, nullptr, nullptr);
  } catch (...) {
    // A host callback has nothing to report through an exception.
  }
}

// Answers a request that cannot run under the identity it is owed with the
// server-error page, without running any of it.
void Refuse(EXTENSION_CONTROL_BLOCK* ECB) noexcept {
  try {
    throw EImpersonationError(u"The request could not be served under its caller's identity");
  } catch (...) {
    HandleServerException(ECB);
  }
}

void Serve(std::unique_ptr<TServerContext> Item) noexcept {
  try {
    // The caller's identity, or the worker's own for a caller that has no
    // token of its own. When the worker cannot take that identity, nothing
    // runs: under any other one the request could reach what its caller may
    // not.
    const bool Ready = Item->Token ? platform::Impersonate(*Item->Token) : platform::RevertToOwnIdentity();
    if (!Ready)
      Refuse(Item->ECB);
    else if (TDirectRequestProc Proc = DirectRequestProc.load(std::memory_order_acquire))
      Proc(Item->ECB);
  } catch (...) {
    // The request path answers failures itself; whatever still escapes must
    // not end the worker.
  }
  EndSession(Item->ECB);
  // Never carry one caller's identity into the next request.
  platform::RevertToOwnIdentity();
}

void WorkerLoop(platform::TCompletionPort& Port) {
  // A worker inherits the identity of the thread that started the pool, which
  // may have been impersonating a caller.
  platform::RevertToOwnIdentity();
  for (;;) {
    // The wait fails once the port is closed.
    std::optional<platform::TCompletionPacket> Packet = Port.Wait();
    if (!Packet) return;
    std::unique_ptr<TServerContext> Item = ItemOf(*Packet);
    if (IsStopOrder(*Packet)) return;
    if (Item) Serve(std::move(Item));
  }
}

}  // namespace

TISAPIThreadPool::TISAPIThreadPool(bool InitCOM) : FInitCOM(InitCOM) {}

TISAPIThreadPool::~TISAPIThreadPool() {
  try {
    ShutDown();
  } catch (...) {
    // Destroying the pool is the last thing an unloading library does; there
    // is nobody left to tell.
  }
}

void TISAPIThreadPool::Initialize() {
  // The workers start under the lock, and the port is published only once
  // one runs: a port without workers would take requests that nobody ever
  // serves. Callers arriving meanwhile wait for the start, which is short.
  // Every pooled request calls this: a started pool answers without the lock.
  if (FRequestQueue.load(std::memory_order_acquire)) return;
  std::lock_guard Guard(FCriticalSection);
  if (FRequestQueue.load(std::memory_order_relaxed)) return;
  auto Port = std::make_shared<platform::TCompletionPort>();
  const platform::TThreadBody Body = FInitCOM ? &COMWorkerFunction : &WorkerFunction;
  const std::size_t Count = NumberOfThreads;
  std::vector<std::unique_ptr<platform::TThreadHandle>> Threads;
  Threads.reserve(Count);
  for (std::size_t I = 0; I < Count; ++I) {
    auto Start = std::make_unique<TWorkerStart>(TWorkerStart{Port});
    std::unique_ptr<platform::TThreadHandle> Thread = platform::StartThread(Body, Start.get());
    if (!Thread) continue;  // the system refused a thread; the others serve
    Start.release();        // the worker frees it
    Threads.push_back(std::move(Thread));
  }
  // Not started: requests are refused, and the next one tries again.
  if (Threads.empty()) return;
  FThreads = std::move(Threads);
  FPort = std::move(Port);
  FRequestQueue.store(FPort.get(), std::memory_order_release);
}

void TISAPIThreadPool::ShutDown() {
  platform::TCompletionPort* Port = FRequestQueue.load(std::memory_order_acquire);
  if (!Port) return;
  // Behind every queued request: the workers serve those first, and each ends
  // at the first stop order it takes.
  for (std::size_t I = 0; I < FThreads.size(); ++I)
    Port->Post(0, 0, reinterpret_cast<void*>(SHUTDOWN_FLAG));
  // A worker still busy afterwards finds the port closed when it next waits.
  platform::WaitForThreads(FThreads, FShutDownTimeoutMs);
  FRequestQueue.store(nullptr, std::memory_order_release);
  // Requests no worker took (all were busy past the wait, or one came in
  // while stopping) are ended unserved rather than left open at the host.
  for (const platform::TCompletionPacket& Packet : Port->Close()) {
    std::unique_ptr<TServerContext> Item = ItemOf(Packet);
    if (Item && !IsStopOrder(Packet)) EndSession(Item->ECB);
  }
  // Workers still inside a request are kept apart: whoever stops the pool
  // knows then that code and objects of the library are still in use.
  FLateThreads.clear();
  for (std::unique_ptr<platform::TThreadHandle>& Thread : FThreads)
    if (Thread && !Thread->Ended()) FLateThreads.push_back(std::move(Thread));
  FThreads.clear();
}

void TISAPIThreadPool::AwaitLateWorkers() {
  platform::WaitForThreads(FLateThreads, platform::kInfinite);
  FLateThreads.clear();
}

bool TISAPIThreadPool::PushBack(EXTENSION_CONTROL_BLOCK* ECB) {
  platform::TCompletionPort* Port = FRequestQueue.load(std::memory_order_acquire);
  if (!Port) return false;
  auto Item = std::make_unique<TServerContext>();
  Item->ECB = ECB;
  // No token when the caller holds the workers' own identity: the worker
  // serves a tokenless request under that identity anyway.
  Item->Token = platform::OpenThreadTokenUnlessOwn();
  if (!Port->Post(0, reinterpret_cast<std::uintptr_t>(Item.get()), nullptr)) return false;
  Item.release();  // the port holds it now
  return true;
}

void TISAPIThreadPool::SetInitCOM(bool Value) {
  std::lock_guard Guard(FCriticalSection);
  if (!FRequestQueue.load(std::memory_order_relaxed)) FInitCOM = Value;
}

void TISAPIThreadPool::WorkerFunction(void* Start) {
  std::shared_ptr<platform::TCompletionPort> Port = std::move(static_cast<TWorkerStart*>(Start)->Port);
  delete static_cast<TWorkerStart*>(Start);
  try {
    WorkerLoop(*Port);
  } catch (...) {
    // Only the port's own locking can throw here; the worker ends.
  }
}

void TISAPIThreadPool::COMWorkerFunction(void* Start) {
  const std::int32_t Result = platform::ComInitialize(EffectiveCoInitFlags());
  WorkerFunction(Start);
  // Only a successful initialization is undone: one that failed left nothing.
  if (Result == platform::kComOk || Result == platform::kComAlreadyInitialized) platform::ComUninitialize();
}

}  // namespace tolvane
