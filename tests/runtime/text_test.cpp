#include <gtest/gtest.h>

#include <tolvane/runtime/exception.h>
#include <tolvane/runtime/format.h>
#include <tolvane/runtime/system_string.h>

using namespace tolvane;

TEST(AnsiCodePage, DecodesEveryByteAsWindows1252) {
  struct Case { std::string bytes; String text; } cases[] = {
      {"abc", u"abc"},
      {"\x80", u"\u20AC"},
      {"\x81\x8D\x8F\x90\x9D", u"\u0081\u008D\u008F\u0090\u009D"},  // undefined bytes keep their value
      {"\x9F\xE9\xFF", u"\u0178\u00E9\u00FF"},
      {std::string("a\0b", 3), String(u"a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StringOf(c.bytes), c.text);
    EXPECT_EQ(AnsiOf(c.text), c.bytes);
  }
}

TEST(AnsiCodePage, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(AnsiOf(u"\u0100x\u4E2D"), "?x?");
  EXPECT_EQ(AnsiOf(u"\U0001F600"), "?");          // a surrogate pair is one character
  EXPECT_EQ(AnsiOf(String(1, char16_t(0xD800)) + u"a" + String(1, char16_t(0xDC00))), "?a?");
}

TEST(UTF8, RoundTripsAndReplacesMalformedInput) {
  String text = u"h\u00E9\u4E2D\U0001F600";
  EXPECT_EQ(UTF8Encode(text), "h\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(UTF8ToString(UTF8Encode(text)), text);
  struct Case { std::string bytes; String text; } cases[] = {
      {"\xC3", u"\uFFFD"},                 // truncated sequence
      {"\xC3(", u"\uFFFD("},
      {"\xC0\xAF", u"\uFFFD\uFFFD"},       // overlong form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xFF", u"\uFFFD"},
      {"\xE4\xB8", u"\uFFFD"},
  };
  for (const auto& c : cases) EXPECT_EQ(UTF8ToString(c.bytes), c.text) << c.bytes;
  EXPECT_EQ(UTF8Encode(String(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(CaseFolding, LocaleAwareComparisonFoldsBeyondAscii) {
  EXPECT_TRUE(SameText(u"\u00E9t\u00E9", u"\u00C9T\u00C9"));
  EXPECT_TRUE(SameText(u"Content-Type", u"content-type"));
  EXPECT_FALSE(SameText(u"abc", u"abd"));
  EXPECT_FALSE(SameText(u"ab", u"abc"));
  EXPECT_LT(CompareText(u"a", u"B"), 0);
  EXPECT_FALSE(SameTextAscii(u"\u00E9", u"\u00C9"));
  EXPECT_TRUE(SameTextAscii(std::string_view("GeT"), std::string_view("get")));
  EXPECT_EQ(UpperCaseAscii(std::string_view("a\xE9z")), "A\xE9Z");
}

TEST(Format, Directives) {
  EXPECT_EQ(Format(u"Error decoding URL style (%%XX) encoded string at position %d", {3}),
            u"Error decoding URL style (%XX) encoded string at position 3");
  EXPECT_EQ(Format(u"%s=%s; ", {String(u"a"), String(u"b")}), u"a=b; ");
  EXPECT_EQ(Format(u"%1:s-%0:s-%s", {String(u"x"), String(u"y")}), u"y-x-y");
  EXPECT_EQ(Format(u"[%5d|%-3s|%.2d|%x]", {-42, String(u"a"), 7, 255}), u"[  -42|a  |07|FF]");
  EXPECT_EQ(Format(u"%s", {std::string("\xE9")}), u"\u00E9");
}

TEST(Format, MismatchedArgumentsRaiseConvertError) {
  for (const char16_t* fmt : {u"%d", u"%s %s", u"%q", u"abc%"}) {
    try {
      Format(fmt, {String(u"x")});
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), u"Format '" + String(fmt) + u"' invalid or incompatible with argument");
    }
  }
}

TEST(Exceptions, AnswerTheirRealClassNameAndMessage) {
  try {
    throw EReadError(u"Stream read error");
  } catch (const Exception& e) {
    EXPECT_EQ(e.ClassName(), u"EReadError");
    EXPECT_TRUE(e.InheritsFrom(EStreamError::StaticClass()));
    EXPECT_FALSE(e.InheritsFrom(EConvertError::StaticClass()));
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_EQ(ECorvelException(u"%s is %d", {String(u"x"), 1}).Message(), u"x is 1");
}
