#include "platform/com.h"

#include <objbase.h>
#include <windows.h>

#include <mutex>

namespace tolvane::platform {
namespace {

// This thread's successful initializations not yet undone, so that an
// uninitialize without a matching initialize never reaches the system.
// Trivially destructible, so a thread that used COM never pins the library.
thread_local int GDepth = 0;

struct TRecords {
  std::mutex Lock;
  std::vector<TComRecord> Items;
};

TRecords& Records() {
  static TRecords Instance;
  return Instance;
}

}  // namespace

// The results the system answers are the constants of com.h: S_OK, S_FALSE
// and RPC_E_CHANGED_MODE.
static_assert(kComOk == S_OK && kComAlreadyInitialized == S_FALSE && kComChangedMode == RPC_E_CHANGED_MODE);
static_assert(kCoInitMultithreaded == COINIT_MULTITHREADED && kCoInitApartmentThreaded == COINIT_APARTMENTTHREADED);

std::int32_t ComInitialize(std::int32_t Flags) {
  const HRESULT Result = CoInitializeEx(nullptr, static_cast<DWORD>(Flags));
  if (FAILED(Result)) return Result;  // another model (RPC_E_CHANGED_MODE) or no COM: nothing to undo
  if (GDepth++ > 0) return Result;
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  R.Items.push_back({std::this_thread::get_id(), Flags, false});
  return Result;
}

void ComUninitialize() {
  if (GDepth == 0) return;
  CoUninitialize();
  if (--GDepth > 0) return;
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  const auto Self = std::this_thread::get_id();
  for (auto It = R.Items.rbegin(); It != R.Items.rend(); ++It)
    if (It->Thread == Self && !It->Released) {
      It->Released = true;
      break;
    }
}

std::vector<TComRecord> ComRecords() {
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  return R.Items;
}

void ClearComRecords() {
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  R.Items.clear();
}

}  // namespace tolvane::platform
