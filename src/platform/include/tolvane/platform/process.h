#pragma once
// Facts about the process and the library: the platform, the host executable's
// file name and the library's own file name.
#include <cstdint>
#include <string>

namespace tolvane::platform {

// Platform identifiers as the system's version information reports them.
inline constexpr std::uint32_t kPlatformWin32s = 0;
inline constexpr std::uint32_t kPlatformWin32Windows = 1;
inline constexpr std::uint32_t kPlatformWin32NT = 2;

// The platform identifier; the NT family unless a test has set another.
std::uint32_t PlatformId();
// Test seam: the identifier PlatformId answers from now on.
void SetPlatformId(std::uint32_t Id);

// Full file name of the hosting process's executable; empty when unknown.
std::u16string ExecutableFileName();

// Full file name of the binary this code is linked into: the loaded library,
// or the executable when linked into a program; empty when unknown.
std::u16string LibraryFileName();

// Keeps the binary this code is linked into loaded until the process ends,
// however often it is unloaded from now on: for code that threads may still
// run. Answers whether that holds (always, for code linked into a program).
// Must be called before the unloading starts: a library's own unload hooks
// are too late.
bool PinLibrary();

}  // namespace tolvane::platform
