#pragma once
// An ordered list that owns components: it frees what it still holds when it
// goes, and a component freed elsewhere simply leaves it (the list hears of
// it through a free notification), so nothing is freed twice.
#include <vector>

#include <tolvane/runtime/component.h>

namespace tolvane {

class TComponentList {
 public:
  TComponentList();
  ~TComponentList();
  TComponentList(const TComponentList&) = delete;
  TComponentList& operator=(const TComponentList&) = delete;

  int Count() const { return int(FItems.size()); }
  // Raises EListError for an index out of range.
  TComponent* Items(int Index) const;
  int IndexOf(const TComponent* AComponent) const;
  // Takes ownership once added (when adding raises, the caller keeps it); a
  // component already held is not added again.
  void Add(TComponent* AComponent);
  // Gives up ownership without freeing; false when it was not held.
  bool Extract(TComponent* AComponent);
  // Frees every held component, first added first; when freeing one raises,
  // the others are freed all the same and the first failure is raised.
  void Clear();
  const std::vector<TComponent*>& List() const { return FItems; }

 private:
  // The component that receives the free notifications.
  class TWatcher;
  void Forget(TComponent* AComponent);

  TComponentPtr<TWatcher> FWatcher;
  std::vector<TComponent*> FItems;
};

}  // namespace tolvane
