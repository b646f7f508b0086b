#include <tolvane/dispatch/mask.h>

#include <tolvane/runtime/exception.h>

namespace tolvane {

TV_DEFINE_CLASS(TMask, TObject);

namespace {

bool IsSurrogate(char16_t C) { return C >= 0xD800 && C <= 0xDFFF; }

[[noreturn]] void InvalidMask(const String& Mask, std::size_t Position) {
  throw EMaskException(u"'%s' is an invalid mask at (%d)", {Mask, static_cast<unsigned long>(Position)});
}

// Every character from Low to High inclusive, each by its low byte.
void AddRange(TMaskSet& Set, char16_t Low, char16_t High) {
  if (High < Low) return;
  if (High - Low >= 255) {
    Set.set();
    return;
  }
  for (unsigned C = Low; C <= High; ++C) Set.set(C & 0xFF);
}

// Reads the set whose "[" is at Mask[Start] into State; answers the index of
// its closing "]".
std::size_t ScanSet(const String& Mask, std::size_t Start, TMaskState& State) {
  const std::size_t Length = Mask.size();
  auto Set = std::make_unique<TMaskSet>();
  std::size_t P = Start + 1;
  bool Negate = false;
  if (P < Length && Mask[P] == u'!') {
    Negate = true;
    ++P;
  }
  bool HaveLast = false;
  char16_t Last = 0;
  while (P < Length && Mask[P] != u']') {
    const char16_t C = Mask[P];
    if (IsSurrogate(C)) {
      // A pair is passed over whole; a lone lead at the very end has no partner to take.
      if (P + 1 >= Length) InvalidMask(Mask, Length + 1);
      P += 2;
    } else if (C == u'-') {
      if (!HaveLast) InvalidMask(Mask, P + 1);
      if (P + 1 >= Length) InvalidMask(Mask, Length + 1);
      // The range end is taken whatever it is, "]" included; the start stays remembered.
      AddRange(*Set, Last, UpCaseAscii(Mask[P + 1]));
      P += 2;
    } else {
      Last = UpCaseAscii(C);
      HaveLast = true;
      Set->set(Last & 0xFF);
      ++P;
    }
  }
  if (P >= Length) InvalidMask(Mask, Length + 1);
  if (Set->none()) InvalidMask(Mask, P + 1);
  State.State = msSet;
  State.Negate = Negate;
  State.CharSet = std::move(Set);
  return P;
}

// One state's own test at text position P; Final marks the end-of-text step.
// Nothing past the end of the text is read: a step that needs a character
// fails there.
bool TestState(const TMaskState& State, bool Final, const String& Text, std::size_t P) {
  const std::size_t Length = Text.size();
  switch (State.State) {
    case msLiteral:
      if (Final) return P == Length;
      return P < Length && UpCaseAscii(Text[P]) == State.Literal;
    case msAny:
      return P < Length;
    case msSet: {
      if (P >= Length) return false;
      const char16_t C = UpCaseAscii(Text[P]);
      const bool Member = C <= 0xFF && State.CharSet->test(C);
      return Member != State.Negate;
    }
    case msMBCSLiteral:
      return P + 1 < Length && Text[P] == State.LeadByte && Text[P + 1] == State.TrailByte;
  }
  return false;
}

}  // namespace

TMask::TMask(const String& MaskValue) { InitMaskStates(MaskValue); }

// One pass into a growing list. A mask may carry both a syntax fault and too
// many "*" steps; the syntax fault is the one reported, wherever it stands, so
// the limit is only raised once the whole mask has been read.
void TMask::InitMaskStates(const String& Mask) {
  const std::size_t Length = Mask.size();
  bool SkipTo = false;
  int Cards = 0;
  std::size_t TooManyAt = 0;
  auto Write = [&](TMaskState&& State, std::size_t Position) {
    State.SkipTo = SkipTo;
    if (SkipTo && ++Cards > MaxCards && TooManyAt == 0) TooManyAt = Position;
    SkipTo = false;
    FMaskStates.push_back(std::move(State));
  };
  std::size_t I = 0;
  while (I < Length) {
    const char16_t C = Mask[I];
    TMaskState State;
    if (C == u'*') {
      SkipTo = true;
    } else if (C == u'?') {
      // "*?" is "*": the "?" is dropped, so the star may still match nothing.
      if (!SkipTo) {
        State.State = msAny;
        Write(std::move(State), I + 1);
      }
    } else if (C == u'[') {
      I = ScanSet(Mask, I, State);
      Write(std::move(State), I + 1);
    } else if (IsSurrogate(C)) {
      if (I + 1 >= Length) InvalidMask(Mask, Length + 1);
      State.State = msMBCSLiteral;
      State.LeadByte = C;
      State.TrailByte = Mask[I + 1];
      Write(std::move(State), I + 1);
      ++I;
    } else {
      State.Literal = UpCaseAscii(C);
      Write(std::move(State), I + 1);
    }
    ++I;
  }
  Write(TMaskState{}, Length + 1);
  if (TooManyAt != 0) InvalidMask(Mask, TooManyAt);
}

// Runs the states over the text; on a failure it resumes only from the most
// recent "*" step, one character further on. Moving an earlier "*" could only
// start every later step further right, and the later "*" can already absorb
// that stretch, so nothing is lost, and a match costs at most about text
// length times mask length steps instead of growing with the power of the
// number of stars.
bool TMask::MatchesMaskStates(const String& Filename) const {
  const std::size_t Length = Filename.size();
  const std::size_t Count = FMaskStates.size();
  const std::size_t Last = Count - 1;
  std::size_t P = 0;
  std::size_t I = 0;
  bool CanResume = false;
  std::size_t ResumeP = 0;
  std::size_t ResumeI = 0;
  for (;;) {
    for (; I < Count; ++I) {
      const TMaskState& State = FMaskStates[I];
      const bool Final = I == Last;
      if (State.SkipTo) {
        if (Final) {
          P = Length;
        } else {
          while (P < Length && !TestState(State, false, Filename, P)) ++P;
        }
        // Only the latest star's next position is ever worth retrying.
        CanResume = P < Length;
        ResumeP = P + 1;
        ResumeI = I;
      }
      if (!TestState(State, Final, Filename, P)) break;
      P += State.State == msMBCSLiteral ? 2 : 1;
    }
    if (I == Count) return true;
    if (!CanResume) return false;
    P = ResumeP;
    I = ResumeI;
    CanResume = false;
  }
}

}  // namespace tolvane
