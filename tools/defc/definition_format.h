#pragma once
// What the compiler and the decompiler of definitions share: the value tags
// of the binary form, the limits both sides enforce alike, the keywords of
// the text form and the conversions between stored values and their text.
// Whatever one side accepts, the other must write back unchanged.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::defc {

enum TValueTag : std::uint8_t {
  vtNull,
  vtList,
  vtInt8,
  vtInt16,
  vtInt32,
  vtExtended,
  vtString,
  vtIdent,
  vtFalse,
  vtTrue,
  vtBinary,
  vtSet,
  vtLString,
  vtNil,
  vtCollection,
  vtSingle,
  vtCurrency,
  vtDate,
  vtWString,
  vtInt64,
  vtUTF8String,
  vtDouble,
  vtLastTag = vtDouble,
};

inline constexpr std::string_view Signature = "TPF0";
// A byte at or above this one opens a component's prefix; the low four bits
// are its flags.
inline constexpr std::uint8_t PrefixMarker = 0xF0;
inline constexpr std::uint8_t FlagInherited = 1;
inline constexpr std::uint8_t FlagChildPos = 2;
inline constexpr std::uint8_t FlagInline = 4;
inline constexpr std::uint8_t FlagUnassigned = 8;
inline constexpr std::size_t MaxShortString = 255;
// Components, lists, collections and collection items each open one level.
// Both directions count the same levels, so whatever decompiles compiles.
inline constexpr int MaxNesting = 100;
// Neither a text nor a binary definition is read beyond this size.
inline constexpr std::size_t MaxInputSize = 64u << 20;

// The keyword that names a tag in the text ("int16", "wstring", ...).
std::string_view TagKeyword(TValueTag Tag);
// True for the words that cannot stand for a bare identifier value.
bool IsKeyword(std::string_view Word);
// A name that can be written without quotes: letters, digits and "_",
// not starting with a digit, parts joined by single dots.
bool IsBareWord(std::string_view Text);

bool IsIntegerTag(TValueTag Tag);
bool IntegerFits(std::int64_t Value, TValueTag Tag);
// The tag a plain integer gets: the smallest that holds it.
TValueTag SmallestIntegerTag(std::int64_t Value);
// The tag a plain quoted string gets from its bytes: "string" for ASCII
// text up to 255 bytes, "lstring" for longer ASCII text, "utf8" otherwise.
TValueTag DefaultStringTag(std::string_view Bytes);

// Quoted text for stored bytes. As UTF-8, valid printable characters are
// written as they are; otherwise (and for code-page text) every byte above
// 0x7F is written as an escape.
void AppendQuoted(std::string& Out, std::string_view Bytes, bool AsUTF8);
void AppendQuotedWide(std::string& Out, std::u16string_view Units);
// A name or a set element: bare when it can be, quoted otherwise.
void AppendName(std::string& Out, std::string_view Bytes);

// The length of the valid UTF-8 sequence at Text (and its code point), or 0.
std::size_t DecodeUTF8(std::string_view Text, char32_t& CodePoint);
void AppendUTF8(std::string& Out, char32_t CodePoint);

// Width in bytes of the payload of the float tags (single, double, date,
// extended).
std::size_t FloatWidth(TValueTag Tag);
// The decimal text of a stored float that reads back into the same bytes,
// or nothing (infinities, NaNs, unnormal extended values).
std::optional<std::string> FloatDecimal(TValueTag Tag, const std::uint8_t* Bytes);
// The stored float's bits as one hexadecimal number, sign first.
std::string FloatBits(TValueTag Tag, const std::uint8_t* Bytes);
// Decimal text to stored bytes; false when out of the kind's range.
bool ParseFloatDecimal(TValueTag Tag, std::string_view Text, std::uint8_t* Bytes);
// Hexadecimal digits (exactly 2 * FloatWidth) to stored bytes.
bool ParseFloatBits(TValueTag Tag, std::string_view Digits, std::uint8_t* Bytes);

// Currency: a count of ten-thousandths, written as a decimal with at most
// four fraction digits.
std::string CurrencyText(std::int64_t Value);
bool ParseCurrency(std::string_view Text, std::int64_t& Value);

}  // namespace tolvane::defc
