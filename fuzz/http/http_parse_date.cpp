// HTTP date parsing over arbitrary text: either a date inside the years 1 to
// 9999, or one of the parser's and converter's errors.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/exception.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace tolvane;
  tolvane::PinCurrentYear(2026);
  std::string bytes(reinterpret_cast<const char*>(Data), Size);
  // Mostly ANSI text; a leading 0xFF byte reads the rest as UTF-16.
  String text;
  if (!bytes.empty() && std::uint8_t(bytes[0]) == 0xFF) {
    for (std::size_t i = 1; i + 1 < bytes.size(); i += 2)
      text += char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8);
  } else {
    text = StringOf(bytes);
  }
  try {
    TDateTime date = ParseDate(text);
    if (!(date > -693594.0 && date < 2958466.0)) std::abort();
    if (MonthStr(date).empty() || DayOfWeekStr(date).empty()) std::abort();
  } catch (const EParserError&) {
  } catch (const EConvertError&) {
  }
  return 0;
}
