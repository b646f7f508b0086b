#include "platform/resource.h"

#include <cstddef>

namespace tolvane::platform {

// The table the build embeds from the files of resources/rcdata: one entry a
// file, named after the file without its extension, and a null entry last.
struct TEmbeddedResource {
  const char* Name;
  const std::uint8_t* Data;
  std::size_t Size;
};
extern const TEmbeddedResource EmbeddedRCData[];

namespace {

// Resource names are ASCII identifiers; other characters must match exactly.
bool SameResourceName(std::u16string_view A, const char* B) {
  std::size_t i = 0;
  for (; B[i]; ++i) {
    if (i >= A.size()) return false;
    char16_t a = A[i];
    char16_t b = static_cast<unsigned char>(B[i]);
    if (a >= u'a' && a <= u'z') a = char16_t(a - 32);
    if (b >= u'a' && b <= u'z') b = char16_t(b - 32);
    if (a != b) return false;
  }
  return i == A.size();
}

}  // namespace

std::optional<std::span<const std::uint8_t>> FindRCData(std::u16string_view Name) {
  for (const TEmbeddedResource* r = EmbeddedRCData; r->Name; ++r)
    if (SameResourceName(Name, r->Name)) return std::span<const std::uint8_t>(r->Data, r->Size);
  return std::nullopt;
}

}  // namespace tolvane::platform
