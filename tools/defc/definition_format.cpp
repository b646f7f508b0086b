#include "definition_format.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace tolvane::defc {

namespace {

constexpr std::array<std::string_view, vtLastTag + 1> Keywords = {
    "null", "", "int8", "int16", "int32", "extended", "string", "ident", "false", "true", "binary",
    "set", "lstring", "nil", "collection", "single", "currency", "date", "wstring", "int64", "utf8", "double",
};

bool IsWordStart(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_'; }
bool IsWordChar(char C) { return IsWordStart(C) || (C >= '0' && C <= '9'); }

const char HexDigits[] = "0123456789ABCDEF";

void AppendHexByte(std::string& Out, std::uint8_t B) {
  Out += HexDigits[B >> 4];
  Out += HexDigits[B & 15];
}

std::uint64_t LoadLE(const std::uint8_t* Bytes, std::size_t Count) {
  std::uint64_t v = 0;
  for (std::size_t i = Count; i-- > 0;) v = v << 8 | Bytes[i];
  return v;
}

void StoreLE(std::uint64_t Value, std::uint8_t* Bytes, std::size_t Count) {
  for (std::size_t i = 0; i < Count; ++i) Bytes[i] = std::uint8_t(Value >> (8 * i));
}

// 80-bit extended precision: a 64-bit significand with an explicit integer
// bit, then 15 bits of exponent and the sign.
long double ExtendedValue(const std::uint8_t* Bytes) {
  std::uint64_t mantissa = LoadLE(Bytes, 8);
  int exponent = int(Bytes[8] | (Bytes[9] & 0x7F) << 8);
  long double v = std::ldexp(static_cast<long double>(mantissa), (exponent == 0 ? 1 : exponent) - 16383 - 63);
  return (Bytes[9] & 0x80) ? -v : v;
}

bool StoreExtended(long double Value, std::uint8_t* Bytes) {
  if (!std::isfinite(Value)) return false;
  bool negative = std::signbit(Value);
  Value = std::fabs(Value);
  std::uint64_t mantissa = 0;
  int exponent = 0;
  if (Value != 0) {
    int k = 0;
    long double fraction = std::frexp(Value, &k);
    exponent = k - 1 + 16383;
    if (exponent >= 0x7FFF) return false;
    if (exponent >= 1) {
      mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 64));
    } else {
      // Below the smallest normal value: no integer bit, exponent 0.
      mantissa = static_cast<std::uint64_t>(std::ldexp(Value, 16382 + 63));
      exponent = 0;
    }
  }
  StoreLE(mantissa, Bytes, 8);
  Bytes[8] = std::uint8_t(exponent);
  Bytes[9] = std::uint8_t((exponent >> 8) | (negative ? 0x80 : 0));
  return true;
}

template <class T>
bool ParseDecimal(std::string_view Text, T& Value) {
  auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  return error == std::errc() && end == Text.data() + Text.size() && std::isfinite(Value);
}

template <class T>
std::string ShortestDecimal(T Value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
  return std::string(buffer, result.ptr);
}

template <class T, class U>
T BitCast(U Bits) {
  static_assert(sizeof(T) == sizeof(U));
  T v;
  std::memcpy(&v, &Bits, sizeof v);
  return v;
}

}  // namespace

std::string_view TagKeyword(TValueTag Tag) { return Tag <= vtLastTag ? Keywords[Tag] : std::string_view(); }

bool IsKeyword(std::string_view Word) {
  for (std::string_view k : Keywords)
    if (!k.empty() && k == Word) return true;
  return false;
}

bool IsBareWord(std::string_view Text) {
  bool partStart = true;
  for (char c : Text) {
    if (partStart) {
      if (!IsWordStart(c)) return false;
      partStart = false;
    } else if (c == '.') {
      partStart = true;
    } else if (!IsWordChar(c)) {
      return false;
    }
  }
  return !partStart;
}

bool IsIntegerTag(TValueTag Tag) { return Tag == vtInt8 || Tag == vtInt16 || Tag == vtInt32 || Tag == vtInt64; }

bool IntegerFits(std::int64_t Value, TValueTag Tag) {
  switch (Tag) {
    case vtInt8:
      return Value >= INT8_MIN && Value <= INT8_MAX;
    case vtInt16:
      return Value >= INT16_MIN && Value <= INT16_MAX;
    case vtInt32:
      return Value >= INT32_MIN && Value <= INT32_MAX;
    case vtInt64:
      return true;
    default:
      return false;
  }
}

TValueTag SmallestIntegerTag(std::int64_t Value) {
  for (TValueTag t : {vtInt8, vtInt16, vtInt32})
    if (IntegerFits(Value, t)) return t;
  return vtInt64;
}

TValueTag DefaultStringTag(std::string_view Bytes) {
  for (char c : Bytes)
    if (static_cast<unsigned char>(c) >= 0x80) return vtUTF8String;
  return Bytes.size() <= MaxShortString ? vtString : vtLString;
}

std::size_t DecodeUTF8(std::string_view Text, char32_t& CodePoint) {
  if (Text.empty()) return 0;
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(Text[i]); };
  unsigned char lead = b(0);
  if (lead < 0x80) {
    CodePoint = lead;
    return 1;
  }
  std::size_t length;
  char32_t cp;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (Text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b(i) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  CodePoint = cp;
  return length;
}

void AppendUTF8(std::string& Out, char32_t C) {
  if (C < 0x80) {
    Out += char(C);
  } else if (C < 0x800) {
    Out += char(0xC0 | C >> 6);
    Out += char(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += char(0xE0 | C >> 12);
    Out += char(0x80 | (C >> 6 & 0x3F));
    Out += char(0x80 | (C & 0x3F));
  } else {
    Out += char(0xF0 | C >> 18);
    Out += char(0x80 | (C >> 12 & 0x3F));
    Out += char(0x80 | (C >> 6 & 0x3F));
    Out += char(0x80 | (C & 0x3F));
  }
}

namespace {

// The escape of a character every string kind writes the same way, or null.
const char* CommonEscape(char32_t C) {
  switch (C) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return nullptr;
  }
}

// Control characters (C0, DEL and C1) are always escaped, so that the text
// stays printable.
bool IsControl(char32_t C) { return C < 0x20 || (C >= 0x7F && C <= 0x9F); }

}  // namespace

void AppendQuoted(std::string& Out, std::string_view Bytes, bool AsUTF8) {
  Out += '"';
  for (std::size_t i = 0; i < Bytes.size();) {
    char32_t c = 0;
    std::size_t n = AsUTF8 ? DecodeUTF8(Bytes.substr(i), c) : (static_cast<unsigned char>(Bytes[i]) < 0x80 ? 1 : 0);
    if (n == 1) c = static_cast<unsigned char>(Bytes[i]);
    if (n == 0 || IsControl(c)) {
      if (const char* e = n ? CommonEscape(c) : nullptr) {
        Out += e;
      } else {
        // Each byte of the sequence on its own: an escape stands for one byte.
        std::size_t count = n ? n : 1;
        for (std::size_t j = 0; j < count; ++j) {
          Out += "\\x";
          AppendHexByte(Out, static_cast<unsigned char>(Bytes[i + j]));
        }
        i += count;
        continue;
      }
    } else if (const char* e = CommonEscape(c)) {
      Out += e;
    } else {
      Out.append(Bytes.substr(i, n));
    }
    i += n;
  }
  Out += '"';
}

void AppendQuotedWide(std::string& Out, std::u16string_view Units) {
  Out += '"';
  for (std::size_t i = 0; i < Units.size(); ++i) {
    char32_t c = Units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < Units.size() && Units[i + 1] >= 0xDC00 && Units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (Units[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      // A lone surrogate has no UTF-8 form.
      Out += "\\u";
      AppendHexByte(Out, std::uint8_t(c >> 8));
      AppendHexByte(Out, std::uint8_t(c));
      continue;
    }
    if (const char* e = CommonEscape(c)) {
      Out += e;
    } else if (IsControl(c)) {
      Out += "\\u00";
      AppendHexByte(Out, std::uint8_t(c));
    } else {
      AppendUTF8(Out, c);
    }
  }
  Out += '"';
}

void AppendName(std::string& Out, std::string_view Bytes) {
  if (IsBareWord(Bytes)) Out += Bytes;
  else AppendQuoted(Out, Bytes, true);
}

std::size_t FloatWidth(TValueTag Tag) {
  switch (Tag) {
    case vtSingle:
      return 4;
    case vtDouble:
    case vtDate:
      return 8;
    case vtExtended:
      return 10;
    default:
      return 0;
  }
}

std::optional<std::string> FloatDecimal(TValueTag Tag, const std::uint8_t* Bytes) {
  std::string text;
  switch (Tag) {
    case vtSingle: {
      float v = BitCast<float>(std::uint32_t(LoadLE(Bytes, 4)));
      if (!std::isfinite(v)) return std::nullopt;
      text = ShortestDecimal(v);
      break;
    }
    case vtDouble:
    case vtDate: {
      double v = BitCast<double>(LoadLE(Bytes, 8));
      if (!std::isfinite(v)) return std::nullopt;
      text = ShortestDecimal(v);
      break;
    }
    case vtExtended: {
      if ((Bytes[8] | (Bytes[9] & 0x7F) << 8) == 0x7FFF) return std::nullopt;
      text = ShortestDecimal(ExtendedValue(Bytes));
      break;
    }
    default:
      return std::nullopt;
  }
  // Only a text that reads back into the very same bytes will do.
  std::uint8_t back[10];
  if (!ParseFloatDecimal(Tag, text, back) || std::memcmp(back, Bytes, FloatWidth(Tag)) != 0) return std::nullopt;
  return text;
}

std::string FloatBits(TValueTag Tag, const std::uint8_t* Bytes) {
  std::string text = "0x";
  for (std::size_t i = FloatWidth(Tag); i-- > 0;) AppendHexByte(text, Bytes[i]);
  return text;
}

bool ParseFloatDecimal(TValueTag Tag, std::string_view Text, std::uint8_t* Bytes) {
  switch (Tag) {
    case vtSingle: {
      float v;
      if (!ParseDecimal(Text, v)) return false;
      StoreLE(BitCast<std::uint32_t>(v), Bytes, 4);
      return true;
    }
    case vtDouble:
    case vtDate: {
      double v;
      if (!ParseDecimal(Text, v)) return false;
      StoreLE(BitCast<std::uint64_t>(v), Bytes, 8);
      return true;
    }
    case vtExtended: {
      long double v;
      return ParseDecimal(Text, v) && StoreExtended(v, Bytes);
    }
    default:
      return false;
  }
}

bool ParseFloatBits(TValueTag Tag, std::string_view Digits, std::uint8_t* Bytes) {
  std::size_t width = FloatWidth(Tag);
  if (width == 0 || Digits.size() != 2 * width) return false;
  for (std::size_t i = 0; i < width; ++i) {
    unsigned v = 0;
    auto [end, error] = std::from_chars(Digits.data() + 2 * i, Digits.data() + 2 * i + 2, v, 16);
    if (error != std::errc() || end != Digits.data() + 2 * i + 2) return false;
    Bytes[width - 1 - i] = std::uint8_t(v);
  }
  return true;
}

std::string CurrencyText(std::int64_t Value) {
  std::uint64_t magnitude = Value < 0 ? 0 - std::uint64_t(Value) : std::uint64_t(Value);
  std::string text = Value < 0 ? "-" : "";
  text += std::to_string(magnitude / 10000);
  if (std::uint64_t fraction = magnitude % 10000) {
    std::string digits = std::to_string(fraction + 10000).substr(1);
    while (digits.back() == '0') digits.pop_back();
    text += '.';
    text += digits;
  }
  return text;
}

bool ParseCurrency(std::string_view Text, std::int64_t& Value) {
  bool negative = !Text.empty() && Text[0] == '-';
  if (negative) Text.remove_prefix(1);
  std::size_t dot = Text.find('.');
  std::string_view whole = Text.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : Text.substr(dot + 1);
  if (whole.empty() || (dot != std::string_view::npos && fraction.empty()) || fraction.size() > 4) return false;
  std::uint64_t magnitude = 0;
  const std::uint64_t limit = std::uint64_t(INT64_MAX) + (negative ? 1 : 0);
  auto addDigit = [&](char c) {
    if (c < '0' || c > '9' || magnitude > (limit - std::uint64_t(c - '0')) / 10) return false;
    magnitude = magnitude * 10 + std::uint64_t(c - '0');
    return true;
  };
  for (char c : whole)
    if (!addDigit(c)) return false;
  for (std::size_t i = 0; i < 4; ++i)
    if (!addDigit(i < fraction.size() ? fraction[i] : '0')) return false;
  Value = negative ? std::int64_t(0 - magnitude) : std::int64_t(magnitude);
  return true;
}

}  // namespace tolvane::defc
