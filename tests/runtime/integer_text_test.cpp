#include <gtest/gtest.h>

#include <tolvane/runtime/exception.h>
#include <tolvane/runtime/integer_text.h>

using namespace tolvane;

TEST(StrToInt, ReadsDecimalAndHexadecimalForms) {
  struct Case { String text; int value; } cases[] = {
      {u"0", 0},
      {u"42", 42},
      {u"   42", 42},
      {u"+7", 7},
      {u"-7", -7},
      {u"2147483647", 2147483647},
      {u"-2147483648", -2147483647 - 1},
      {u"$1F", 31},
      {u"x1f", 31},
      {u"X10", 16},
      {u"0x10", 16},
      {u"0XfF", 255},
      {u"-$10", -16},
      {u"$FFFFFFFF", -1},
      {u"$80000000", -2147483647 - 1},
      {u"007", 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(AnsiOf(c.text));
    EXPECT_EQ(StrToInt(c.text), c.value);
  }
}

TEST(StrToInt, RefusesTextThatIsNoIntegerWithTheConversionMessage) {
  const String cases[] = {u"", u" ", u"-", u"abc", u"12a", u"42 ", u"4 2", u"1.5", u"$", u"0x", u"$G",
                          u"2147483648", u"-2147483649", u"$100000000", u"99999999999999999999", u"\t1"};
  for (const auto& text : cases) {
    SCOPED_TRACE(AnsiOf(text));
    int value = 123;
    EXPECT_FALSE(TryStrToInt(text, value));
    EXPECT_EQ(value, 123);
    try {
      StrToInt(text);
      ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), u"'" + text + u"' is not a valid integer value");
    }
  }
}
