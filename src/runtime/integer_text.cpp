#include <tolvane/runtime/integer_text.h>

#include <cstdint>

#include <tolvane/runtime/exception.h>

namespace tolvane {

namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

bool TryStrToInt(std::u16string_view Text, int& Value) {
  std::size_t i = 0;
  const std::size_t n = Text.size();
  while (i < n && Text[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (Text[i] == u'+' || Text[i] == u'-')) negative = Text[i++] == u'-';

  bool hex = false;
  if (i < n && (Text[i] == u'$' || Text[i] == u'x' || Text[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && Text[i] == u'0' && (Text[i + 1] == u'x' || Text[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i == n) return false;

  // Decimal text must fit the signed range; hexadecimal text may fill all
  // 32 bits and is read as two's complement.
  const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
  std::uint64_t magnitude = 0;
  for (; i < n; ++i) {
    int digit = hex ? HexDigit(Text[i]) : (Text[i] >= u'0' && Text[i] <= u'9' ? Text[i] - u'0' : -1);
    if (digit < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + std::uint64_t(digit);
    if (magnitude > limit) return false;
  }
  std::uint32_t bits = std::uint32_t(magnitude);
  if (negative) bits = 0u - bits;
  Value = static_cast<int>(bits);
  return true;
}

int StrToInt(std::u16string_view Text) {
  int value = 0;
  if (!TryStrToInt(Text, value)) throw EConvertError(u"'%s' is not a valid integer value", {Text});
  return value;
}

}  // namespace tolvane
