#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <tolvane/dispatch/mask.h>
#include "dispatch/reference_mask.h"
#include <tolvane/runtime/exception.h>

using namespace tolvane;

namespace {

String Repeat(std::u16string_view Piece, int Times) {
  String S;
  for (int I = 0; I < Times; ++I) S += Piece;
  return S;
}

String Printable(const String& S) {
  std::string Out;
  for (char16_t C : S) {
    if (C >= 0x20 && C < 0x7F) {
      Out += char(C);
    } else {
      char Buf[12];
      std::snprintf(Buf, sizeof Buf, "\\x%04X", unsigned(C));
      Out += Buf;
    }
  }
  return AsciiToString(Out);
}

// The position an invalid mask is rejected at, after checking the message; 0
// when the mask compiles.
int RejectedAt(const String& Mask) {
  try {
    TMask M(Mask);
    return 0;
  } catch (const EMaskException& E) {
    const String Prefix = u"'" + Mask + u"' is an invalid mask at (";
    EXPECT_EQ(E.ClassName(), u"EMaskException");
    EXPECT_EQ(E.Message().substr(0, Prefix.size()), Prefix) << UTF8Encode(Printable(Mask));
    EXPECT_EQ(E.Message().back(), u')');
    return std::stoi(UTF8Encode(E.Message().substr(Prefix.size())));
  }
}

}  // namespace

TEST(Mask, MatchesWholeTexts) {
  struct Case {
    String mask, text;
    bool matches;
  } cases[] = {
      {u"", u"", true},
      {u"", u"a", false},
      {u"*", u"", true},
      {u"*", u"/any/path.html", true},
      {u"***", u"x", true},
      {u"/", u"/", true},
      {u"/", u"/x", false},
      {u"/abc", u"/ABC", true},
      {u"/abc", u"/aBc", true},
      {u"/ABC", u"/abc", true},
      {u"/abc", u"/ab", false},
      {u"\u00E9", u"\u00C9", false},  // only a-z fold
      {u"\u00E9", u"\u00E9", true},
      {u"a*?", u"a", true},  // the "?" after "*" is dropped
      {u"a?", u"a", false},
      {u"a?", u"ab", true},
      {u"?", u"\xD83D\xDE00", false},  // a pair is two characters
      {u"??", u"\xD83D\xDE00", true},
      {u"*.html", u"/x/y.html", true},
      {u"*.html", u".html", true},
      {u"*.html", u"/y.htm", false},
      {u"*.html", u"/a.html.html", true},
      {u"a*bc", u"abxbc", true},  // the first "b" is the wrong one
      {u"a*b*c", u"abbbxc", true},
      {u"a*b*c", u"acb", false},
      {u"/customers/*/orders", u"/customers/17/orders", true},
      {u"/customers/*/orders", u"/customers/17/orders/2", false},
      {u"]!-", u"]!-", true},  // ordinary characters outside a set
      {u"\xD83D\xDE00*", u"\xD83D\xDE00x", true},
      {u"*\xD83D\xDE00", u"a\xD83D\xD83D\xDE00", true},
      {u"*\xD83D\xDE00", u"a\xD83D\xDE01", false},
      {u"\xD83D\xDE00", u"\xD83D", false},
  };
  for (const auto& c : cases) {
    TMask M(c.mask);
    EXPECT_EQ(M.Matches(c.text), c.matches) << UTF8Encode(Printable(c.mask)) << " / " << UTF8Encode(Printable(c.text));
  }
}

TEST(Mask, MatchesSets) {
  struct Case {
    String mask, text;
    bool matches;
  } cases[] = {
      {u"[!a-c]x", u"dx", true},
      {u"[!a-c]x", u"Dx", true},
      {u"[!a-c]x", u"bx", false},
      {u"[!a-c]x", u"Bx", false},
      {u"[a-c-e]", u"d", true},
      {u"[a-c-e]", u"f", false},
      {u"[z-a]", u"z", true},
      {u"[z-a]", u"m", false},
      {u"[^a]", u"^", true},
      {u"[^a]", u"A", true},
      {u"[^a]", u"b", false},
      {u"[abc]", u"\u0141", false},  // above 255: never a member
      {u"[!abc]", u"\u0141", true},
      {u"[\u0141]", u"A", true},     // a member is recorded by its low byte
      {u"[\u0141]", u"\u0141", false},
      {u"[a!]", u"!", true},
      {u"[a[]", u"[", true},
      {u"[a-]]", u"]", true},        // "]" ends the range, the second "]" closes
      {u"[\xD83D\xDE00x]", u"x", true},  // a pair inside a set is passed over
      {u"[\xD83D\xDE00x]", u"\xD83D", false},
      {u"[!x]", u"", false},          // a set needs a character even when negated
      {u"a[!x]", u"a", false},
      {u"*[0-9]", u"/order/7", true},
      {u"*[0-9]", u"/order/x", false},
  };
  for (const auto& c : cases) {
    TMask M(c.mask);
    EXPECT_EQ(M.Matches(c.text), c.matches) << UTF8Encode(Printable(c.mask)) << " / " << UTF8Encode(Printable(c.text));
  }
}

// A NUL is an ordinary character; the end of a text is its length, never a NUL.
TEST(Mask, NulIsAnOrdinaryCharacter) {
  const String Nul(1, u'\0');
  struct Case {
    String mask, text;
    bool matches;
  } cases[] = {
      {u"a" + Nul + u"b", u"a" + Nul + u"b", true},
      {u"a" + Nul, u"a", false},
      {u"a" + Nul, u"a" + Nul, true},
      {u"ab", u"ab" + Nul, false},
      {u"ab*", u"ab" + Nul, true},
      {u"*" + Nul, u"xyz" + Nul, true},
      {u"*" + Nul, u"xyz", false},
      {u"?", Nul, true},
      {u"[!a]", Nul, true},
      {u"[a" + Nul + u"]", Nul, true},
      {u"[a" + Nul + u"]", u"", false},
  };
  for (const auto& c : cases) {
    TMask M(c.mask);
    EXPECT_EQ(M.Matches(c.text), c.matches) << UTF8Encode(Printable(c.mask)) << " / " << UTF8Encode(Printable(c.text));
  }
}

TEST(Mask, CompilesIntoStates) {
  TMask M(u"*a?[!b-d]\xD83D\xDE00*?");
  const auto& S = M.MaskStates();
  ASSERT_EQ(S.size(), 5u);
  EXPECT_TRUE(S[0].SkipTo);
  EXPECT_EQ(S[0].State, msLiteral);
  EXPECT_EQ(S[0].Literal, u'A');
  EXPECT_FALSE(S[1].SkipTo);
  EXPECT_EQ(S[1].State, msAny);
  EXPECT_EQ(S[2].State, msSet);
  EXPECT_TRUE(S[2].Negate);
  TMaskSet Expected;
  Expected.set('B').set('C').set('D');
  EXPECT_EQ(*S[2].CharSet, Expected);
  EXPECT_EQ(S[3].State, msMBCSLiteral);
  EXPECT_EQ(S[3].LeadByte, u'\xD83D');
  EXPECT_EQ(S[3].TrailByte, u'\xDE00');
  EXPECT_FALSE(S[3].SkipTo);
  // "*?" at the end: the "?" is dropped and the end step takes the star.
  EXPECT_EQ(S[4].State, msLiteral);
  EXPECT_EQ(S[4].Literal, 0);
  EXPECT_TRUE(S[4].SkipTo);

  // A range to a character far above the start marks every low byte.
  TMask Wide(u"[a-\u0142]");
  EXPECT_TRUE(Wide.MaskStates()[0].CharSet->all());
}

TEST(Mask, RejectsInvalidMasksAtTheirPosition) {
  struct Case {
    String mask;
    int position;
  } cases[] = {
      {u"[]", 2},
      {u"[!]", 3},
      {u"[-a]", 2},
      {u"[!-a]", 3},
      {u"[abc", 5},
      {u"[a-]", 5},   // the "]" is the range end, so the set never closes
      {u"[", 2},
      {u"[!", 3},
      {u"x[\xD83D\xDE00]", 5},  // no member: reported at the "]"
      {u"/a[b", 5},
      // Nothing past the end of the mask is read: a lone surrogate or a "-"
      // with nothing after it rejects the mask at its length plus one.
      {u"a\xD83D", 3},
      {u"\xDE00", 2},
      {u"[a\xD83D", 4},
      {u"[a\xD83D]", 5},   // the "]" is taken as the pair's second half
      {u"[a-", 4},
      {u"[!a-", 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RejectedAt(c.mask), c.position) << UTF8Encode(Printable(c.mask));
  }
  try {
    TMask M(u"[]");
    FAIL();
  } catch (const EMaskException& E) {
    EXPECT_EQ(E.Message(), u"'[]' is an invalid mask at (2)");
  }
}

TEST(Mask, LimitsStepsAfterAStar) {
  const String Thirty = Repeat(u"*a", 30);
  EXPECT_EQ(RejectedAt(Thirty), 0);
  EXPECT_EQ(RejectedAt(Thirty + u"b"), 0);  // a step without a star is free
  EXPECT_EQ(RejectedAt(Thirty + u"*a"), 62);  // the 31st "a"
  EXPECT_EQ(RejectedAt(Thirty + u"*"), 62);   // the end step, after the 61st character
  EXPECT_EQ(RejectedAt(Repeat(u"*a", 29) + u"*[xy]"), 0);
  EXPECT_EQ(RejectedAt(Thirty + u"*[xy]"), 65);  // a set counts at its "]"
  EXPECT_EQ(RejectedAt(Thirty + u"*\xD83D\xDE00"), 62);  // a pair counts at its first half
  // A fault in the mask's syntax is reported before the limit, wherever it stands.
  EXPECT_EQ(RejectedAt(Thirty + u"*a*a[]"), 66);
  EXPECT_EQ(RejectedAt(Thirty + u"*a" + u"\xD83D"), 64);

  TMask M(Thirty);
  EXPECT_TRUE(M.Matches(Repeat(u"xa", 30)));
  EXPECT_FALSE(M.Matches(Repeat(u"xa", 29)));
}

// A client chooses the path: a mask full of stars against a long path of one
// letter must still answer at once (a matcher that retries every earlier star
// would not finish here).
TEST(Mask, LongPathsAgainstManyStarsStayFast) {
  TMask Few(u"*a*a*a*a*a*ab");
  EXPECT_FALSE(Few.Matches(Repeat(u"a", 96)));
  EXPECT_TRUE(Few.Matches(Repeat(u"a", 96) + u"b"));

  TMask Many(Repeat(u"*a", 29) + u"b");
  const String Path = Repeat(u"a", 4000);
  EXPECT_FALSE(Many.Matches(Path));
  EXPECT_TRUE(Many.Matches(Path + u"b"));
  EXPECT_FALSE(Many.Matches(Repeat(u"a", 28) + u"b"));
}

namespace {

// Random masks and texts over a small alphabet that still reaches every kind
// of step: letters of both cases, characters above 255 (one whose low byte is
// a letter), NUL, surrogate pairs and lone halves, sets with "!" and ranges.
class TMaskGenerator {
 public:
  explicit TMaskGenerator(unsigned Seed) : FRandom(Seed) {}

  String Mask() {
    String M;
    const int Length = Below(9);
    for (int I = 0; I < Length; ++I) {
      switch (Below(10)) {
        case 0:
        case 1:
          M += u'*';
          break;
        case 2:
          M += u'?';
          break;
        case 3:
          M += Set();
          break;
        default:
          M += Char();
      }
    }
    return M;
  }

  // A text shaped after the mask half of the time, so that matches are common.
  String TextFor(const String& Mask) {
    if (Below(2) == 0) return Random(Below(10));
    String T;
    for (std::size_t I = 0; I < Mask.size(); ++I) {
      const char16_t C = Mask[I];
      if (C == u'*') {
        T += Random(Below(4));
      } else if (C == u'?') {
        T += Random(1);
      } else if (C == u'[') {
        while (I < Mask.size() && Mask[I] != u']') ++I;
        T += Random(1);
      } else if (Below(8) == 0) {
        T += Random(1);
      } else {
        T += C >= u'a' && C <= u'z' && Below(2) == 0 ? char16_t(C - 32) : C;
      }
    }
    return T;
  }

 private:
  int Below(int N) { return std::uniform_int_distribution<int>(0, N - 1)(FRandom); }

  char16_t Char() {
    static const char16_t Alphabet[] = {u'a', u'A', u'b', u'B', u'c', u'^', u'-', u'!', u']',
                                        u'\0', u'\u00E9', u'\u00C9', u'\u0141', u'\u0161',
                                        u'\xD83D', u'\xDE00', u'\xDE01'};
    return Alphabet[Below(sizeof Alphabet / sizeof Alphabet[0])];
  }

  String Random(int Length) {
    String S;
    for (int I = 0; I < Length; ++I) S += Char();
    return S;
  }

  String Set() {
    String S = u"[";
    if (Below(3) == 0) S += u'!';
    const int Members = 1 + Below(3);
    for (int I = 0; I < Members; ++I) {
      S += Char();
      if (Below(3) == 0) {
        S += u'-';
        S += Char();
      }
    }
    if (Below(10) != 0) S += u']';
    return S;
  }

  std::mt19937 FRandom;
};

}  // namespace

// The library resumes only from the latest star; a matcher that backtracks
// through every star must agree with it on every mask and text.
TEST(Mask, AgreesWithFullBacktracking) {
  TMaskGenerator Generate(20261210);
  int Compiled = 0, Matched = 0, Failed = 0;
  for (int Round = 0; Round < 40000; ++Round) {
    const String MaskText = Generate.Mask();
    std::unique_ptr<TMask> M;
    try {
      M = std::make_unique<TMask>(MaskText);
    } catch (const EMaskException&) {
      continue;
    }
    ++Compiled;
    for (int T = 0; T < 6; ++T) {
      const String Text = Generate.TextFor(MaskText);
      const bool Expected = reference::Matches(M->MaskStates(), Text);
      (Expected ? Matched : Failed)++;
      ASSERT_EQ(M->Matches(Text), Expected)
          << UTF8Encode(Printable(MaskText)) << " / " << UTF8Encode(Printable(Text));
    }
  }
  // The generator must reach both answers often, or the comparison proves little.
  EXPECT_GT(Compiled, 20000);
  EXPECT_GT(Matched, 20000);
  EXPECT_GT(Failed, 20000);
}

// A compiled mask is shared by the requests a module serves in turn and may be
// matched from several threads at once; matching keeps its state to itself.
TEST(Mask, MatchesFromSeveralThreadsAtOnce) {
  const TMask M(u"/customers/*/orders/[0-9]*");
  std::vector<std::thread> Threads;
  std::atomic<int> Wrong{0};
  for (int T = 0; T < 4; ++T) {
    Threads.emplace_back([&, T] {
      for (int I = 0; I < 2000; ++I) {
        const String Id = AsciiToString(std::to_string(T * 10000 + I));
        if (!M.Matches(u"/customers/" + Id + u"/orders/" + Id)) ++Wrong;
        if (M.Matches(u"/customers/" + Id + u"/orders/x" + Id)) ++Wrong;
      }
    });
  }
  for (auto& Thread : Threads) Thread.join();
  EXPECT_EQ(Wrong.load(), 0);
}
