#include <tolvane/runtime/com_init.h>

#include <tolvane/platform/com.h>

namespace tolvane {

constinit std::int32_t CoInitFlags = kCoInitFlagsUnset;

std::int32_t EffectiveCoInitFlags() {
  const std::int32_t Flags = CoInitFlags;
  return Flags == kCoInitFlagsUnset ? platform::kCoInitApartmentThreaded : Flags;
}

}  // namespace tolvane
