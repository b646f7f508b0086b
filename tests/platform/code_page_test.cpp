// Code-page conversion and comparison cases where a system's own rules could
// differ from what the library relies on.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include <tolvane/platform/code_page.h>

using namespace tolvane::platform;
using namespace std::string_literals;

TEST(CodePage, TheTestsRunUnderWindows1252) {
  // The Windows test runner pins the locale so that Wine picks this page.
  EXPECT_EQ(AnsiCodePage(), 1252u);
}

// No look-alike: characters that a "best fit" would turn into ASCII
// punctuation or letters become "?".
TEST(CodePage, CharactersOutsideTheAnsiPageNeverBecomeLookAlikes) {
  const struct {
    std::u16string Text;
    std::string Bytes;
  } Cases[] = {
      {u"\uFF0F..\uFF0Fetc", "?..?etc"},     // fullwidth solidus
      {u"\uFF1Cscript\uFF1E", "?script?"},  // fullwidth angle brackets
      {u"\u2032\u02BC\uFF02", "???"},        // prime, modifier apostrophe, fullwidth quote
      {u"\u0100\u0131\u2215", "???"},        // A with macron, dotless i, division slash
      {u"\u00E9\u20AC\u0178", "\xE9\x80\x9F"},
  };
  for (const auto& Case : Cases) EXPECT_EQ(WideToMultiByte(TCodePage::cpAnsi, Case.Text), Case.Bytes);
}

// Text converts the same wherever its plain ASCII part ends: all of it, none
// of it, up to a character just past ASCII, a surrogate pair or a zero.
TEST(CodePage, ConversionIsTheSameWhereverThePlainAsciiEnds) {
  const struct {
    std::u16string Text;
    std::optional<std::string> Ansi;  // none where systems may differ
    std::string UTF8;
  } Cases[] = {
      {u"", "", ""},
      {u"<html>OK</html>\u007F", "<html>OK</html>\x7F", "<html>OK</html>\x7F"},
      {u"a\0b"s, "a\0b"s, "a\0b"s},
      {u"\u0080", std::nullopt, "\xC2\x80"},
      {u"caf\u00E9 au lait", "caf\xE9 au lait", "caf\xC3\xA9 au lait"},
      {u"\u00E9t\u00E9", "\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},
      {u"x\U0001F600y", std::nullopt, "x\xF0\x9F\x98\x80y"},
      {u"x\xD800y", std::nullopt, "x\xEF\xBF\xBDy"},  // a lone surrogate
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.UTF8);
    if (Case.Ansi) {
      EXPECT_EQ(WideToMultiByte(TCodePage::cpAnsi, Case.Text), *Case.Ansi);
    }
    EXPECT_EQ(WideToMultiByte(TCodePage::cpUTF8, Case.Text), Case.UTF8);
  }
}

TEST(CodePage, TextsEqualIgnoringCaseAreExactlyThoseThatDifferOnlyInCase) {
  constexpr int kDiffer = 2;  // different, in an order that depends on the system
  const struct {
    std::u16string A, B;
    int Sign;
  } Cases[] = {
      {u"", u"", 0},
      {u"", u"a", -1},
      {u"\u00E9t\u00E9", u"\u00C9T\u00C9", 0},
      {u"Content-Type", u"CONTENT-TYPE", 0},
      {u"\u03A3\u03B1", u"\u03C3\u0391", 0},
      {u"abc", u"abd", -1},
      {u"ab", u"abc", -1},
      // Characters a locale may pass over still make texts different.
      {u"ab", u"a\u00ADb", kDiffer},
      {u"ab", u"a\0b"s, kDiffer},
      {u"ab", u"ab\0"s, -1},
      {u"co-op", u"coop", kDiffer},
      {u"stra\u00DFe", u"STRASSE", kDiffer},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(WideToMultiByte(TCodePage::cpUTF8, Case.A) + " / " + WideToMultiByte(TCodePage::cpUTF8, Case.B));
    const int AB = CompareTextLocale(Case.A, Case.B), BA = CompareTextLocale(Case.B, Case.A);
    EXPECT_EQ(AB == 0, Case.Sign == 0);
    if (Case.Sign != kDiffer) {
      EXPECT_EQ((AB > 0) - (AB < 0), Case.Sign);
    }
    EXPECT_EQ(BA < 0, AB > 0) << "the order is not symmetric";
    EXPECT_EQ(BA == 0, AB == 0);
  }
}
