#include <tolvane/runtime/collection.h>

#include <algorithm>
#include <memory>

#include <tolvane/runtime/exception.h>

namespace tolvane {

TV_DEFINE_CLASS(TCollectionItem, TPersistent, CreateItem<TCollectionItem>);
TV_DEFINE_CLASS(TCollection, TPersistent);

TCollectionItem::~TCollectionItem() {
  ReleaseFixups();
  SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* Value) {
  if (Value == FCollection) return;
  if (FCollection) FCollection->RemoveItem(this);
  if (Value) Value->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!FCollection) return -1;
  const auto& items = FCollection->FItems;
  return int(std::find(items.begin(), items.end(), this) - items.begin());
}

void TCollectionItem::SetIndex(int Value) {
  int current = Index();
  if (current < 0 || Value == current) return;
  auto& items = FCollection->FItems;
  Value = std::clamp(Value, 0, int(items.size()) - 1);
  items.erase(items.begin() + current);
  items.insert(items.begin() + Value, this);
  Changed(true);
}

String TCollectionItem::GetDisplayName() const { return ClassName(); }

void TCollectionItem::SetDisplayName(const String&) { Changed(false); }

TPersistent* TCollectionItem::GetOwner() const { return FCollection; }

void TCollectionItem::Changed(bool AllItems) {
  if (FCollection && FCollection->FUpdateCount == 0) FCollection->Update(AllItems ? nullptr : this);
}

TCollection::TCollection(TClass ItemClass, TPersistent* Owner) : FItemClass(ItemClass), FOwner(Owner) {}

TCollection::~TCollection() {
  FUpdateCount = 1;  // no change reports while the items go
  while (!FItems.empty()) FreeItem(FItems.back());
}

void TCollection::FreeItem(TCollectionItem* Item) {
  // Before any part of the item goes, so that no stored reference is set in it.
  Item->ReleaseFixups();
  delete Item;
}

TCollectionItem* TCollection::GetItem(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(u"List index out of bounds (%d)", {Index});
  return FItems[std::size_t(Index)];
}

TCollectionItem* TCollection::Add() {
  std::unique_ptr<TObject> made(FItemClass->Create(this));
  auto* item = dynamic_cast<TCollectionItem*>(made.get());
  if (!item || item->Collection() != this) throw EInvalidOperation(u"Invalid collection item class");
  made.release();
  return item;
}

TCollectionItem* TCollection::Insert(int Index) {
  TCollectionItem* item = Add();
  item->SetIndex(Index);
  return item;
}

void TCollection::Delete(int Index) { FreeItem(GetItem(Index)); }

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  while (!FItems.empty()) FreeItem(FItems.back());
  EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int ID) const {
  for (TCollectionItem* item : FItems)
    if (item->FID == ID) return item;
  return nullptr;
}

void TCollection::BeginUpdate() { ++FUpdateCount; }

void TCollection::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) Changed();
}

void TCollection::Assign(const TPersistent* Source) {
  auto* source = dynamic_cast<const TCollection*>(Source);
  if (!source) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  BeginUpdate();
  try {
    Clear();
    for (TCollectionItem* item : source->FItems) Add()->Assign(item);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::SetItemName(TCollectionItem*) {}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* Item) {
  FItems.push_back(Item);
  Item->FCollection = this;
  Item->FID = FNextID++;
  SetItemName(Item);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
  // Searched from the end: a collection frees its items from the last one.
  FItems.erase(std::find(FItems.rbegin(), FItems.rend(), Item).base() - 1);
  Item->FCollection = nullptr;
  Changed();
}

}  // namespace tolvane
