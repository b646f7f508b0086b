#pragma once
// Ordered lists of strings, used as name=value lists: an entry's name is its
// text before the first "=" (empty when there is none) and its value the text
// after it. Lookup by name finds the first entry whose name equals the given
// one, compared case-insensitively by the system locale's rules.
#include <vector>

#include <tolvane/runtime/object.h>

namespace tolvane {

class TStrings : public TObject {
  TV_DECLARE_CLASS(TStrings)
 public:
  virtual int Count() const = 0;
  virtual const String& Get(int Index) const = 0;
  virtual void Put(int Index, String Value) = 0;
  virtual void Insert(int Index, String Value) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() = 0;

  const String& operator[](int Index) const { return Get(Index); }
  int Add(String Value) {
    Insert(Count(), std::move(Value));
    return Count() - 1;
  }
  // Replaces the entries by a copy of Source's entries.
  void Assign(const TStrings& Source);

  String Names(int Index) const;
  String ValueFromIndex(int Index) const;
  int IndexOfName(std::u16string_view Name) const;
  // The value of the first entry named Name, or an empty string.
  String Values(std::u16string_view Name) const;
  // An empty Value deletes the first entry named Name; otherwise that entry is
  // replaced by Name=Value in place, or Name=Value is appended.
  void SetValue(std::u16string_view Name, std::u16string_view Value);
  int IndexOf(std::u16string_view S) const;
  // The entries joined, each followed by CR LF.
  String Text() const;
};

class TStringList : public TStrings {
  TV_DECLARE_CLASS(TStringList)
 public:
  int Count() const override { return int(FItems.size()); }
  const String& Get(int Index) const override;
  void Put(int Index, String Value) override;
  void Insert(int Index, String Value) override;
  void Delete(int Index) override;
  void Clear() override { FItems.clear(); }

 private:
  void CheckIndex(int Index, int Limit) const;
  std::vector<String> FItems;
};

}  // namespace tolvane
