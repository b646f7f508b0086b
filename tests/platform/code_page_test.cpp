// Code-page conversion and comparison cases where a system's own rules could
// differ from what the library relies on.
#include <gtest/gtest.h>

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
