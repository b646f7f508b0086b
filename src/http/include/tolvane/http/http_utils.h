#pragma once
// The text rules of HTTP that requests, responses and host bindings share:
// encodings from content types, URL coding, splitting header and form text into
// name=value fields, the HTTP date forms, reason phrases, English month and day
// names. Every function is re-entrant; the tables are constant.
#include <array>
#include <cstdint>
#include <string_view>

#include <tolvane/runtime/date_time.h>
#include <tolvane/runtime/string_list.h>
#include <tolvane/runtime/system_string.h>

namespace tolvane {

// A set of 8-bit character codes (0..255).
class TSysCharSet {
 public:
  constexpr TSysCharSet() = default;
  constexpr TSysCharSet(std::string_view Chars) {
    for (char c : Chars) Include(static_cast<unsigned char>(c));
  }
  constexpr TSysCharSet(const char* Chars) : TSysCharSet(std::string_view(Chars)) {}
  constexpr void Include(unsigned Code) {
    if (Code < 256) FBits[Code / 64] |= std::uint64_t(1) << (Code % 64);
  }
  // Codes above 255 are never members.
  constexpr bool Contains(unsigned Code) const {
    return Code < 256 && (FBits[Code / 64] >> (Code % 64) & 1) != 0;
  }
  constexpr TSysCharSet operator+(const TSysCharSet& Other) const {
    TSysCharSet r;
    for (std::size_t i = 0; i < FBits.size(); ++i) r.FBits[i] = FBits[i] | Other.FBits[i];
    return r;
  }

 private:
  std::array<std::uint64_t, 4> FBits{};
};

// The two encodings a content type can select.
enum class TEncoding { enAnsi, enUTF8 };

// UTF-8 when the content type, upper-cased, contains both "CHARSET" and
// "UTF-8" anywhere; otherwise the system's ANSI code page.
TEncoding EncodingFromContentType(std::string_view ContentType);
String EncodingGetString(std::string_view ContentType, std::string_view Value);
AnsiString EncodingGetBytes(std::string_view ContentType, std::u16string_view Value);

// URL decoding up to the first NUL byte: "+" is a space, "%%" one "%", "%XX" the
// byte XX. Raises ECorvelException for a "%" too close to the end and
// EConvertError for a pair that is not hexadecimal.
AnsiString HTTPDecode(std::string_view AStr);
// URL encoding up to the first NUL byte: letters, digits and *@._-$!'() stay,
// a space becomes "+", every other byte "%XX" (upper-case digits).
AnsiString HTTPEncode(std::string_view AStr);

// Reads the three HTTP date forms (and the numeric one). Raises EParserError
// for an unknown day or month name, EConvertError for a missing number or an
// out-of-range date or time. No time-zone conversion is made.
TDateTime ParseDate(std::u16string_view DateStr);

// Splits Content into fields at Separators (and CR, LF, double quote, the
// end), skipping WhiteSpace (and CR, LF) before each field, and appends them to
// Strings. Double quotes group a field; StripQuotes removes the quotes from each
// field, Decode runs it through HTTPDecode (whose failures pass to the caller,
// leaving the fields appended so far). The text stops at its first NUL. The
// 8-bit form reads Content in the system's ANSI code page.
void ExtractHeaderFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::u16string_view Content,
                         TStrings& Strings, bool Decode, bool StripQuotes = false);
void ExtractHeaderFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::string_view Content,
                         TStrings& Strings, bool Decode, bool StripQuotes = false);
// ExtractHeaderFields with decoding.
void ExtractHTTPFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::u16string_view Content,
                       TStrings& Strings, bool StripQuotes = false);
void ExtractHTTPFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::string_view Content,
                       TStrings& Strings, bool StripQuotes = false);

// A header name or value made safe for its line: control characters become
// spaces (CR and LF would end the line early, NUL the whole block); tab stays.
String HeaderSafe(std::u16string_view Value);
AnsiString HeaderSafe(std::string_view Value);
// Text made safe to put into an HTML page: & < > " ' become entities.
String HTMLEscape(std::u16string_view Text);

// The reason phrase of a status code, or empty for a code without one.
AnsiString StatusString(int StatusCode);
// The English three-letter month and day-of-week names of a date (empty for a
// date outside 1 January 0001 to 31 December 9999 once rounded to the
// millisecond, as it is written).
String MonthStr(TDateTime DateTime);
String DayOfWeekStr(TDateTime DateTime);
// Path with every "\" replaced by "/".
String DosPathToUnixPath(std::u16string_view Path);

// The name tables, indexed from 1 (index 0 is empty); day 1 is Sunday.
extern const std::array<std::u16string_view, 13> Months;
extern const std::array<std::u16string_view, 8> DaysOfWeek;
extern const std::array<std::u16string_view, 8> LongDaysOfWeek;

}  // namespace tolvane
