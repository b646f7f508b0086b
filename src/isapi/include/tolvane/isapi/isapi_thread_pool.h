#pragma once
// The request worker pool. The host's thread only queues a request, with its
// own security token, on a completion port; a fixed set of worker threads takes
// the requests off the port, serves each under the identity of the thread that
// queued it and tells the host when the session is done.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <tolvane/isapi/isapi.h>
#include <tolvane/platform/completion_port.h>
#include <tolvane/platform/critical_section.h>
#include <tolvane/platform/thread.h>
#include <tolvane/platform/thread_token.h>
#include <tolvane/runtime/exception.h>
#include <tolvane/runtime/object.h>

namespace tolvane {

// The direct request path: serves one request on the calling thread and
// answers an HSE_STATUS_* code.
using TDirectRequestProc = DWORD (*)(EXTENSION_CONTROL_BLOCK* ECB);

// What the workers call for each request. Null until the start-up code sets
// it; a worker that finds it null answers nothing but still ends the session.
extern std::atomic<TDirectRequestProc> DirectRequestProc;

// A request that cannot run under the identity it is owed: the client gets
// the server-error page naming this class, and nothing of the request runs.
TV_DECLARE_EXCEPTION(EImpersonationError, Exception);

// Worker threads per pool, set by the start-up code; read when a pool starts.
extern std::uint8_t NumberOfThreads;

// The overlapped value of a stop order.
inline constexpr std::uintptr_t SHUTDOWN_FLAG = 0xFFFFFFFF;

// One queued request: the control block and the token of the thread that
// queued it. Owned by the port while queued and by the worker that takes it;
// releasing it closes the token (a token that could not be opened is null and
// so is never closed).
struct TServerContext {
  EXTENSION_CONTROL_BLOCK* ECB = nullptr;
  std::unique_ptr<platform::TThreadToken> Token;
};

class TISAPIThreadPool;

// A class reference to TISAPIThreadPool or a descendant: Create builds an
// instance of the class it names.
struct TISAPIThreadPoolClassInfo {
  TClass Class;
  TISAPIThreadPool* (*Construct)(bool InitCOM);

  std::unique_ptr<TISAPIThreadPool> Create(bool InitCOM) const;
};
using TISAPIThreadPoolClass = const TISAPIThreadPoolClassInfo*;

template <class T>
inline constexpr TISAPIThreadPoolClassInfo ThreadPoolClassInfo{
    &T::ClassInfo_, [](bool InitCOM) -> TISAPIThreadPool* { return new T(InitCOM); }};

// The class reference of T.
template <class T>
constexpr TISAPIThreadPoolClass ThreadPoolClassOf() {
  return &ThreadPoolClassInfo<T>;
}

class TISAPIThreadPool : public TObject {
  TV_DECLARE_CLASS(TISAPIThreadPool)
 public:
  // Nothing is started: the first Initialize creates the port and the workers.
  explicit TISAPIThreadPool(bool InitCOM);
  // Stops the workers (ShutDown).
  ~TISAPIThreadPool() override;
  TISAPIThreadPool(const TISAPIThreadPool&) = delete;
  TISAPIThreadPool& operator=(const TISAPIThreadPool&) = delete;

  // Starts the pool unless it is started. Safe from many threads at once: the
  // first caller starts the workers under the lock and then publishes the
  // port. When the system refuses every worker the pool stays not started,
  // so requests are refused rather than queued for nobody.
  virtual void Initialize();
  // Posts one stop order per worker behind every queued request, waits for the
  // workers (at most two minutes), then closes the port. Requests that
  // no worker took are reported done to the host and released. Workers still
  // busy then are counted in LateWorkers. Does nothing when the pool is not
  // started.
  virtual void ShutDown();

  // Queues a request with the calling thread's token. False, with nothing
  // queued, when the pool is not started or the port refused the request.
  // Safe from many threads at once, also while the pool is being stopped.
  bool PushBack(EXTENSION_CONTROL_BLOCK* ECB);

  bool InitCOM() const { return FInitCOM; }
  // Takes effect only while the pool is not started: a running worker keeps
  // the thread body it was started with.
  void SetInitCOM(bool Value);
  // The thread count is fixed; these exist for callers that set them.
  std::int32_t Min() const { return FMin; }
  void SetMin(std::int32_t) {}
  std::int32_t Max() const { return FMax; }
  void SetMax(std::int32_t) {}
  // The workers of the running pool; 0 when it is not started.
  std::size_t ThreadCount() const { return FThreads.size(); }
  // The workers that were still inside a request when the last ShutDown's
  // wait ended. They go on with it, using the library's code and its
  // application object.
  std::size_t LateWorkers() const { return FLateThreads.size(); }
  // Waits, without a time limit, until those workers have ended.
  void AwaitLateWorkers();
  std::uint32_t ShutDownTimeoutMs() const { return FShutDownTimeoutMs; }
  // The port, or null while the pool is not started.
  platform::TCompletionPort* RequestQueue() const { return FRequestQueue.load(std::memory_order_acquire); }

  // The wait of ShutDown for the workers.
  static constexpr std::uint32_t kShutDownTimeoutMs = 120000;

 protected:
  // How long ShutDown waits for busy workers; a descendant may shorten it in
  // its constructor (a field, not a virtual call, so the destructor's ShutDown
  // uses it too).
  void SetShutDownTimeoutMs(std::uint32_t Value) { FShutDownTimeoutMs = Value; }

  // Thread bodies. Each takes a start record that holds a share of the port,
  // so a worker that outlives a timed-out ShutDown, and even the pool, still
  // has a port to find closed.
  static void WorkerFunction(void* Start);
  static void COMWorkerFunction(void* Start);

 private:
  platform::TCriticalSection FCriticalSection;
  // The port's handle: null while not started. Read without the lock.
  std::atomic<platform::TCompletionPort*> FRequestQueue{nullptr};
  bool FInitCOM;
  std::int32_t FMin = 0;
  std::int32_t FMax = 0;
  std::vector<std::unique_ptr<platform::TThreadHandle>> FThreads;
  std::vector<std::unique_ptr<platform::TThreadHandle>> FLateThreads;
  // Owns the port the handle names. Kept after ShutDown closed the port, so
  // that a PushBack racing the stop posts to a closed port, never to a freed
  // one; the workers hold their own shares.
  std::shared_ptr<platform::TCompletionPort> FPort;
  std::uint32_t FShutDownTimeoutMs = kShutDownTimeoutMs;
};

}  // namespace tolvane
