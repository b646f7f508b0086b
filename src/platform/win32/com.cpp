#include <tolvane/platform/com.h>

#include <objbase.h>
#include <windows.h>

namespace tolvane::platform {
namespace {

// This thread's successful initializations not yet undone, so that an
// uninitialize without a matching initialize never reaches the system.
// Trivially destructible, so a thread that used COM never pins the library.
thread_local int GDepth = 0;

}  // namespace

// The results the system answers are the constants of com.h: S_OK, S_FALSE
// and RPC_E_CHANGED_MODE.
static_assert(kComOk == S_OK && kComAlreadyInitialized == S_FALSE && kComChangedMode == RPC_E_CHANGED_MODE);
static_assert(kCoInitMultithreaded == COINIT_MULTITHREADED && kCoInitApartmentThreaded == COINIT_APARTMENTTHREADED);

std::int32_t ComInitialize(std::int32_t Flags) {
  const HRESULT Result = CoInitializeEx(nullptr, static_cast<DWORD>(Flags));
  if (FAILED(Result)) return Result;  // another model (RPC_E_CHANGED_MODE) or no COM: nothing to undo
  if (GDepth++ == 0) RecordComInitialize(Flags);
  return Result;
}

void ComUninitialize() {
  if (GDepth == 0) return;
  CoUninitialize();
  if (--GDepth == 0) RecordComRelease();
}

}  // namespace tolvane::platform
