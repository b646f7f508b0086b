#pragma once
// The process-wide choice of COM concurrency model for threads that the
// library starts and asks to initialize COM.
#include <cstdint>

namespace tolvane {

// No model chosen yet: such threads initialize COM with the default model.
inline constexpr std::int32_t kCoInitFlagsUnset = -1;

// Written by the start-up code before any worker starts (kCoInitFlagsUnset
// until then); workers read it once, when they start.
extern std::int32_t CoInitFlags;

// The model a thread initializes COM with: CoInitFlags, or the default
// (apartment-threaded) model when none was chosen.
std::int32_t EffectiveCoInitFlags();

}  // namespace tolvane
