// Header and form field splitting over arbitrary text, separators and flags.
// The first bytes choose the flags and the separator and white-space sets.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/exception.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace tolvane;
  if (Size < 3) return 0;
  const bool decode = Data[0] & 1, strip = Data[0] & 2, wide = Data[0] & 4;
  TSysCharSet separators(",;&");
  separators.Include(Data[1]);
  TSysCharSet white(" ");
  white.Include(Data[2]);
  std::string content(reinterpret_cast<const char*>(Data + 3), Size - 3);

  TStringList fields;
  try {
    if (wide) {
      // Pairs of bytes as UTF-16 characters, so characters above 255 appear too.
      String text;
      for (std::size_t i = 0; i + 1 < content.size(); i += 2)
        text += char16_t(std::uint8_t(content[i]) | std::uint8_t(content[i + 1]) << 8);
      ExtractHeaderFields(separators, white, text, fields, decode, strip);
      std::size_t total = 0;
      for (int i = 0; i < fields.Count(); ++i) total += fields[i].size();
      if (!decode && total > text.size()) std::abort();
    } else {
      ExtractHeaderFields(separators, white, content, fields, decode, strip);
    }
  } catch (const ECorvelException&) {
  } catch (const EConvertError&) {
  }
  return 0;
}
