#include <tolvane/platform/process.h>

#include <windows.h>

#include <atomic>

#include "long_path.h"

// The start of the binary this code is linked into, as the linker names it.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tolvane::platform {
namespace {

constexpr std::uint32_t kNotSet = 0xFFFFFFFF;
std::atomic<std::uint32_t> GPlatformIdSet{kNotSet};

std::uint32_t SystemPlatformId() {
  OSVERSIONINFOW Info{};
  Info.dwOSVersionInfoSize = sizeof Info;
  // Only the NT family runs x64 code, so that is the answer should the
  // system not say.
  if (!GetVersionExW(&Info)) return kPlatformWin32NT;
  return Info.dwPlatformId;
}

// The full name of a module's file, however long: a name cut to the room
// given is asked for again with more.
std::u16string ModuleFileName(HMODULE Module) {
  std::u16string Buffer(MAX_PATH + 1, u'\0');
  for (;;) {
    const DWORD Size = static_cast<DWORD>(Buffer.size());
    const DWORD Length = GetModuleFileNameW(Module, reinterpret_cast<wchar_t*>(Buffer.data()), Size);
    if (Length == 0) return {};
    if (Length < Size) {
      Buffer.resize(Length);
      // A module loaded by a long-path name is reported with its prefix.
      return WithoutLongPathPrefix(Buffer);
    }
    if (Buffer.size() > 0x10000) return {};  // longer than any file name can be
    Buffer.resize(Buffer.size() * 2);
  }
}

}  // namespace

std::uint32_t PlatformId() {
  const std::uint32_t Set = GPlatformIdSet.load(std::memory_order_relaxed);
  if (Set != kNotSet) return Set;
  static const std::uint32_t System = SystemPlatformId();
  return System;
}

void SetPlatformId(std::uint32_t Id) { GPlatformIdSet.store(Id, std::memory_order_relaxed); }

std::u16string ExecutableFileName() { return ModuleFileName(nullptr); }

std::u16string LibraryFileName() { return ModuleFileName(reinterpret_cast<HMODULE>(&__ImageBase)); }

bool PinLibrary() {
  HMODULE Module = nullptr;
  return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&__ImageBase), &Module) != FALSE;
}

}  // namespace tolvane::platform
