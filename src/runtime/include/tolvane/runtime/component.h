#pragma once
// Components: objects with an owner, a name and the components they own. An
// owner frees what it owns. A component can ask another to tell it when that
// one is freed.
//
// Make components with NewComponent (or through their class's virtual
// constructor) and free them with Free(): the owner hears of a new component
// once it is fully built, and a component's own destruction steps run while it
// is still whole.
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include <tolvane/platform/rw_lock.h>
#include <tolvane/runtime/filer.h>
#include <tolvane/runtime/persistent.h>
#include <tolvane/runtime/small_set.h>

namespace tolvane {

enum TComponentStateItem {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance,
};
using TComponentState = TSet<TComponentStateItem>;

enum TComponentStyleItem { csInheritable, csCheckPropAvail, csSubComponent, csTransient };
using TComponentStyle = TSet<TComponentStyleItem>;

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
  TV_DECLARE_CLASS(TComponent)
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // Drops the stored references waiting on it and runs BeforeDestruction;
  // tells those that asked for a free notification, frees the owned
  // components and leaves the owner while the component is still whole (its
  // class still answers type tests); then deletes it. A step that raises does
  // not stop the others: the component is gone, then the first failure is
  // raised again.
  void Free();
  // Called once the most derived constructor is done: tells the owner.
  virtual void AfterConstruction();
  // Called by Free while the component is still whole.
  virtual void BeforeDestruction();

  TComponent* Owner() const { return FOwner; }
  const String& Name() const { return FName; }
  // Raises EComponentError for a name that is not empty and not an
  // identifier, and for a name another component of the same owner bears.
  virtual void SetName(const String& Value);
  std::int64_t Tag() const { return FTag; }
  void SetTag(std::int64_t Value) { FTag = Value; }

  int ComponentCount() const { return int(FComponents.size()); }
  TComponent* Components(int Index) const;
  int ComponentIndex() const;
  // The owned component of that name (ignoring case), or null.
  TComponent* FindComponent(std::u16string_view AName) const;
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  // Frees the owned components, last first; one that raises does not keep
  // the others (the first failure is raised again at the end).
  void DestroyComponents();

  // AComponent will hear (Notification opRemove) when this one is freed.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

  TComponentState ComponentState() const { return FComponentState; }
  // Marks this component, and with SetChildren its owned components, as
  // being designed.
  void SetDesigning(bool Value, bool SetChildren = true);
  TComponentStyle ComponentStyle() const { return FComponentStyle; }
  // A sub-component is read through its owner's read-only property.
  void SetSubComponent(bool Value);

  // The design position: Left in the low half, Top in the high half.
  std::int32_t DesignInfo() const { return FDesignInfo; }
  void SetDesignInfo(std::int32_t Value) { FDesignInfo = Value; }
  int DesignLeft() const { return std::int16_t(std::uint32_t(FDesignInfo) & 0xFFFF); }
  int DesignTop() const { return std::int16_t(std::uint32_t(FDesignInfo) >> 16); }

  TPersistent* GetOwner() const override { return FOwner; }

  // Reading from a stored definition.
  virtual TComponent* GetChildOwner() { return nullptr; }
  virtual void SetChildOrder(TComponent* Child, int Order);
  virtual void ReadState(TFiler* Reader);
  void DefineProperties(TFiler* Filer) override;
  // Told when every component of the loading scope has been read.
  virtual void Loaded();

 protected:
  // AComponent joins (opInsert) or leaves (opRemove) this owner, or a
  // component this one asked for a free notification is going.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  void SetComponentStateItem(TComponentStateItem Item, bool Value);
  // The links Free releases; the destructor releases what is left. Every
  // link is released even when one step raises; then the first failure is
  // raised again.
  void ReleaseLinks();

 private:
  friend class TReader;
  void Insert(TComponent* AComponent);
  void Remove(TComponent* AComponent);
  void ValidateRename(TComponent* AComponent, const String& NewName) const;
  // Points the owner's published field of this name at this component (or
  // clears it).
  void SetReference(bool Enable);
  void AddFreeNotify(TComponent* AComponent);
  void DropFreeNotify(TComponent* AComponent);

  TComponent* FOwner = nullptr;
  String FName;
  std::int64_t FTag = 0;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  TComponentState FComponentState;
  TComponentStyle FComponentStyle{csInheritable};
  std::int32_t FDesignInfo = 0;
  bool FAnnounced = false;
};

using TComponentClass = TClass;

// Runs steps that must all run, such as those that free things: a step that
// raises does not keep the later ones from running, and the first failure is
// raised again at the end.
class TFirstFailure {
 public:
  template <class F>
  void Run(F&& Step) {
    try {
      Step();
    } catch (...) {
      if (!FFirst) FFirst = std::current_exception();
    }
  }
  bool Failed() const { return bool(FFirst); }
  void RaiseIfFailed() {
    if (FFirst) std::rethrow_exception(std::exchange(FFirst, nullptr));
  }

 private:
  std::exception_ptr FFirst;
};

// Builds a component and finishes its construction (AfterConstruction); a
// failure there frees it again.
template <class T, class... A>
T* NewComponent(A&&... Args) {
  T* c = new T(std::forward<A>(Args)...);
  try {
    c->AfterConstruction();
  } catch (...) {
    delete c;
    throw;
  }
  return c;
}

// The virtual constructor of a component class.
template <class T>
TObject* CreateComponent(TObject* Owner) {
  return NewComponent<T>(dynamic_cast<TComponent*>(Owner));
}

// unique_ptr that frees a component with Free.
struct TComponentFree {
  void operator()(TComponent* C) const { C->Free(); }
};
template <class T>
using TComponentPtr = std::unique_ptr<T, TComponentFree>;

// A letter or "_" first, then letters, digits and "_".
bool IsValidIdent(std::u16string_view Ident);

// The process-wide lock on the component name space: held for writing while
// a stored definition is read and while a data module is destroyed.
platform::TReentrantRWLock& GlobalNameSpace();

// Component classes that stored definitions may name (beyond the classes of
// their root's published fields).
void RegisterClass(TClass AClass);
void UnRegisterClass(TClass AClass);
TClass GetClass(std::u16string_view ClassName);

}  // namespace tolvane
