// URL coding: decoding the encoding of any text without NUL gives the text
// back, and decoding arbitrary input either succeeds within the input's length
// or raises one of the two decoding errors.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/exception.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace tolvane;
  std::string input(reinterpret_cast<const char*>(Data), Size);

  std::string text = input.substr(0, input.find('\0'));
  AnsiString encoded = HTTPEncode(text);
  if (encoded.size() > 3 * text.size() || HTTPDecode(encoded) != text) std::abort();
  if (HTTPEncode(input) != encoded) std::abort();  // the NUL ends the input

  try {
    if (HTTPDecode(input).size() > text.size()) std::abort();
  } catch (const ECorvelException&) {
  } catch (const EConvertError&) {
  }
  return 0;
}
