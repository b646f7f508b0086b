#pragma once
// The library's own RCDATA resources, read in place.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tolvane::platform {

// One resource of a table the build embeds: its name (the file's name without
// extension) and its bytes. A table ends with an entry whose name is null.
struct TEmbeddedResource {
  const char* Name;
  const std::uint8_t* Data;
  std::size_t Size;
};

// Makes Table (or nothing, when null) the library's own resources, searched
// first. The extension's load hook sets it before anything reads a resource;
// Windows keeps them in the module instead and ignores it.
void SetLibraryRCData(const TEmbeddedResource* Table);

// Adds a table searched after the library's own resources. A program that
// embeds resources of its own (a test program) adds them before it runs; the
// table must outlive every lookup.
void AddRCDataTable(const TEmbeddedResource* Table);

// The data of the RCDATA resource Name of the library's own module (names
// compared ignoring case), or nothing. The bytes live as long as the library.
std::optional<std::span<const std::uint8_t>> FindRCData(std::u16string_view Name);

}  // namespace tolvane::platform
