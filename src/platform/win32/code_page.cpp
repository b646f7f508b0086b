#include <tolvane/platform/code_page.h>

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace tolvane::platform {
namespace {

// The system calls count in int.
int CheckedLength(std::size_t Length) {
  if (Length > static_cast<std::size_t>(INT_MAX)) throw std::length_error("text too long to convert");
  return static_cast<int>(Length);
}

const wchar_t* WidePointer(std::u16string_view Text) { return reinterpret_cast<const wchar_t*>(Text.data()); }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The ANSI code page may be UTF-8 itself (a system setting): then it
// converts as UTF-8 does.
bool AnsiIsUTF8() { return GetACP() == CP_UTF8; }

void AppendBytes(std::string& Out, UINT Page, std::u16string_view Text) {
  if (Text.empty()) return;
  const int Length = CheckedLength(Text.size());
  // No best fit for the ANSI code page: a character it cannot hold becomes
  // "?" instead of a look-alike, which could turn into a quote, a slash or a
  // bracket that the text never had. UTF-8 takes neither flag nor default.
  const bool Utf8 = Page == CP_UTF8;
  const DWORD Flags = Utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* Default = Utf8 ? nullptr : "?";
  const int Size = WideCharToMultiByte(Page, Flags, WidePointer(Text), Length, nullptr, 0, Default, nullptr);
  if (Size <= 0) {
    Out.append(Text.size(), '?');
    return;
  }
  const std::size_t At = Out.size();
  Out.resize(At + static_cast<std::size_t>(Size));
  const int Written =
      WideCharToMultiByte(Page, Flags, WidePointer(Text), Length, Out.data() + At, Size, Default, nullptr);
  Out.resize(At + static_cast<std::size_t>(Written > 0 ? Written : 0));
}

void AppendWide(std::u16string& Out, UINT Page, std::string_view Bytes) {
  if (Bytes.empty()) return;
  const int Length = CheckedLength(Bytes.size());
  const int Size = MultiByteToWideChar(Page, 0, Bytes.data(), Length, nullptr, 0);
  if (Size <= 0) {
    Out.append(Bytes.size(), u'\xFFFD');
    return;
  }
  const std::size_t At = Out.size();
  Out.resize(At + static_cast<std::size_t>(Size));
  const int Written =
      MultiByteToWideChar(Page, 0, Bytes.data(), Length, reinterpret_cast<wchar_t*>(Out.data() + At), Size);
  Out.resize(At + static_cast<std::size_t>(Written > 0 ? Written : 0));
}

// The length of the well-formed UTF-8 sequence at the start of Bytes, or, as
// a negative number, the length of the maximal ill-formed part there, which
// stands for one replacement character (the Unicode practice, which systems
// do not all follow).
int NextUTF8(std::string_view Bytes) {
  const unsigned char b = Bytes[0];
  if (b < 0x80) return 1;
  int Length;
  unsigned char Low = 0x80, High = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    Length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    Length = 3;
    if (b == 0xE0) Low = 0xA0;
    if (b == 0xED) High = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    Length = 4;
    if (b == 0xF0) Low = 0x90;
    if (b == 0xF4) High = 0x8F;
  } else {
    return -1;
  }
  for (int i = 1; i < Length; ++i) {
    if (static_cast<std::size_t>(i) >= Bytes.size()) return -i;
    const unsigned char c = Bytes[i];
    if (c < Low || c > High) return -i;
    Low = 0x80;
    High = 0xBF;
  }
  return Length;
}

std::u16string DecodeUTF8(std::string_view Bytes) {
  std::u16string Out;
  Out.reserve(Bytes.size());
  // Well-formed runs go to the system whole; each ill-formed part becomes one
  // U+FFFD here.
  std::size_t RunStart = 0, At = 0;
  while (At < Bytes.size()) {
    const int Step = NextUTF8(Bytes.substr(At));
    if (Step > 0) {
      At += static_cast<std::size_t>(Step);
      continue;
    }
    AppendWide(Out, CP_UTF8, Bytes.substr(RunStart, At - RunStart));
    Out += u'\xFFFD';
    At += static_cast<std::size_t>(-Step);
    RunStart = At;
  }
  AppendWide(Out, CP_UTF8, Bytes.substr(RunStart));
  return Out;
}

}  // namespace

std::uint32_t AnsiCodePage() { return GetACP(); }

std::string WideToMultiByte(TCodePage CodePage, std::u16string_view Text) {
  if (CodePage == TCodePage::cpUTF8 || AnsiIsUTF8()) {
    std::string Out;
    AppendBytes(Out, CP_UTF8, Text);
    return Out;
  }
  // A character beyond the BMP is one character, so one "?", where the
  // system would write one for each half of its surrogate pair.
  std::string Out;
  Out.reserve(Text.size());
  std::size_t RunStart = 0;
  for (std::size_t i = 0; i + 1 < Text.size(); ++i) {
    if (!IsHighSurrogate(Text[i]) || !IsLowSurrogate(Text[i + 1])) continue;
    AppendBytes(Out, CP_ACP, Text.substr(RunStart, i - RunStart));
    Out += '?';
    RunStart = ++i + 1;
  }
  AppendBytes(Out, CP_ACP, Text.substr(RunStart));
  return Out;
}

std::u16string MultiByteToWide(TCodePage CodePage, std::string_view Bytes) {
  if (CodePage == TCodePage::cpUTF8 || AnsiIsUTF8()) return DecodeUTF8(Bytes);
  std::u16string Out;
  AppendWide(Out, CP_ACP, Bytes);
  return Out;
}

int CompareTextLocale(std::u16string_view A, std::u16string_view B) {
  if (A.empty() || B.empty()) return A.empty() ? (B.empty() ? 0 : -1) : 1;
  const int LengthA = CheckedLength(A.size()), LengthB = CheckedLength(B.size());
  const int Linguistic =
      CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, WidePointer(A), LengthA, WidePointer(B), LengthB);
  if (Linguistic != 0 && Linguistic != CSTR_EQUAL) return Linguistic - CSTR_EQUAL;
  // Equal to the locale: the locale's rules pass over characters such as the
  // soft hyphen and NUL, so texts that differ in more than letter case are
  // still told apart, by their upper-cased characters. Ordering by the
  // locale first and by these second keeps the order consistent.
  const int Ordinal = CompareStringOrdinal(WidePointer(A), LengthA, WidePointer(B), LengthB, TRUE);
  if (Ordinal != 0) return Ordinal - CSTR_EQUAL;
  const int Exact = A.compare(B);  // both refused: only identical texts are equal
  return Exact < 0 ? -1 : Exact > 0 ? 1 : 0;
}

}  // namespace tolvane::platform
