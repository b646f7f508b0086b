#include <tolvane/http/http_utils.h>

#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include <tolvane/runtime/exception.h>

namespace tolvane {

const std::array<std::u16string_view, 13> Months{u"",    u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                 u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
const std::array<std::u16string_view, 8> DaysOfWeek{u"", u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
const std::array<std::u16string_view, 8> LongDaysOfWeek{u"",          u"Sunday",   u"Monday", u"Tuesday",
                                                        u"Wednesday", u"Thursday", u"Friday", u"Saturday"};

namespace {

constexpr char16_t kDQ = u'"';
constexpr char16_t kAP = u'\'';

template <class Char>
std::basic_string_view<Char> UpToNul(std::basic_string_view<Char> S) {
  std::size_t n = S.find(Char(0));
  return n == S.npos ? S : S.substr(0, n);
}

int HexValue(unsigned c) {
  if (c >= '0' && c <= '9') return int(c - '0');
  if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
  return -1;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsAsciiDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

[[noreturn]] void DecodeEndError(std::size_t Position) {
  throw ECorvelException(u"Error decoding URL style (%%XX) encoded string at position %d", {(long long)Position});
}

// Removes one pair of quotes (double or single) per quoted part, scanning from
// the end; a quote of the other kind inside a quoted part stays.
String DoStripQuotes(const String& Field) {
  std::vector<bool> drop(Field.size(), false);
  bool inQuote = false;
  char16_t quote = 0;
  for (std::size_t i = Field.size(); i-- > 0;) {
    char16_t c = Field[i];
    if (c != kDQ && c != kAP) continue;
    if (inQuote && c == quote) {
      drop[i] = true;
      inQuote = false;
    } else if (!inQuote) {
      quote = c;
      drop[i] = true;
      inQuote = true;
    }
  }
  String kept;
  kept.reserve(Field.size());
  for (std::size_t i = 0; i < Field.size(); ++i)
    if (!drop[i]) kept += Field[i];
  return kept;
}

// The tokenizer behind ParseDate: words, integers, other numbers, quoted
// strings, "$" hexadecimal numbers and single characters.
class TDateTokens {
 public:
  enum class TKind { tkEnd, tkWord, tkInteger, tkNumber, tkString, tkChar };

  explicit TDateTokens(std::u16string_view Text) : FText(Text) { Next(); }

  TKind Kind() const { return FKind; }
  const String& Text() const { return FToken; }

  void Next() {
    const std::size_t n = FText.size();
    while (FPos < n && FText[FPos] <= 32) ++FPos;
    FToken.clear();
    FHex = false;
    if (FPos >= n) {
      FKind = TKind::tkEnd;
      return;
    }
    char16_t c = FText[FPos];
    if (IsAsciiLetter(c) || c == u'_') {
      FKind = TKind::tkWord;
      while (FPos < n && (IsAsciiLetter(FText[FPos]) || IsAsciiDigit(FText[FPos]) || FText[FPos] == u'_'))
        FToken += FText[FPos++];
    } else if (IsAsciiDigit(c)) {
      FKind = TKind::tkInteger;
      while (FPos < n && IsAsciiDigit(FText[FPos])) FToken += FText[FPos++];
      if (FPos < n && IsNumberTail(FText[FPos])) {
        FKind = TKind::tkNumber;
        while (FPos < n && (IsNumberTail(FText[FPos]) || IsAsciiDigit(FText[FPos]))) FToken += FText[FPos++];
      }
    } else if (c == u'\'' || c == u'#') {
      FKind = TKind::tkString;
      ReadString();
    } else if (c == u'$' && FPos + 1 < n && HexValue(FText[FPos + 1]) >= 0) {
      FKind = TKind::tkInteger;
      FHex = true;
      FToken += FText[FPos++];
      while (FPos < n && HexValue(FText[FPos]) >= 0) FToken += FText[FPos++];
    } else {
      FKind = TKind::tkChar;
      FToken += FText[FPos++];
    }
  }

  bool IsChar(char16_t c) const { return FKind == TKind::tkChar && FToken[0] == c; }
  void Skip(char16_t c) {
    if (IsChar(c)) Next();
  }
  bool Matches(std::u16string_view Name) const { return FKind == TKind::tkWord && SameTextAscii(FToken, Name); }

  // The index in Months of the month the token names, or 0.
  int MonthIndex() const {
    for (int m = 1; m <= 12; ++m)
      if (Matches(Months[std::size_t(m)])) return m;
    return 0;
  }

  int Integer() const {
    if (FKind != TKind::tkInteger) IntegerError();
    std::uint64_t v = 0;
    if (FHex) {
      for (std::size_t i = 1; i < FToken.size(); ++i) {
        v = v * 16 + std::uint64_t(HexValue(FToken[i]));
        if (v > 0xFFFFFFFFu) IntegerError();
      }
      return int(std::int32_t(std::uint32_t(v)));  // 32-bit hexadecimal wraps to negative
    }
    for (char16_t c : FToken) {
      v = v * 10 + std::uint64_t(c - u'0');
      if (v > std::uint64_t(std::numeric_limits<std::int32_t>::max())) IntegerError();
    }
    return int(v);
  }

 private:
  static bool IsNumberTail(char16_t c) { return c == u'+' || c == u'-' || c == u'.' || c == u'E' || c == u'e'; }

  [[noreturn]] void IntegerError() const { throw EConvertError(u"'%s' is not a valid integer value", {FToken}); }

  // A run of 'quoted' parts (a doubled quote stands for one) and #code
  // characters; the token's text is the characters they stand for. A quote
  // left open runs to the end of the text.
  void ReadString() {
    const std::size_t n = FText.size();
    while (FPos < n) {
      if (FText[FPos] == u'\'') {
        ++FPos;
        while (FPos < n) {
          char16_t c = FText[FPos++];
          if (c != u'\'') {
            FToken += c;
          } else if (FPos < n && FText[FPos] == u'\'') {
            FToken += c;
            ++FPos;
          } else {
            break;
          }
        }
      } else if (FText[FPos] == u'#') {
        ++FPos;
        bool hex = FPos < n && FText[FPos] == u'$';
        if (hex) ++FPos;
        std::uint32_t code = 0;
        bool any = false;
        while (FPos < n && (hex ? HexValue(FText[FPos]) >= 0 : IsAsciiDigit(FText[FPos]))) {
          code = (code * (hex ? 16 : 10) + std::uint32_t(HexValue(FText[FPos++]))) & 0xFFFFFF;
          any = true;
        }
        if (any) FToken += char16_t(code & 0xFFFF);
      } else {
        break;
      }
    }
  }

  std::u16string_view FText;
  std::size_t FPos = 0;
  TKind FKind = TKind::tkEnd;
  String FToken;
  bool FHex = false;
};

// A year written with fewer than four digits: the year 2000 + Year, or the
// century before when that would lie more than 50 years ahead.
std::int64_t WidenYear(std::int64_t Year) {
  std::int64_t year = Year + 2000;
  if (year > std::int64_t(CurrentYear()) + 50) year -= 100;
  return year;
}

struct TDateParts {
  std::int64_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

void GetTime(TDateTokens& T, TDateParts& P) {
  P.Hour = T.Integer();
  T.Next();
  T.Skip(u':');
  P.Minute = T.Integer();
  T.Next();
  T.Skip(u':');
  P.Second = T.Integer();
  T.Next();
}

int GetMonthOrFail(const TDateTokens& T) {
  int m = T.MonthIndex();
  if (m == 0) throw EParserError(u"%s is not a valid month", {T.Text()});
  return m;
}

// "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" and
// "Sun Nov  6 08:49:37 1994".
void ParseHTTPDate(TDateTokens& T, TDateParts& P) {
  bool day = false;
  for (std::size_t d = 1; d <= 7 && !day; ++d) day = T.Matches(DaysOfWeek[d]);
  for (std::size_t d = 1; d <= 7 && !day; ++d) day = T.Matches(LongDaysOfWeek[d]);
  if (!day) throw EParserError(u"%s is not a valid day", {T.Text()});
  T.Next();
  if (T.IsChar(u',')) {
    T.Next();
    P.Day = T.Integer();
    T.Next();
    T.Skip(u':');
    P.Month = GetMonthOrFail(T);
    T.Next();
    T.Skip(u':');
    P.Year = T.Integer();
    if (T.Text().size() < 4) P.Year = WidenYear(P.Year);
    T.Next();
    GetTime(T, P);
  } else {
    P.Month = GetMonthOrFail(T);
    T.Next();
    P.Day = T.Integer();
    T.Next();
    GetTime(T, P);
    P.Year = T.Integer();
  }
}

// Only a month number of 13 or more is read as a name; 13 stands for none.
bool GetMonth(const TDateTokens& T, TDateParts& P) {
  if (P.Month < 13) return false;
  int m = T.MonthIndex();
  P.Month = m ? m : 13;
  return m != 0;
}

// Dates that begin with a number.
void OldParseDate(TDateTokens& T, TDateParts& P) {
  P.Month = T.Integer();
  T.Next();
  T.Skip(u':');
  T.Next();
  T.Skip(u',');
  if (GetMonth(T, P)) {
    T.Next();
    P.Day = T.Integer();
    T.Next();
    GetTime(T, P);
    P.Year = T.Integer();
  } else {
    P.Day = T.Integer();
    T.Next();
    GetMonth(T, P);
    T.Next();
    P.Year = T.Integer();
    if (P.Year < 100) P.Year = WidenYear(P.Year);
    T.Next();
    GetTime(T, P);
  }
}

int Low16(std::int64_t v) { return int(std::uint16_t(std::uint64_t(v))); }

// 1 January 0001 00:00 up to 31 December 9999 23:59:59.999, decided on the
// date as it is written (rounded to milliseconds): a value a moment before
// the year 10000 is written as that year.
bool InDateRange(TDateTime DateTime) {
  int year, month, day;
  DecodeDate(DateTime, year, month, day);
  return year >= 1 && year <= 9999;
}

void ExtractFieldsOf(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::u16string_view Content,
                     TStrings& Strings, bool Decode, bool StripQuotes) {
  const std::u16string_view text = UpToNul(Content);
  if (text.empty()) return;
  const TSysCharSet white = WhiteSpace + TSysCharSet("\r\n");
  TSysCharSet separators = Separators + TSysCharSet("\r\n\"");
  separators.Include(0);
  // The character at a position, NUL at and past the end.
  auto at = [&](std::size_t i) -> char16_t { return i < text.size() ? text[i] : char16_t(0); };

  char16_t quoteChar = 0;
  std::size_t tail = 0;
  bool eos = false;
  while (!eos) {
    while (at(tail) != 0 && white.Contains(at(tail))) ++tail;  // the end is never white space
    std::size_t head = tail;
    bool inQuote = false;
    bool leadQuote = false;
    for (;;) {
      while ((inQuote && at(tail) != 0 && at(tail) != kDQ) || !separators.Contains(at(tail))) ++tail;
      if (at(tail) != kDQ) break;
      if (quoteChar == kDQ) {
        quoteChar = 0;
      } else {
        leadQuote = tail == head;
        quoteChar = kDQ;
        if (leadQuote) ++head;
      }
      inQuote = quoteChar != 0;
      if (!inQuote) {
        // A field wholly in quotes ends on its closing quote.
        if (leadQuote) break;
        // The closing quote of a quote that began inside the field stays in
        // it, and so does whatever follows up to the next separator.
        ++tail;
        if (at(tail) == 0 || (separators.Contains(at(tail)) && at(tail) != kDQ)) break;
        continue;
      }
      ++tail;
    }
    eos = at(tail) == 0;
    if (at(head) != 0) {
      String field(text.substr(head, tail - head));
      if (StripQuotes) field = DoStripQuotes(field);
      if (Decode) field = StringOf(HTTPDecode(AnsiOf(field)));
      Strings.Add(std::move(field));
    }
    ++tail;
  }
}

}  // namespace

TEncoding EncodingFromContentType(std::string_view ContentType) {
  AnsiString upper = UpperCaseAscii(ContentType);
  return upper.find("CHARSET") != upper.npos && upper.find("UTF-8") != upper.npos ? TEncoding::enUTF8
                                                                                  : TEncoding::enAnsi;
}

String EncodingGetString(std::string_view ContentType, std::string_view Value) {
  return EncodingFromContentType(ContentType) == TEncoding::enUTF8 ? UTF8ToString(Value) : StringOf(Value);
}

AnsiString EncodingGetBytes(std::string_view ContentType, std::u16string_view Value) {
  return EncodingFromContentType(ContentType) == TEncoding::enUTF8 ? UTF8Encode(Value) : AnsiOf(Value);
}

AnsiString HTTPDecode(std::string_view AStr) {
  const std::string_view in = UpToNul(AStr);
  AnsiString out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size();) {
    char c = in[i];
    if (c == '+') {
      out += ' ';
      ++i;
    } else if (c != '%') {
      out += c;
      ++i;
    } else {
      if (i + 1 >= in.size()) DecodeEndError(i + 1);
      char c1 = in[i + 1];
      if (c1 == '%') {
        out += '%';
        i += 2;
        continue;
      }
      if (i + 2 >= in.size()) DecodeEndError(i + 1);
      char c2 = in[i + 2];
      int hi = HexValue(static_cast<unsigned char>(c1));
      int lo = HexValue(static_cast<unsigned char>(c2));
      if (hi < 0 || lo < 0)
        throw EConvertError(u"Invalid URL encoded character (%s) at position %d",
                            {AnsiString{'%', c1, c2}, (long long)(i + 1)});
      out += char(hi * 16 + lo);
      i += 3;
    }
  }
  return out;
}

AnsiString HTTPEncode(std::string_view AStr) {
  static constexpr TSysCharSet kKept(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*@._-$!'()");
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string_view in = UpToNul(AStr);
  AnsiString out;
  out.reserve(in.size());
  for (char c : in) {
    unsigned char b = static_cast<unsigned char>(c);
    if (kKept.Contains(b)) {
      out += c;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

TDateTime ParseDate(std::u16string_view DateStr) {
  String text(UpToNul(DateStr));
  for (char16_t& c : text)
    if (c == u'-') c = u':';
  TDateTokens tokens(text);
  TDateParts parts;
  if (tokens.Kind() == TDateTokens::TKind::tkInteger) OldParseDate(tokens, parts);
  else ParseHTTPDate(tokens, parts);
  TDateTime date = EncodeDate(Low16(parts.Year), Low16(parts.Month), Low16(parts.Day));
  TDateTime time = EncodeTime(Low16(parts.Hour), Low16(parts.Minute), Low16(parts.Second), 0);
  // Before 30 December 1899 the time of day counts away from zero.
  return date < 0 ? date - time : date + time;
}

void ExtractHeaderFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::u16string_view Content,
                         TStrings& Strings, bool Decode, bool StripQuotes) {
  ExtractFieldsOf(Separators, WhiteSpace, Content, Strings, Decode, StripQuotes);
}

void ExtractHeaderFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::string_view Content,
                         TStrings& Strings, bool Decode, bool StripQuotes) {
  ExtractFieldsOf(Separators, WhiteSpace, StringOf(UpToNul(Content)), Strings, Decode, StripQuotes);
}

void ExtractHTTPFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::u16string_view Content,
                       TStrings& Strings, bool StripQuotes) {
  ExtractFieldsOf(Separators, WhiteSpace, Content, Strings, true, StripQuotes);
}

void ExtractHTTPFields(const TSysCharSet& Separators, const TSysCharSet& WhiteSpace, std::string_view Content,
                       TStrings& Strings, bool StripQuotes) {
  ExtractFieldsOf(Separators, WhiteSpace, StringOf(UpToNul(Content)), Strings, true, StripQuotes);
}

namespace {

template <class Char>
std::basic_string<Char> HeaderSafeText(std::basic_string_view<Char> Value) {
  std::basic_string<Char> r(Value);
  for (Char& c : r) {
    const auto code = static_cast<std::make_unsigned_t<Char>>(c);
    if ((code < 0x20 && c != Char('\t')) || code == 0x7F) c = Char(' ');
  }
  return r;
}

}  // namespace

String HeaderSafe(std::u16string_view Value) { return HeaderSafeText(Value); }

AnsiString HeaderSafe(std::string_view Value) { return HeaderSafeText(Value); }

String HTMLEscape(std::u16string_view Text) {
  String r;
  r.reserve(Text.size());
  for (char16_t c : Text) {
    switch (c) {
      case u'&': r += u"&amp;"; break;
      case u'<': r += u"&lt;"; break;
      case u'>': r += u"&gt;"; break;
      case u'"': r += u"&quot;"; break;
      case u'\'': r += u"&#39;"; break;
      default: r += c;
    }
  }
  return r;
}

AnsiString StatusString(int StatusCode) {
  switch (StatusCode) {
    case 100: return "Continue";
    case 101: return "Switching Protocols";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-Authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Moved Temporarily";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "None Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Unless True";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return {};
  }
}

String MonthStr(TDateTime DateTime) {
  if (!InDateRange(DateTime)) return {};
  int y, m, d;
  DecodeDate(DateTime, y, m, d);
  return m >= 1 && m <= 12 ? String(Months[std::size_t(m)]) : String();
}

String DayOfWeekStr(TDateTime DateTime) {
  if (!InDateRange(DateTime)) return {};
  int d = DayOfWeek(DateTime);
  return d >= 1 && d <= 7 ? String(DaysOfWeek[std::size_t(d)]) : String();
}

String DosPathToUnixPath(std::u16string_view Path) {
  String r(Path);
  for (char16_t& c : r)
    if (c == u'\\') c = u'/';
  return r;
}

}  // namespace tolvane
