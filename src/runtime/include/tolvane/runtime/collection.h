#pragma once
// Ordered collections of items of one class. The collection owns its items.
// An item joins its collection once it is fully built (so that naming hooks
// see the finished item) and leaves it in its destructor.
#include <vector>

#include <tolvane/runtime/persistent.h>

namespace tolvane {

class TCollection;

class TCollectionItem : public TPersistent {
  TV_DECLARE_CLASS(TCollectionItem)
 public:
  TCollectionItem() = default;
  ~TCollectionItem() override;

  TCollection* Collection() const { return FCollection; }
  void SetCollection(TCollection* Value);
  int ID() const { return FID; }
  int Index() const;
  void SetIndex(int Value);
  virtual String GetDisplayName() const;
  virtual void SetDisplayName(const String& Value);
  TPersistent* GetOwner() const override;

 protected:
  // Reports a change of this item (or, with AllItems, of the whole collection).
  void Changed(bool AllItems);

 private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int FID = 0;
};

// The virtual constructor of an item class: builds the item, then joins it to
// the collection.
template <class Self>
TObject* CreateItem(TObject* Collection);

class TCollection : public TPersistent {
  TV_DECLARE_CLASS(TCollection)
 public:
  // Owner: the object the collection belongs to (what GetOwner answers).
  explicit TCollection(TClass ItemClass, TPersistent* Owner = nullptr);
  ~TCollection() override;

  TClass ItemClass() const { return FItemClass; }
  int Count() const { return int(FItems.size()); }
  TCollectionItem* GetItem(int Index) const;
  // Creates an item of the item class, which joins this collection.
  TCollectionItem* Add();
  TCollectionItem* Insert(int Index);
  void Delete(int Index);
  void Clear();
  TCollectionItem* FindItemID(int ID) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  void Assign(const TPersistent* Source) override;
  TPersistent* GetOwner() const override { return FOwner; }

 protected:
  // The change hook: Item is the changed item, or null for the whole collection.
  virtual void Update(TCollectionItem* Item);
  // Names an item that has just joined.
  virtual void SetItemName(TCollectionItem* Item);
  void Changed();

 private:
  friend class TCollectionItem;
  static void FreeItem(TCollectionItem* Item);
  void InsertItem(TCollectionItem* Item);
  void RemoveItem(TCollectionItem* Item);

  TClass FItemClass;
  TPersistent* FOwner;
  std::vector<TCollectionItem*> FItems;
  int FUpdateCount = 0;
  int FNextID = 0;
};

template <class Self>
TObject* CreateItem(TObject* Collection) {
  auto* item = new Self();
  try {
    item->SetCollection(dynamic_cast<TCollection*>(Collection));
  } catch (...) {
    delete item;
    throw;
  }
  return item;
}

}  // namespace tolvane
