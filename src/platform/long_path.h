#pragma once
// Windows file names as the system may report them with the long-path prefix.
#include <string>
#include <string_view>

namespace tolvane::platform {

// The ordinary form of a file name: "\\?\C:\dir\file" is "C:\dir\file" and
// "\\?\UNC\server\share\file" is "\\server\share\file". Any other name, a
// prefixed volume name such as "\\?\Volume{...}\file" included (it has no
// ordinary form), is answered unchanged.
std::u16string WithoutLongPathPrefix(std::u16string_view Name);

}  // namespace tolvane::platform
