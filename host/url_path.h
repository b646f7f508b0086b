// Request-target handling: splitting, percent-decoding, dot-segment removal,
// the mount test and the mapping of a URL below the document root.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tolvane::host {

// Splits an origin-form target ("/a/b?x=1") or an absolute-form one
// ("http://h/a/b?x=1") into its path and query (query without "?").
// False for any other form.
bool SplitTarget(std::string_view Target, std::string& Path, std::string& Query);

// Decodes %XX escapes ("+" stays as it is in a path). False on a malformed
// escape or on a zero byte, raw or escaped, which would cut the path short.
bool PercentDecode(std::string_view Text, std::string& Decoded);

// Removes "." and ".." segments of an absolute path. Empty when ".." would
// climb above the top.
std::optional<std::string> RemoveDotSegments(std::string_view Path);

// The mount as stored: "" for "/" (every path), else "/a/b" without a final "/".
// Empty optional when the text is not an absolute path.
std::optional<std::string> NormalizeMount(std::string_view Mount);

// The path below Mount ("" when Path is the mount itself), or nothing when
// Path lies outside it.
std::optional<std::string> PathBelowMount(std::string_view Path, std::string_view Mount);

// The file-system path for Url below Root (Root without a final "/"), or
// nothing when the URL would leave the root. Anything from "?" on is ignored.
std::optional<std::string> MapUrlToPath(std::string_view Root, std::string_view Url);

}  // namespace tolvane::host
