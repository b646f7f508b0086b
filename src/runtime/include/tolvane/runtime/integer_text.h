#pragma once
// Text to 32-bit integers, the way the runtime reads numbers everywhere:
// leading spaces, an optional sign, then decimal digits, or hexadecimal digits
// after "$", "x" or "0x" (either letter case). Nothing may follow the digits.
#include <string_view>

namespace tolvane {

// False for text that does not convert or does not fit 32 bits. Hexadecimal
// text may use all 32 bits: "$FFFFFFFF" is -1.
bool TryStrToInt(std::u16string_view Text, int& Value);
// Raises EConvertError "'<Text>' is not a valid integer value".
int StrToInt(std::u16string_view Text);

}  // namespace tolvane
