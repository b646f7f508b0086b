#include "platform/resource.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

namespace tolvane::platform {

namespace {

// The loaded extension's own table, which its build embeds from its resource
// files: one entry a file, named after the file without its extension, and a
// null entry last.
constinit std::atomic<const TEmbeddedResource*> LibraryRCData{nullptr};

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

std::mutex AddedTablesLock;
std::vector<const TEmbeddedResource*>& AddedTables() {
  static std::vector<const TEmbeddedResource*> tables;
  return tables;
}

std::optional<std::span<const std::uint8_t>> FindIn(const TEmbeddedResource* Table, std::u16string_view Name) {
  for (const TEmbeddedResource* r = Table; r->Name; ++r)
    if (SameResourceName(Name, r->Name)) return std::span<const std::uint8_t>(r->Data, r->Size);
  return std::nullopt;
}

}  // namespace

void SetLibraryRCData(const TEmbeddedResource* Table) { LibraryRCData.store(Table, std::memory_order_release); }

void AddRCDataTable(const TEmbeddedResource* Table) {
  std::lock_guard lock(AddedTablesLock);
  AddedTables().push_back(Table);
}

std::optional<std::span<const std::uint8_t>> FindRCData(std::u16string_view Name) {
  if (const TEmbeddedResource* own = LibraryRCData.load(std::memory_order_acquire))
    if (auto found = FindIn(own, Name)) return found;
  std::lock_guard lock(AddedTablesLock);
  for (const TEmbeddedResource* table : AddedTables())
    if (auto found = FindIn(table, Name)) return found;
  return std::nullopt;
}

}  // namespace tolvane::platform
