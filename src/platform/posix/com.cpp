#include <tolvane/platform/com.h>

namespace tolvane::platform {
namespace {

// Trivially destructible, so a thread that used COM never pins the library.
thread_local int GDepth = 0;
thread_local std::int32_t GFlags = 0;

}  // namespace

std::int32_t ComInitialize(std::int32_t Flags) {
  if (GDepth > 0) {
    if (Flags != GFlags) return kComChangedMode;
    ++GDepth;
    return kComAlreadyInitialized;
  }
  GDepth = 1;
  GFlags = Flags;
  RecordComInitialize(Flags);
  return kComOk;
}

void ComUninitialize() {
  if (GDepth == 0 || --GDepth > 0) return;
  RecordComRelease();
}

}  // namespace tolvane::platform
