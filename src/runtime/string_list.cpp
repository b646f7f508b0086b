#include <tolvane/runtime/string_list.h>

#include <tolvane/runtime/exception.h>

namespace tolvane {

TV_DEFINE_CLASS(TStrings, TObject);
TV_DEFINE_CLASS(TStringList, TStrings);

void TStrings::Assign(const TStrings& Source) {
  if (&Source == this) return;
  Clear();
  for (int i = 0; i < Source.Count(); ++i) Add(Source.Get(i));
}

String TStrings::Names(int Index) const {
  const String& s = Get(Index);
  std::size_t p = s.find(u'=');
  return p == String::npos ? String() : s.substr(0, p);
}

String TStrings::ValueFromIndex(int Index) const {
  const String& s = Get(Index);
  std::size_t p = s.find(u'=');
  return p == String::npos ? String() : s.substr(p + 1);
}

int TStrings::IndexOfName(std::u16string_view Name) const {
  for (int i = 0; i < Count(); ++i) {
    std::u16string_view s = Get(i);
    std::size_t p = s.find(u'=');
    if (SameText(p == String::npos ? std::u16string_view() : s.substr(0, p), Name)) return i;
  }
  return -1;
}

String TStrings::Values(std::u16string_view Name) const {
  int i = IndexOfName(Name);
  return i < 0 ? String() : ValueFromIndex(i);
}

void TStrings::SetValue(std::u16string_view Name, std::u16string_view Value) {
  int i = IndexOfName(Name);
  if (Value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  String entry = String(Name) + u"=" + String(Value);
  if (i >= 0) Put(i, std::move(entry));
  else Add(std::move(entry));
}

int TStrings::IndexOf(std::u16string_view S) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Get(i), S)) return i;
  return -1;
}

String TStrings::Text() const {
  String t;
  for (int i = 0; i < Count(); ++i) t += Get(i) + u"\r\n";
  return t;
}

void TStringList::CheckIndex(int Index, int Limit) const {
  if (Index < 0 || Index > Limit) throw EListError(u"List index out of bounds (%d)", {Index});
}

const String& TStringList::Get(int Index) const {
  CheckIndex(Index, Count() - 1);
  return FItems[std::size_t(Index)];
}

void TStringList::Put(int Index, String Value) {
  CheckIndex(Index, Count() - 1);
  FItems[std::size_t(Index)] = std::move(Value);
}

void TStringList::Insert(int Index, String Value) {
  CheckIndex(Index, Count());
  FItems.insert(FItems.begin() + Index, std::move(Value));
}

void TStringList::Delete(int Index) {
  CheckIndex(Index, Count() - 1);
  FItems.erase(FItems.begin() + Index);
}

}  // namespace tolvane
