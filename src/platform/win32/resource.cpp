#include "platform/resource.h"

#include <windows.h>

#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tolvane::platform {

// The resource compiler puts a library's resources into its own module, where
// the lookup below finds them: there is no table to search.
void SetLibraryRCData(const TEmbeddedResource*) {}

std::optional<std::span<const std::uint8_t>> FindRCData(std::u16string_view Name) {
  // The system reads a name as far as its first NUL, and one starting with
  // "#" as a number: neither is a resource name here.
  if (Name.empty() || Name.find(u'\0') != Name.npos || Name[0] == u'#') return std::nullopt;
  const std::wstring Key(Name.begin(), Name.end());
  // The library's own module: the resources travel with the binary this code
  // is linked into, not with the program that loaded it.
  const HMODULE Module = reinterpret_cast<HMODULE>(&__ImageBase);
  HRSRC Info = FindResourceW(Module, Key.c_str(), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (Info == nullptr) return std::nullopt;
  const DWORD Size = SizeofResource(Module, Info);
  HGLOBAL Loaded = LoadResource(Module, Info);
  const void* Data = Loaded ? LockResource(Loaded) : nullptr;
  if (Data == nullptr) return std::nullopt;
  // Resources are mapped with the module and need no release.
  return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(Data), Size);
}

}  // namespace tolvane::platform
