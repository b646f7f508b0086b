#pragma once
// The two string kinds: String holds UTF-16 text, AnsiString counted bytes whose
// text (where they hold text) is in the system's ANSI code page. Every
// conversion between them goes through the functions here.
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

using String = std::u16string;
using AnsiString = std::string;

// Through the system's ANSI code page.
String StringOf(std::string_view Ansi);
AnsiString AnsiOf(std::u16string_view Text);
// Through UTF-8.
AnsiString UTF8Encode(std::u16string_view Text);
String UTF8ToString(std::string_view Bytes);

// Case-insensitive comparison by the system locale's rules.
int CompareText(std::u16string_view A, std::u16string_view B);
bool SameText(std::u16string_view A, std::u16string_view B);

// Case rules that touch only the ASCII letters.
bool SameTextAscii(std::string_view A, std::string_view B);
bool SameTextAscii(std::u16string_view A, std::u16string_view B);
AnsiString UpperCaseAscii(std::string_view S);
String UpperCaseAscii(std::u16string_view S);
inline char16_t UpCaseAscii(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

String IntToStr(std::int64_t Value);
// Plain ASCII text to String (for literals and numbers).
String AsciiToString(std::string_view Ascii);

}  // namespace tolvane
