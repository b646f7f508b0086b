#pragma once
// A deliberately plain matcher over TMask's compiled states: it backtracks
// through every earlier "*" with a 30-entry stack, the slow way, so that the
// library's single-resume matcher can be checked against it answer for answer.
// Exponential in the number of stars: use it on small masks and texts only.
#include <array>
#include <cstddef>
#include <cstdlib>
#include <vector>

#include <tolvane/dispatch/mask.h>

namespace tolvane::reference {

inline char16_t Upper(char16_t C) { return C >= u'a' && C <= u'z' ? char16_t(C - u'a' + u'A') : C; }

// The state's own test at P; a step needing a character fails at the end.
inline bool TestAt(const std::vector<TMaskState>& States, std::size_t I, const String& Text, std::size_t P) {
  const TMaskState& S = States[I];
  const std::size_t N = Text.size();
  switch (S.State) {
    case msLiteral:
      if (I + 1 == States.size()) return P == N;
      return P < N && Upper(Text[P]) == S.Literal;
    case msAny:
      return P < N;
    case msSet:
      if (P >= N) return false;
      if (Upper(Text[P]) > 255) return S.Negate;
      return S.CharSet->test(Upper(Text[P])) != S.Negate;
    case msMBCSLiteral:
      return P + 1 < N && Text[P] == S.LeadByte && Text[P + 1] == S.TrailByte;
  }
  std::abort();
}

inline bool Matches(const std::vector<TMaskState>& States, const String& Text) {
  struct TStackRec {
    std::size_t sP;
    std::size_t sI;
  };
  std::array<TStackRec, TMask::MaxCards> Stack;
  std::size_t Top = 0;
  const std::size_t N = Text.size();

  auto Run = [&](std::size_t P, std::size_t Start) {
    for (std::size_t I = Start; I < States.size(); ++I) {
      if (States[I].SkipTo) {
        while (P < N && !TestAt(States, I, Text, P)) ++P;
        if (P < N) {
          if (Top == Stack.size()) std::abort();  // the stack can never need more
          Stack[Top++] = {P + 1, I};
        }
      }
      if (!TestAt(States, I, Text, P)) return false;
      P += States[I].State == msMBCSLiteral ? 2 : 1;
    }
    return true;
  };

  if (Run(0, 0)) return true;
  while (Top > 0) {
    const TStackRec E = Stack[--Top];
    if (Run(E.sP, E.sI)) return true;
  }
  return false;
}

}  // namespace tolvane::reference
