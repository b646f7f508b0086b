#pragma once
// Conversions between UTF-16 and 8-bit text, and the comparisons that depend on
// the system's text rules. The POSIX build follows what a Windows system with
// the Western European ANSI code page (1252) does.
#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane::platform {

enum class TCodePage : std::uint32_t {
  cpAnsi = 0,      // the system's ANSI code page, whatever it is
  cpUTF8 = 65001,
};

// The number of the system's ANSI code page (1252 on POSIX).
std::uint32_t AnsiCodePage();

// UTF-16 to bytes. A character the code page cannot hold becomes "?"; under
// UTF-8 a lone surrogate becomes U+FFFD.
std::string WideToMultiByte(TCodePage CodePage, std::u16string_view Text);
// Bytes to UTF-16. Malformed UTF-8 becomes U+FFFD.
std::u16string MultiByteToWide(TCodePage CodePage, std::string_view Bytes);

// Case-insensitive comparison by the system locale's rules (Unicode simple case
// folding): answers <0, 0 or >0.
int CompareTextLocale(std::u16string_view A, std::u16string_view B);

}  // namespace tolvane::platform
