#pragma once
// TMask: a file-name style wildcard pattern ("*", "?", "[set]") compiled once
// into a short list of states, then matched against UTF-16 texts. Action items
// and dispatch-capable components use it to claim request paths.
#include <bitset>
#include <cstddef>
#include <memory>
#include <vector>

#include <tolvane/runtime/object.h>
#include <tolvane/runtime/system_string.h>

namespace tolvane {

enum TMaskStates { msLiteral, msAny, msSet, msMBCSLiteral };

// The characters 0 to 255; a set member is recorded by its low byte.
using TMaskSet = std::bitset<256>;
using PMaskSet = TMaskSet*;

struct TMaskState {
  bool SkipTo = false;            // a "*" stood before this step
  TMaskStates State = msLiteral;
  char16_t Literal = 0;           // msLiteral: a-z stored as A-Z; 0 in the end-of-text step
  bool Negate = false;            // msSet: written with "!"
  std::unique_ptr<TMaskSet> CharSet;  // msSet: the members
  char16_t LeadByte = 0;          // msMBCSLiteral: a surrogate pair, matched exactly
  char16_t TrailByte = 0;
};

class TMask : public TObject {
  TV_DECLARE_CLASS(TMask)
 public:
  // The most states that may follow a "*" in one mask; also the depth of the
  // backtracking that matching may need.
  static constexpr int MaxCards = 30;

  // Raises EMaskException "'<mask>' is an invalid mask at (<position>)".
  explicit TMask(const String& MaskValue);
  TMask(const TMask&) = delete;
  TMask& operator=(const TMask&) = delete;

  // True when the whole of Filename matches.
  bool Matches(const String& Filename) const { return MatchesMaskStates(Filename); }

  // The compiled mask in mask order; the last state is the end-of-text literal.
  const std::vector<TMaskState>& MaskStates() const { return FMaskStates; }

 private:
  void InitMaskStates(const String& Mask);
  bool MatchesMaskStates(const String& Filename) const;

  std::vector<TMaskState> FMaskStates;
};

}  // namespace tolvane
