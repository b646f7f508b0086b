#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/exception.h>

using namespace tolvane;

namespace {

std::vector<String> Entries(const TStrings& List) {
  std::vector<String> r;
  for (int i = 0; i < List.Count(); ++i) r.push_back(List[i]);
  return r;
}

using TParts = std::tuple<int, int, int, int, int, int>;
TParts PartsOf(TDateTime Date) {
  int y, m, d, h, n, s, ms;
  DecodeDate(Date, y, m, d);
  DecodeTime(Date, h, n, s, ms);
  return {y, m, d, h, n, s};
}

template <class E, class F>
String MessageOf(F&& Call) {
  try {
    Call();
  } catch (const E& e) {
    return e.Message();
  } catch (const Exception& e) {
    return u"wrong class " + e.ClassName() + u": " + e.Message();
  }
  return u"no exception";
}

}  // namespace

TEST(HTTPDecode, DecodesPlusPercentAndEscapes) {
  struct Case { std::string in, out; } cases[] = {
      {"a+b%20c", "a b c"},
      {"100%%", "100%"},
      {"%%41", "%41"},
      {"%41%6a", "Aj"},
      {"caf\xE9", "caf\xE9"},
      {"%00x", std::string("\0x", 2)},
      {std::string("a\0%zz", 5), "a"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HTTPDecode(c.in), c.out) << c.in;
}

TEST(HTTPDecode, ReportsBadEscapesWithTheirPosition) {
  struct Case { std::string in; bool tooShort; String message; } cases[] = {
      {"%4", true, u"Error decoding URL style (%XX) encoded string at position 1"},
      {"ab%", true, u"Error decoding URL style (%XX) encoded string at position 3"},
      {std::string("%4\0" "1", 4), true, u"Error decoding URL style (%XX) encoded string at position 1"},
      {"%G1", false, u"Invalid URL encoded character (%G1) at position 1"},
      {"x=%1G", false, u"Invalid URL encoded character (%1G) at position 3"},
      {"%\xE9\xE9", false, u"Invalid URL encoded character (%\u00E9\u00E9) at position 1"},
  };
  for (const auto& c : cases) {
    auto call = [&] { HTTPDecode(c.in); };
    if (c.tooShort) EXPECT_EQ(MessageOf<ECorvelException>(call), c.message) << c.in;
    else EXPECT_EQ(MessageOf<EConvertError>(call), c.message) << c.in;
  }
}

TEST(HTTPEncode, KeepsTheSafeCharactersAndEscapesTheRest) {
  struct Case { std::string in, out; } cases[] = {
      {"a b&c", "a+b%26c"},
      {"\xC3\x9C", "%C3%9C"},
      {"*@._-$!'()", "*@._-$!'()"},
      {"AZaz09", "AZaz09"},
      {"~/%+", "%7E%2F%25%2B"},
      {"\x01\x7F\xFF", "%01%7F%FF"},
      {std::string("a\0b", 3), "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(HTTPEncode(c.in), c.out) << c.in;
}

TEST(HTTPEncode, DecodingTheEncodingGivesEveryByteBack) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);
  EXPECT_EQ(HTTPDecode(HTTPEncode(all)), all);
}

TEST(Encoding, ContentTypeChoosesUTF8OnlyWithCharsetAndUTF8) {
  struct Case { const char* type; TEncoding encoding; } cases[] = {
      {"TEXT/PLAIN; CHARSET=UTF-8", TEncoding::enUTF8},
      {"charset=utf-8;text/plain", TEncoding::enUTF8},
      {"text/html; charset=utf-8", TEncoding::enUTF8},
      {"utf-8; charset=x", TEncoding::enUTF8},
      {"text/html; charset=utf8", TEncoding::enAnsi},
      {"text/html; charset=iso-8859-1", TEncoding::enAnsi},
      {"text/html; utf-8", TEncoding::enAnsi},
      {"application/x-www-form-urlencoded", TEncoding::enAnsi},
      {"", TEncoding::enAnsi},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodingFromContentType(c.type), c.encoding) << c.type;
}

TEST(Encoding, ConvertsBothWaysByTheContentType) {
  EXPECT_EQ(EncodingGetString("text/plain; charset=utf-8", "\xC3\xA9"), u"\u00E9");
  EXPECT_EQ(EncodingGetString("text/plain", "\xC3\xA9"), u"\u00C3\u00A9");
  EXPECT_EQ(EncodingGetBytes("text/plain; charset=utf-8", u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(EncodingGetBytes("text/plain", u"\u00E9\u20AC\u4E00"), "\xE9\x80?");
}

TEST(ExtractHeaderFields, SplitsQuotesAndDecodes) {
  struct Case {
    const char* separators;
    const char* white;
    String content;
    bool decode, strip;
    std::vector<String> fields;
  } cases[] = {
      {"&", "", u"a=1+2&b=%41&&c", true, false, {u"a=1 2", u"b=A", u"", u"c"}},
      {",", " ", u"a=1, b=\"x,y\", c", false, false, {u"a=1", u"b=\"x,y\"", u"c"}},
      {",", " ", u"a=1, b=\"x,y\", c", false, true, {u"a=1", u"b=x,y", u"c"}},
      {",", " ", u"a=1 , b", false, false, {u"a=1 ", u"b"}},
      {",", " ", u"\"a\", b", false, false, {u"a", u"", u"b"}},
      {",", " ", u"\"\"", false, false, {u""}},
      {",", " ", u"\"open, x", false, false, {u"open, x"}},
      {",", " ", u"a\r\nb", false, false, {u"a", u"b"}},
      {";", " ", String(u"a=1;b=2\0c=3", 11), false, false, {u"a=1", u"b=2"}},
      {",", " ", u"x=\"it's\", 'abc', q=a\"b", false, true, {u"x=it's", u"abc", u"q=ab"}},
      {",", " ", u"x='a\"b'", false, true, {u"x=a\"b"}},
      // Text after an inner quoted part stays in its field.
      {",", " ", u"a=\"x\"y, b", false, false, {u"a=\"x\"y", u"b"}},
      {",", " ", u"a=\"x\"\"y,z\", b", false, true, {u"a=xy,z", u"b"}},
      {",", " ", u"  ", false, false, {}},
      {",", " ", u"", false, false, {}},
      // Characters above 255 are never separators or quotes, whatever their low byte.
      {",", " ", u"a\u012Cb\u0122c, d", false, false, {u"a\u012Cb\u0122c", u"d"}},
  };
  for (const auto& c : cases) {
    TStringList list;
    list.Add(u"kept");
    ExtractHeaderFields(c.separators, c.white, c.content, list, c.decode, c.strip);
    std::vector<String> expected{u"kept"};
    expected.insert(expected.end(), c.fields.begin(), c.fields.end());
    EXPECT_EQ(Entries(list), expected) << AnsiOf(c.content);
  }
}

TEST(ExtractHeaderFields, ANulInTheWhiteSpaceSetStopsAtTheEnd) {
  TStringList list;
  TSysCharSet white(" ");
  white.Include(0);
  ExtractHeaderFields(",", white, u"a, ", list, false);
  EXPECT_EQ(Entries(list), std::vector<String>{u"a"});
}

TEST(ExtractHeaderFields, EightBitTextIsReadInTheAnsiCodePage) {
  TStringList list;
  ExtractHeaderFields(";", " ", std::string("n=caf\xE9; m=%C3%A9"), list, true);
  EXPECT_EQ(Entries(list), (std::vector<String>{u"n=caf\u00E9", u"m=\u00C3\u00A9"}));
}

TEST(ExtractHTTPFields, ADecodingFailureKeepsTheFieldsBeforeIt) {
  TStringList list;
  EXPECT_EQ(MessageOf<ECorvelException>([&] { ExtractHTTPFields("&", "", std::string("a=1&b=%4&c=3"), list); }),
            u"Error decoding URL style (%XX) encoded string at position 3");  // within the field "b=%4"
  EXPECT_EQ(Entries(list), std::vector<String>{u"a=1"});
}

class ParseDateTest : public ::testing::Test {
 protected:
  void SetUp() override { PinCurrentYear(2026); }
  void TearDown() override { PinCurrentYear(0); }
};

TEST_F(ParseDateTest, ReadsTheHTTPAndNumericForms) {
  const TParts nov6{1994, 11, 6, 8, 49, 37};
  struct Case { String text; TParts parts; } cases[] = {
      {u"Sun, 06 Nov 1994 08:49:37 GMT", nov6},
      {u"Sunday, 06-Nov-94 08:49:37 GMT", nov6},
      {u"Sun Nov  6 08:49:37 1994", nov6},
      {u"sun, 06 nov 1994 08:49:37 gmt", nov6},
      {u"SUNDAY,06 NOV 1994 08:49:37", nov6},
      // Two-digit years: 2000 on, unless that is more than 50 years ahead.
      {u"Thursday, 06-Nov-25 08:49:37 GMT", {2025, 11, 6, 8, 49, 37}},
      {u"Friday, 06-Nov-76 08:49:37 GMT", {2076, 11, 6, 8, 49, 37}},
      {u"Saturday, 06-Nov-77 08:49:37 GMT", {1977, 11, 6, 8, 49, 37}},
      {u"Sun, 06 Nov 0094 08:49:37 GMT", {94, 11, 6, 8, 49, 37}},
      // Each value is cut to its low 16 bits: 65542 is day 6.
      {u"Sun, 65542 Nov 1994 08:49:37 GMT", nov6},
      // Before 30 December 1899 the time still reads forward from midnight.
      {u"Thu, 06 Nov 1800 08:49:37 GMT", {1800, 11, 6, 8, 49, 37}},
      // Texts that begin with a number.
      {u"11-x 6 x 94 08:49:37", nov6},
      {u"11-x 6 x 0094 08:49:37", nov6},
      {u"$B-x 6 x 1994 08:49:37", nov6},
      {u"13 x Nov 6 08:49:37 1994", nov6},
  };
  for (const auto& c : cases) EXPECT_EQ(PartsOf(ParseDate(c.text)), c.parts) << AnsiOf(c.text);
}

TEST_F(ParseDateTest, FailsWithTheParserAndConversionErrors) {
  struct Case { String text; bool parser; String message; } cases[] = {
      {u"Foo, 06 Nov 1994 08:49:37 GMT", true, u"Foo is not a valid day"},
      {u"Sun, 06 Xyz 1994 08:49:37 GMT", true, u"Xyz is not a valid month"},
      {u"Sun Xyz 6 08:49:37 1994", true, u"Xyz is not a valid month"},
      {u"", true, u" is not a valid day"},
      {u", 06 Nov 1994", true, u", is not a valid day"},
      {u"Sun, 31 Feb 1994 08:49:37 GMT", false, u"Invalid argument to date encode"},
      {u"Sun, 06 Nov 1994 24:00:00 GMT", false, u"Invalid argument to time encode"},
      {u"Sun, 06 Nov 1994 08:60:00 GMT", false, u"Invalid argument to time encode"},
      {u"06 Nov 1994 08:49:37 GMT", false, u"':' is not a valid integer value"},
      {u"Sun, 06 Nov 1994 08:49", false, u"'' is not a valid integer value"},
      {u"Sun, 06.5 Nov 1994 08:49:37", false, u"'06.5' is not a valid integer value"},
      {u"Sun, 6e1 Nov 1994 08:49:37", false, u"'6e1' is not a valid integer value"},
      {u"Sun, 99999999999 Nov 1994 08:49:37", false, u"'99999999999' is not a valid integer value"},
      {u"Sun, 'six' Nov 1994 08:49:37", false, u"'six' is not a valid integer value"},
      {u"Sun, #54 Nov 1994 08:49:37", false, u"'6' is not a valid integer value"},
      {u"Sun, 'open", false, u"'open' is not a valid integer value"},
      {u"Sun, $ Nov 1994", false, u"'$' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    auto call = [&] { ParseDate(c.text); };
    if (c.parser) EXPECT_EQ(MessageOf<EParserError>(call), c.message) << AnsiOf(c.text);
    else EXPECT_EQ(MessageOf<EConvertError>(call), c.message) << AnsiOf(c.text);
  }
}

TEST(StatusString, AnswersThePhraseOrNothing) {
  struct Case { int code; const char* phrase; } cases[] = {
      {200, "OK"}, {203, "Non-Authoritative Information"}, {302, "Moved Temporarily"}, {406, "None Acceptable"},
      {412, "Unless True"}, {504, "Gateway Timeout"}, {418, ""}, {0, ""}, {-200, ""}, {600, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusString(c.code), c.phrase) << c.code;
}

TEST(DateNames, MonthAndDayAreEnglishAndSafeOutOfRange) {
  struct Case { TDateTime date; const char16_t* month; const char16_t* day; } cases[] = {
      {EncodeDate(1994, 11, 6) + 0.99, u"Nov", u"Sun"},
      {EncodeDate(2000, 2, 29), u"Feb", u"Tue"},
      {0.0, u"Dec", u"Sat"},
      {EncodeDate(1, 1, 1), u"Jan", u"Mon"},
      {EncodeDate(9999, 12, 31) + 0.5, u"Dec", u"Fri"},
      // The range holds for the date as written, rounded to milliseconds: a
      // date that rounds into the year 10000 or back before the year 1 has
      // no name.
      {EncodeDate(9999, 12, 31) + 1 - 0.6 / 86400000, u"Dec", u"Fri"},
      {EncodeDate(9999, 12, 31) + 1 - 0.4 / 86400000, u"", u""},
      {std::nextafter(EncodeDate(9999, 12, 31) + 1, 0.0), u"", u""},
      {EncodeDate(9999, 12, 31) + 1, u"", u""},
      {std::nextafter(EncodeDate(1, 1, 1) - 1, 0.0), u"", u""},
      {-1e6, u"", u""},
      {1e18, u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MonthStr(c.date), c.month) << c.date;
    EXPECT_EQ(DayOfWeekStr(c.date), c.day) << c.date;
  }
}

// A header name or value may not end its line early (CR, LF) or the whole
// zero-terminated block (NUL).
TEST(HeaderSafe, TurnsControlCharactersIntoSpaces) {
  struct Case { std::string in, out; } cases[] = {
      {"plain value", "plain value"},
      {"a\r\nSet-Cookie: admin=1", "a  Set-Cookie: admin=1"},
      {std::string("cut\0off", 7), "cut off"},
      {"tab\tstays", "tab\tstays"},
      {"\x01\x1F\x7F", "   "},
      {"\xE9\x85", "\xE9\x85"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HeaderSafe(c.in), c.out);
    EXPECT_EQ(HeaderSafe(StringOf(c.in)), StringOf(c.out));
  }
  EXPECT_EQ(HeaderSafe(u"\u2028\u0085"), u"\u2028\u0085");  // no line end in a header block
}

TEST(HTMLEscape, EscapesTheFiveMarkupCharacters) {
  struct Case { const char16_t *in, *out; } cases[] = {
      {u"plain", u"plain"},
      {u"<script>alert(1)</script>", u"&lt;script&gt;alert(1)&lt;/script&gt;"},
      {u"a&b \"q\" 'r'", u"a&amp;b &quot;q&quot; &#39;r&#39;"},
      {u"&amp;", u"&amp;amp;"},
      {u"\u00E9\u4E00 100%", u"\u00E9\u4E00 100%"},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(HTMLEscape(c.in), c.out);
}

TEST(DosPathToUnixPath, TurnsEveryBackslash) {
  EXPECT_EQ(DosPathToUnixPath(u"\\a\\b"), u"/a/b");
  EXPECT_EQ(DosPathToUnixPath(u"C:\\x/y\\\\"), u"C:/x/y//");
}
