#include <tolvane/runtime/component.h>

#include <algorithm>
#include <mutex>

#include <tolvane/runtime/exception.h>
#include <tolvane/runtime/published.h>

namespace tolvane {

namespace {

const TPropInfo ComponentProps[] = {
    TV_PROPERTY(TComponent, Name),
    WithDefault(TV_PROPERTY(TComponent, Tag), 0),
};

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

}  // namespace

TV_DEFINE_CLASS(TFiler, TObject);
TV_DEFINE_CLASS(TComponent, TPersistent, CreateComponent<TComponent>, ComponentProps);

bool IsValidIdent(std::u16string_view Ident) {
  if (Ident.empty() || !(IsAsciiLetter(Ident[0]) || Ident[0] == u'_')) return false;
  for (char16_t c : Ident.substr(1))
    if (!(IsAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'_')) return false;
  return true;
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->Insert(this);
}

TComponent::~TComponent() {
  FComponentState.Include(csDestroying);
  ReleaseFixups();
  // Free released the links already; a failure left for a destructor has
  // nowhere to go.
  try {
    ReleaseLinks();
  } catch (...) {
  }
}

void TComponent::ReleaseLinks() {
  TFirstFailure failure;
  // Whoever asked hears of the end first, while the owned components still exist.
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    other->DropFreeNotify(this);
    failure.Run([&] { other->Notification(this, opRemove); });
  }
  failure.Run([&] { DestroyComponents(); });
  if (FOwner) failure.Run([&] { FOwner->RemoveComponent(this); });
  if (FOwner) {
    // The owner's notification raised: out of its list and field all the same.
    SetReference(false);
    FOwner->Remove(this);
  }
  failure.RaiseIfFailed();
}

void TComponent::Free() {
  TFirstFailure failure;
  if (!FComponentState.Contains(csDestroying)) {
    FComponentState.Include(csDestroying);
    // Before anything of it goes: a pass on another thread must not set a
    // reference in a part already freed.
    ReleaseFixups();
    failure.Run([&] { BeforeDestruction(); });
  }
  // While this object is still whole, so that type tests on it still answer.
  failure.Run([&] { ReleaseLinks(); });
  delete this;
  failure.RaiseIfFailed();
}

void TComponent::AfterConstruction() {
  if (FOwner && !FAnnounced) {
    FAnnounced = true;
    FOwner->Notification(this, opInsert);
  }
}

void TComponent::BeforeDestruction() {}

void TComponent::SetName(const String& Value) {
  if (Value == FName) return;
  if (!Value.empty() && !IsValidIdent(Value))
    throw EComponentError(u"''%s'' is not a valid component name", {Value});
  if (FOwner) FOwner->ValidateRename(this, Value);
  SetReference(false);
  FName = Value;
  SetReference(true);
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount()) throw EListError(u"List index out of bounds (%d)", {Index});
  return FComponents[std::size_t(Index)];
}

int TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  const auto& list = FOwner->FComponents;
  return int(std::find(list.begin(), list.end(), this) - list.begin());
}

TComponent* TComponent::FindComponent(std::u16string_view AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameText(c->FName, AName)) return c;
  return nullptr;
}

void TComponent::ValidateRename(TComponent* AComponent, const String& NewName) const {
  if (NewName.empty()) return;
  for (TComponent* c : FComponents)
    if (c != AComponent && SameText(c->FName, NewName))
      throw EComponentError(u"A component named %s already exists", {NewName});
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner == this) return;
  ValidateRename(AComponent, AComponent->FName);
  if (AComponent->FOwner) AComponent->FOwner->RemoveComponent(AComponent);
  Insert(AComponent);
  AComponent->SetReference(true);
  AComponent->FAnnounced = true;
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  AComponent->SetReference(false);
  Remove(AComponent);
}

void TComponent::Insert(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
  auto it = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (it != FComponents.end()) FComponents.erase(it);
  AComponent->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
  TFirstFailure failure;
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    // Out of the list before it goes, so that nothing sees a half-freed child.
    Remove(c);
    c->FOwner = this;  // it still reports its removal to us
    failure.Run([&] { c->Free(); });
  }
  failure.RaiseIfFailed();
}

void TComponent::SetReference(bool Enable) {
  if (!FOwner || FName.empty()) return;
  const TFieldInfo* field = FOwner->ClassType()->FindField(FName);
  if (!field) return;
  // Clearing compares identities only: a component being destroyed no longer
  // answers its own class.
  if (!Enable) {
    if (field->Get(FOwner) == this) field->Set(FOwner, nullptr);
  } else if (InheritsFrom(field->FieldClass)) {
    field->Set(FOwner, this);
  }
}

void TComponent::AddFreeNotify(TComponent* AComponent) {
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
}

void TComponent::DropFreeNotify(TComponent* AComponent) {
  auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent);
  if (it != FFreeNotifies.end()) FFreeNotifies.erase(it);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  // Both sides keep the other, so whichever goes first unhooks itself.
  AddFreeNotify(AComponent);
  AComponent->AddFreeNotify(this);
  FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  DropFreeNotify(AComponent);
  AComponent->DropFreeNotify(this);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent) {
    DropFreeNotify(AComponent);
    AComponent->DropFreeNotify(this);
  }
  // Owned components hear of their siblings (a copy: a handler may change the list).
  std::vector<TComponent*> owned = FComponents;
  for (TComponent* c : owned)
    if (c != AComponent && std::find(FComponents.begin(), FComponents.end(), c) != FComponents.end())
      c->Notification(AComponent, Operation);
}

void TComponent::SetComponentStateItem(TComponentStateItem Item, bool Value) {
  if (Value) FComponentState.Include(Item);
  else FComponentState.Exclude(Item);
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
  SetComponentStateItem(csDesigning, Value);
  if (SetChildren)
    for (TComponent* c : FComponents) c->SetDesigning(Value, true);
}

void TComponent::SetSubComponent(bool Value) {
  if (Value) FComponentStyle.Include(csSubComponent);
  else FComponentStyle.Exclude(csSubComponent);
}

void TComponent::SetChildOrder(TComponent* Child, int Order) {
  auto it = std::find(FComponents.begin(), FComponents.end(), Child);
  if (it == FComponents.end()) return;
  FComponents.erase(it);
  Order = std::clamp(Order, 0, int(FComponents.size()));
  FComponents.insert(FComponents.begin() + Order, Child);
}

void TComponent::ReadState(TFiler* Reader) { Reader->ReadData(this); }

void TComponent::DefineProperties(TFiler* Filer) {
  Filer->DefineProperty(
      u"Left",
      [this](TFiler& R) {
        FDesignInfo = std::int32_t((std::uint32_t(FDesignInfo) & 0xFFFF0000u) | (std::uint32_t(R.ReadInteger()) & 0xFFFFu));
      },
      DesignLeft() != 0);
  Filer->DefineProperty(
      u"Top",
      [this](TFiler& R) {
        FDesignInfo = std::int32_t((std::uint32_t(FDesignInfo) & 0xFFFFu) | (std::uint32_t(R.ReadInteger()) << 16));
      },
      DesignTop() != 0);
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

platform::TReentrantRWLock& GlobalNameSpace() {
  static platform::TReentrantRWLock lock;
  return lock;
}

namespace {

std::mutex ClassRegistryLock;
std::vector<TClass>& ClassRegistry() {
  static std::vector<TClass> classes;
  return classes;
}

}  // namespace

void RegisterClass(TClass AClass) {
  std::lock_guard lock(ClassRegistryLock);
  auto& classes = ClassRegistry();
  if (std::find(classes.begin(), classes.end(), AClass) == classes.end()) classes.push_back(AClass);
}

void UnRegisterClass(TClass AClass) {
  std::lock_guard lock(ClassRegistryLock);
  auto& classes = ClassRegistry();
  classes.erase(std::remove(classes.begin(), classes.end(), AClass), classes.end());
}

TClass GetClass(std::u16string_view ClassName) {
  std::lock_guard lock(ClassRegistryLock);
  for (TClass c : ClassRegistry())
    if (SameText(c->Name, ClassName)) return c;
  return nullptr;
}

}  // namespace tolvane
