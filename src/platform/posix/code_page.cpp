#include <tolvane/platform/code_page.h>

#include <clocale>
#include <cwctype>
#include <locale.h>

namespace tolvane::platform {
namespace {

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves undefined
// map to the code points of the same value, as Windows maps them.
constexpr char16_t kHigh1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t AnsiToWide(unsigned char Byte) {
  return Byte >= 0x80 && Byte < 0xA0 ? kHigh1252[Byte - 0x80] : char16_t(Byte);
}

int WideToAnsi(char16_t Ch) {
  if (Ch < 0x80 || (Ch >= 0xA0 && Ch <= 0xFF)) return Ch;
  for (int i = 0; i < 32; ++i)
    if (kHigh1252[i] == Ch) return 0x80 + i;
  return -1;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Reads one code point; a lone surrogate is answered as itself.
char32_t NextCodePoint(std::u16string_view Text, std::size_t& i) {
  char16_t c = Text[i++];
  if (IsHighSurrogate(c) && i < Text.size() && IsLowSurrogate(Text[i]))
    return 0x10000 + ((char32_t(c) - 0xD800) << 10) + (Text[i++] - 0xDC00);
  return c;
}

void AppendUTF8(std::string& Out, char32_t cp) {
  if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    Out += char(cp);
  } else if (cp < 0x800) {
    Out += char(0xC0 | (cp >> 6));
    Out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    Out += char(0xE0 | (cp >> 12));
    Out += char(0x80 | ((cp >> 6) & 0x3F));
    Out += char(0x80 | (cp & 0x3F));
  } else {
    Out += char(0xF0 | (cp >> 18));
    Out += char(0x80 | ((cp >> 12) & 0x3F));
    Out += char(0x80 | ((cp >> 6) & 0x3F));
    Out += char(0x80 | (cp & 0x3F));
  }
}

void AppendUTF16(std::u16string& Out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    Out += char16_t(0xD800 + (cp >> 10));
    Out += char16_t(0xDC00 + (cp & 0x3FF));
  } else {
    Out += char16_t(cp);
  }
}

// Decodes UTF-8; each maximal ill-formed subsequence becomes one U+FFFD.
std::u16string DecodeUTF8(std::string_view Bytes) {
  std::u16string Out;
  Out.reserve(Bytes.size());
  std::size_t i = 0, n = Bytes.size();
  while (i < n) {
    unsigned char b = Bytes[i];
    if (b < 0x80) {
      Out += char16_t(b);
      ++i;
      continue;
    }
    int len;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; }
    else if (b >= 0xE0 && b <= 0xEF) {
      len = 3; cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4; cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      Out += char16_t(0xFFFD);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 1; k < len; ++k, ++j) {
      if (j >= n) { ok = false; break; }
      unsigned char c = Bytes[j];
      if (c < lo || c > hi) { ok = false; break; }
      lo = 0x80; hi = 0xBF;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (ok) AppendUTF16(Out, cp);
    else Out += char16_t(0xFFFD);
    i = j;
  }
  return Out;
}

locale_t CaseLocale() {
  // Created once and kept for the life of the process: a locale object is
  // read-only once made, so every thread may use it.
  static const locale_t Locale = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    return l ? l : newlocale(LC_CTYPE_MASK, "C", locale_t(nullptr));
  }();
  return Locale;
}

char32_t Fold(char32_t cp) {
  if (cp < 0x80) return cp >= 'a' && cp <= 'z' ? cp - 32 : cp;
  return char32_t(towupper_l(wint_t(cp), CaseLocale()));
}

}  // namespace

std::uint32_t AnsiCodePage() { return 1252; }

std::string WideToMultiByte(TCodePage CodePage, std::u16string_view Text) {
  // ASCII is the same in every code page here, and most text is ASCII: its
  // leading run is copied in one pass, the rest character by character.
  std::size_t Ascii = 0;
  while (Ascii < Text.size() && Text[Ascii] < 0x80) ++Ascii;
  std::string Out(Ascii, '\0');
  for (std::size_t i = 0; i < Ascii; ++i) Out[i] = static_cast<char>(Text[i]);
  if (Ascii == Text.size()) return Out;
  Out.reserve(Text.size());
  for (std::size_t i = Ascii; i < Text.size();) {
    char32_t cp = NextCodePoint(Text, i);
    if (CodePage == TCodePage::cpUTF8) {
      AppendUTF8(Out, cp);
    } else {
      int b = cp < 0x10000 ? WideToAnsi(char16_t(cp)) : -1;
      if (cp >= 0xD800 && cp <= 0xDFFF) b = -1;
      Out += b < 0 ? '?' : char(b);
    }
  }
  return Out;
}

std::u16string MultiByteToWide(TCodePage CodePage, std::string_view Bytes) {
  if (CodePage == TCodePage::cpUTF8) return DecodeUTF8(Bytes);
  std::u16string Out(Bytes.size(), u'\0');
  for (std::size_t i = 0; i < Bytes.size(); ++i) Out[i] = AnsiToWide(static_cast<unsigned char>(Bytes[i]));
  return Out;
}

int CompareTextLocale(std::u16string_view A, std::u16string_view B) {
  std::size_t i = 0, j = 0;
  while (i < A.size() && j < B.size()) {
    char32_t a = Fold(NextCodePoint(A, i)), b = Fold(NextCodePoint(B, j));
    if (a != b) return a < b ? -1 : 1;
  }
  if (i < A.size()) return 1;
  if (j < B.size()) return -1;
  return 0;
}

}  // namespace tolvane::platform
