#pragma once
// The library's own RCDATA resources, read in place.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tolvane::platform {

// The data of the RCDATA resource Name of the library's own module (names
// compared ignoring case), or nothing. The bytes live as long as the library.
std::optional<std::span<const std::uint8_t>> FindRCData(std::u16string_view Name);

}  // namespace tolvane::platform
