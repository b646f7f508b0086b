#include "platform/com.h"

#include <mutex>

namespace tolvane::platform {
namespace {

// Trivially destructible, so a thread that used COM never pins the library.
thread_local int GDepth = 0;
thread_local std::int32_t GFlags = 0;

struct TRecords {
  std::mutex Lock;
  std::vector<TComRecord> Items;
};

TRecords& Records() {
  static TRecords Instance;
  return Instance;
}

}  // namespace

std::int32_t ComInitialize(std::int32_t Flags) {
  if (GDepth > 0) {
    if (Flags != GFlags) return kComChangedMode;
    ++GDepth;
    return kComAlreadyInitialized;
  }
  GDepth = 1;
  GFlags = Flags;
  TRecords& R = Records();
  std::lock_guard Guard(R.Lock);
  R.Items.push_back({std::this_thread::get_id(), Flags, false});
  return kComOk;
}

void ComUninitialize() {
  if (GDepth == 0 || --GDepth > 0) return;
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
