// Status texts and header blocks from an extension: whatever is accepted
// serializes to one well-formed head, with no line an extension smuggled in.
#include "response_head.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool Condition) {
  if (!Condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace tolvane::host;
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  // The first line is the status text, the rest the header block.
  const size_t Split = Input.find('\n');
  const std::string_view Status = Input.substr(0, Split);
  const std::string_view Block = Split == std::string_view::npos ? std::string_view() : Input.substr(Split + 1);
  TResponseHead Head;
  if (!ParseStatusText(Status, Head)) return 0;
  Check(Head.FStatus >= 200 && Head.FStatus <= 599);
  if (!ParseHeaderBlock(Block, 8192, Head)) return 0;
  for (const auto& [Name, Value] : Head.FFields) {
    Check(!Name.empty());
    Check(Name.find_first_of("\r\n: ") == std::string::npos);
    Check(Value.find_first_of("\r\n") == std::string::npos);
  }
  const std::string Serialized = SerializeHead(Head, fmChunked, 0, true, false);
  // Exactly one empty line, at the end.
  Check(Serialized.find("\r\n\r\n") == Serialized.size() - 4);
  size_t Lines = 0;
  for (size_t At = Serialized.find("\r\n"); At != std::string::npos; At = Serialized.find("\r\n", At + 2)) ++Lines;
  // Status line, Date and Server unless given, the fields, Transfer-Encoding, the empty line.
  Check(Lines == Head.FFields.size() + 3 + (Head.FHasDate ? 0 : 1) + (Head.FHasServer ? 0 : 1));
  return 0;
}
