#pragma once
// Stored definition bytes to the text form (described in docs/definitions.md).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tolvane::defc {

struct TDecompileResult {
  bool Ok = false;
  std::string Text;
  // When not Ok: where the bytes went wrong (counted from 0) and why.
  std::size_t Offset = 0;
  std::string Message;
};

// Writes the text that compiles back into exactly these bytes, or reports
// the first place where they are not a well-formed definition.
TDecompileResult DecompileDefinition(std::span<const std::uint8_t> Bytes);

}  // namespace tolvane::defc
