#include <tolvane/webapp/component_list.h>

#include <algorithm>

#include <tolvane/runtime/exception.h>

namespace tolvane {

class TComponentList::TWatcher : public TComponent {
 public:
  explicit TWatcher(TComponentList* AList) : TComponent(nullptr), FList(AList) {}

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opRemove) FList->Forget(AComponent);
  }

 private:
  TComponentList* FList;
};

TComponentList::TComponentList() : FWatcher(NewComponent<TWatcher>(this)) {}

TComponentList::~TComponentList() {
  // Whoever can hear of a failure frees the components with Clear first.
  try {
    Clear();
  } catch (...) {
  }
}

TComponent* TComponentList::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(u"List index out of bounds (%d)", {Index});
  return FItems[std::size_t(Index)];
}

int TComponentList::IndexOf(const TComponent* AComponent) const {
  auto it = std::find(FItems.begin(), FItems.end(), AComponent);
  return it == FItems.end() ? -1 : int(it - FItems.begin());
}

void TComponentList::Add(TComponent* AComponent) {
  if (!AComponent || IndexOf(AComponent) >= 0) return;
  AComponent->FreeNotification(FWatcher.get());
  try {
    FItems.push_back(AComponent);
  } catch (...) {
    AComponent->RemoveFreeNotification(FWatcher.get());
    throw;
  }
}

bool TComponentList::Extract(TComponent* AComponent) {
  int index = IndexOf(AComponent);
  if (index < 0) return false;
  FItems.erase(FItems.begin() + index);
  AComponent->RemoveFreeNotification(FWatcher.get());
  return true;
}

void TComponentList::Clear() {
  // One at a time from the front: freeing one component may free others of
  // the list, which then leave it through their notifications.
  TFirstFailure failure;
  while (!FItems.empty()) {
    TComponent* c = FItems.front();
    Extract(c);
    failure.Run([&] { c->Free(); });
  }
  failure.RaiseIfFailed();
}

void TComponentList::Forget(TComponent* AComponent) {
  auto it = std::find(FItems.begin(), FItems.end(), AComponent);
  if (it != FItems.end()) FItems.erase(it);
}

}  // namespace tolvane
