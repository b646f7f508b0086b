#include "long_path.h"

namespace tolvane::platform {
namespace {

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

std::u16string WithoutLongPathPrefix(std::u16string_view Name) {
  constexpr std::u16string_view kPrefix = u"\\\\?\\";
  if (!Name.starts_with(kPrefix)) return std::u16string(Name);
  std::u16string_view Rest = Name.substr(kPrefix.size());
  // A drive: "X:" alone or followed by a backslash.
  if (Rest.size() >= 2 && IsAsciiLetter(Rest[0]) && Rest[1] == u':' && (Rest.size() == 2 || Rest[2] == u'\\'))
    return std::u16string(Rest);
  // A share: "UNC\" in any letter case, then server and share.
  if (Rest.size() > 4 && (Rest[0] | 0x20) == u'u' && (Rest[1] | 0x20) == u'n' && (Rest[2] | 0x20) == u'c' &&
      Rest[3] == u'\\')
    return u"\\\\" + std::u16string(Rest.substr(4));
  return std::u16string(Name);
}

}  // namespace tolvane::platform
