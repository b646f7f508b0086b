// Both directions of the definition text form. Input that begins with the
// stored signature is taken as bytes: whatever decompiles must compile back
// into the very same bytes. Any other input is taken as text: whatever
// compiles must decompile, and that text must compile into the same bytes
// and decompile into itself again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "definition_compiler.h"
#include "definition_decompiler.h"

using namespace tolvane::defc;

namespace {

[[noreturn]] void Broken(const char* What, const std::string& Text) {
  std::fprintf(stderr, "%s\n--- text ---\n%s\n", What, Text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  if (Size >= 4 && std::memcmp(Data, "TPF0", 4) == 0) {
    TDecompileResult text = DecompileDefinition({Data, Size});
    if (!text.Ok) return 0;
    TCompileResult back = CompileDefinition(text.Text);
    if (!back.Ok) Broken(("decompiled text does not compile: " + back.Message).c_str(), text.Text);
    if (back.Bytes != std::vector<std::uint8_t>(Data, Data + Size)) Broken("bytes changed on the way back", text.Text);
    return 0;
  }
  TCompileResult compiled = CompileDefinition(std::string_view(reinterpret_cast<const char*>(Data), Size));
  if (!compiled.Ok) return 0;
  TDecompileResult text = DecompileDefinition(compiled.Bytes);
  if (!text.Ok) Broken(("compiled bytes do not decompile: " + text.Message).c_str(), "");
  TCompileResult again = CompileDefinition(text.Text);
  if (!again.Ok || again.Bytes != compiled.Bytes) Broken("decompiled text compiles differently", text.Text);
  if (DecompileDefinition(again.Bytes).Text != text.Text) Broken("decompiled text is not stable", text.Text);
  return 0;
}
