#include "platform/code_page.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace tolvane::platform {
namespace {

UINT SystemCodePage(TCodePage CodePage) { return CodePage == TCodePage::cpUTF8 ? CP_UTF8 : CP_ACP; }

// The system calls count in int.
int CheckedLength(std::size_t Length) {
  if (Length > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long to convert");
  return static_cast<int>(Length);
}

const wchar_t* WidePointer(std::u16string_view Text) { return reinterpret_cast<const wchar_t*>(Text.data()); }

}  // namespace

std::uint32_t AnsiCodePage() { return GetACP(); }

std::string WideToMultiByte(TCodePage CodePage, std::u16string_view Text) {
  if (Text.empty()) return {};
  const UINT Page = SystemCodePage(CodePage);
  const int Length = CheckedLength(Text.size());
  // No best fit: a character the code page cannot hold becomes "?" instead of
  // a look-alike, which could turn into a quote, a slash or a bracket that
  // the text never had.
  const DWORD Flags = Page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int Size = WideCharToMultiByte(Page, Flags, WidePointer(Text), Length, nullptr, 0, nullptr, nullptr);
  if (Size <= 0) return std::string(Text.size(), '?');
  std::string Out(static_cast<std::size_t>(Size), '\0');
  Size = WideCharToMultiByte(Page, Flags, WidePointer(Text), Length, Out.data(), Size, nullptr, nullptr);
  Out.resize(Size > 0 ? static_cast<std::size_t>(Size) : 0);
  return Out;
}

std::u16string MultiByteToWide(TCodePage CodePage, std::string_view Bytes) {
  if (Bytes.empty()) return {};
  const UINT Page = SystemCodePage(CodePage);
  const int Length = CheckedLength(Bytes.size());
  int Size = MultiByteToWideChar(Page, 0, Bytes.data(), Length, nullptr, 0);
  if (Size <= 0) return std::u16string(Bytes.size(), u'\xFFFD');
  std::u16string Out(static_cast<std::size_t>(Size), u'\0');
  Size = MultiByteToWideChar(Page, 0, Bytes.data(), Length, reinterpret_cast<wchar_t*>(Out.data()), Size);
  Out.resize(Size > 0 ? static_cast<std::size_t>(Size) : 0);
  return Out;
}

int CompareTextLocale(std::u16string_view A, std::u16string_view B) {
  const int LengthA = CheckedLength(A.size()), LengthB = CheckedLength(B.size());
  int Result = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, WidePointer(A), LengthA, WidePointer(B), LengthB);
  // Refused (an unknown locale): fall back to comparing the upper-cased code units.
  if (Result == 0) Result = CompareStringOrdinal(WidePointer(A), LengthA, WidePointer(B), LengthB, TRUE);
  return Result == 0 ? 0 : Result - CSTR_EQUAL;
}

}  // namespace tolvane::platform
