// Compiles the input's first line as a mask and matches the rest against it.
// Bytes below 0x80 are themselves; 0x80-0xEF pick one of a few characters that
// matter to masks (surrogate halves, NUL, characters above 255); 0xF0-0xFF take
// the next two bytes as one raw 16-bit character. Checks the error position,
// and on small inputs compares the matcher with full backtracking.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../../tests/dispatch/reference_mask.h"
#include <tolvane/dispatch/mask.h>
#include <tolvane/runtime/exception.h>

using namespace tolvane;

namespace {

const char16_t Specials[16] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xD83D, 0xDE00, 0x00E9, 0x00C9,
                               0x0141, 0x0161, 0x0100, 0x00FF, 0xFFFF, 0x0000, 0x0061, 0x005B};

String Decode(const std::uint8_t* Data, std::size_t Size) {
  String S;
  for (std::size_t I = 0; I < Size; ++I) {
    const std::uint8_t B = Data[I];
    if (B < 0x80) {
      S += char16_t(B);
    } else if (B < 0xF0) {
      S += Specials[B & 0x0F];
    } else if (I + 2 < Size) {
      S += char16_t(Data[I + 1] << 8 | Data[I + 2]);
      I += 2;
    }
  }
  return S;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  std::size_t Split = 0;
  while (Split < Size && Data[Split] != '\n') ++Split;
  const String MaskText = Decode(Data, Split);
  const String Text = Split < Size ? Decode(Data + Split + 1, Size - Split - 1) : MaskText;

  try {
    TMask Mask(MaskText);
    const bool Answer = Mask.Matches(Text);
    std::size_t Stars = 0;
    for (const TMaskState& State : Mask.MaskStates()) Stars += State.SkipTo;
    // Full backtracking grows with the power of the number of stars: small inputs only.
    if (Stars <= 6 && Text.size() <= 24 && reference::Matches(Mask.MaskStates(), Text) != Answer) std::abort();
  } catch (const EMaskException& E) {
    const String Prefix = u"'" + MaskText + u"' is an invalid mask at (";
    const String& Message = E.Message();
    if (Message.compare(0, Prefix.size(), Prefix) != 0 || Message.back() != u')') std::abort();
    std::size_t Position = 0;
    for (std::size_t I = Prefix.size(); I + 1 < Message.size(); ++I) {
      if (Message[I] < u'0' || Message[I] > u'9') std::abort();
      Position = Position * 10 + (Message[I] - u'0');
    }
    if (Position < 1 || Position > MaskText.size() + 1) std::abort();
  }
  return 0;
}
