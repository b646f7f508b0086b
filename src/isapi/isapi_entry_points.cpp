#include <tolvane/isapi/isapi_entry_points.h>

#include <cstdio>
#include <memory>

#include <tolvane/isapi/isapi_app.h>
#include <tolvane/platform/process.h>
#include <tolvane/platform/thread_token.h>

namespace tolvane {

constinit std::atomic<TISAPIThreadPool*> ThreadPool{nullptr};
constinit TISAPIThreadPoolClass ThreadPoolClass = nullptr;
constinit bool IsNetscape = false;
constinit std::atomic<bool> LibraryKeptLoaded{false};

namespace {

bool IsNTPlatform() { return platform::PlatformId() == platform::kPlatformWin32NT; }

TISAPIThreadPool* PooledModePool() {
  if (!IsNTPlatform() || IsNetscape) return nullptr;
  return ThreadPool.load(std::memory_order_acquire);
}

// Takes the pool out of ThreadPool before stopping it, so no caller finds a
// pool that is going away. A worker still inside a request after the stop
// wait goes on using the library's code and the application object, so
// neither may go: after TerminateExtension the library is kept loaded (and
// the unload then frees nothing); when the library is being unloaded
// already it is too late for that, and the unload waits for the worker.
void DestroyThreadPool(bool Unloading) noexcept {
  std::unique_ptr<TISAPIThreadPool> Pool(ThreadPool.exchange(nullptr, std::memory_order_acq_rel));
  if (!Pool) return;
  try {
    Pool->ShutDown();
    if (const std::size_t Late = Pool->LateWorkers()) {
      const bool Keep = !Unloading && platform::PinLibrary();
      std::fprintf(stderr, "tolvane: %zu worker thread(s) still inside a request %u ms after the stop; %s\n", Late,
                   static_cast<unsigned>(Pool->ShutDownTimeoutMs()),
                   Keep ? "the library stays loaded until the process ends" : "waiting for them to finish");
      std::fflush(stderr);
      if (Keep)
        LibraryKeptLoaded.store(true, std::memory_order_release);
      else
        Pool->AwaitLateWorkers();
    }
  } catch (...) {
    // Nothing is left to tell; the destructor below stops what is left.
  }
  Pool.reset();  // the destructor never raises
}

DWORD DirectRequest(EXTENSION_CONTROL_BLOCK* ECB) { return tolvane::HttpExtensionProc(ECB); }

}  // namespace

bool IsNetscapeServerFileName(const String& FileName) {
  // On POSIX "/" separates folders too.
  const std::size_t Separator = FileName.find_last_of(u"\\:/");
  const std::u16string_view Last =
      Separator == String::npos ? std::u16string_view(FileName) : std::u16string_view(FileName).substr(Separator + 1);
  return SameTextAscii(Last, std::u16string_view(u"httpd.exe"));
}

bool CheckForNetscapeServer() { return IsNetscapeServerFileName(platform::ExecutableFileName()); }

void InitThreadPoolUnit() {
  IsNetscape = CheckForNetscapeServer();
  ThreadPoolClass = ThreadPoolClassOf<TISAPIThreadPool>();
  NumberOfThreads = 25;
  // Workers return to the identity the process had when the library came in.
  platform::CaptureOwnIdentity();
  DirectRequestProc.store(&DirectRequest, std::memory_order_release);
}

void DoneThreadPoolUnit() {
  DestroyThreadPool(true);
  DirectRequestProc.store(nullptr, std::memory_order_release);
}

namespace exports {

BOOL GetExtensionVersion(HSE_VERSION_INFO* Ver) noexcept {
  try {
    // Only the object: the port and the workers start with the first request.
    if (IsNTPlatform() && !IsNetscape && !ThreadPool.load(std::memory_order_acquire) && ThreadPoolClass)
      ThreadPool.store(ThreadPoolClass->Create(false).release(), std::memory_order_release);
    return tolvane::GetExtensionVersion(Ver);
  } catch (...) {
    return ISAPI_FALSE;
  }
}

DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB) noexcept {
  try {
    if (TISAPIThreadPool* Pool = PooledModePool()) {
      Pool->Initialize();
      return Pool->PushBack(ECB) ? HSE_STATUS_PENDING : HSE_STATUS_ERROR;
    }
    return tolvane::HttpExtensionProc(ECB);
  } catch (...) {
    // Nothing was written for a request that could not be queued; the direct
    // path writes its own error page before it returns.
    return HSE_STATUS_ERROR;
  }
}

BOOL TerminateExtension(DWORD dwFlags) noexcept {
  const bool Pooled = PooledModePool() != nullptr;
  BOOL Result = ISAPI_TRUE;
  try {
    Result = tolvane::TerminateExtension(dwFlags);
  } catch (...) {
    // The hook's failure is no reason to keep the library: the host unloads
    // it either way, and the workers must be stopped first.
  }
  if (Pooled) {
    DestroyThreadPool(false);
    return ISAPI_TRUE;
  }
  return Result;
}

}  // namespace exports

}  // namespace tolvane
