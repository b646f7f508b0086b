#pragma once
// The text form of a definition (described in docs/definitions.md) to the
// stored bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::defc {

struct TCompileResult {
  bool Ok = false;
  std::vector<std::uint8_t> Bytes;
  // When not Ok: where the text went wrong (line and column from 1; the
  // column counts characters) and why.
  int Line = 0;
  int Column = 0;
  std::string Message;
};

TCompileResult CompileDefinition(std::string_view Text);

}  // namespace tolvane::defc
