#include <tolvane/runtime/object.h>

namespace tolvane {

const TClassInfo TObject::ClassInfo_{u"TObject", nullptr};

namespace {

// Published names are identifiers; the locale-aware comparison is only needed
// once the plain ASCII one disagrees.
bool IsAscii(std::u16string_view S) {
  for (char16_t c : S)
    if (c >= 0x80) return false;
  return true;
}

bool SameName(std::u16string_view A, const char16_t* B) {
  std::u16string_view b(B);
  if (IsAscii(A) && IsAscii(b)) return SameTextAscii(A, b);
  return SameText(A, b);
}

template <class Entry, class Table>
const Entry* Search(TClass Class, std::u16string_view Name, Table Member) {
  for (TClass c = Class; c; c = c->Parent)
    for (const Entry& entry : c->*Member)
      if (SameName(Name, entry.Name)) return &entry;
  return nullptr;
}

}  // namespace

const TPropInfo* TClassInfo::FindProperty(std::u16string_view Name) const {
  return Search<TPropInfo>(this, Name, &TClassInfo::Properties);
}

const TMethodInfo* TClassInfo::FindMethod(std::u16string_view Name) const {
  return Search<TMethodInfo>(this, Name, &TClassInfo::Methods);
}

const TFieldInfo* TClassInfo::FindField(std::u16string_view Name) const {
  return Search<TFieldInfo>(this, Name, &TClassInfo::Fields);
}

}  // namespace tolvane
