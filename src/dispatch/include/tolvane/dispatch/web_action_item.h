#pragma once
// Action items: each binds a request method and a path pattern to a handler
// (OnAction), a content producer, or both. A dispatcher owns one ordered
// collection of them and offers each request to the items in order; one item
// may be the default, offered the request last when nothing else took it.
#include <memory>
#include <span>

#include <tolvane/dispatch/mask.h>
#include <tolvane/dispatch/web_interfaces.h>
#include <tolvane/runtime/collection.h>
#include <tolvane/runtime/published.h>

namespace tolvane {

class TCustomContentProducer;
class TCustomWebDispatcher;
class TWebActionItems;

inline constexpr const char16_t* MethodTypeNames[] = {u"mtAny", u"mtGet", u"mtPut", u"mtPost", u"mtHead"};
template <>
inline constexpr std::span<const char16_t* const> EnumValueNames<TMethodType> = MethodTypeNames;

class TWebActionItem : public TCollectionItem {
  TV_DECLARE_CLASS(TWebActionItem)
 public:
  TWebActionItem() = default;
  ~TWebActionItem() override;

  // Offers the request to this item; true when it handled it. With DoDefault
  // a default item accepts whatever its Enabled, method type and path.
  bool DispatchAction(TWebRequest* Request, TWebResponse* Response, bool DoDefault);

  String GetDisplayName() const override { return FName; }
  // Raises ECorvelException "Duplicate action name" when another item of the
  // collection bears Value (ignoring case); a change of case alone is ignored.
  void SetDisplayName(const String& Value) override;

  bool Default() const { return FDefault; }
  // Setting it clears it on every other item of the collection.
  void SetDefault(bool Value);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  TMethodType MethodType() const { return FMethodType; }
  void SetMethodType(TMethodType Value);
  const THTTPMethodEvent& OnAction() const { return FOnAction; }
  void SetOnAction(const THTTPMethodEvent& Value);

  // The stored path, or the producer's path when none is stored.
  String GetPathInfo() const;
  // Backslashes become slashes and a leading slash is added; the producer's
  // own path is stored as empty; a change of case alone is ignored.
  void SetPathInfo(const String& Value);
  // "/" followed by the producer's name.
  String ProducerPathInfo() const;
  // The compiled path, rebuilt when the path has changed. Raises
  // EMaskException for an invalid path and then keeps the previous mask.
  TMask* GetMask();

  TCustomContentProducer* Producer() const { return FProducer; }
  void SetProducer(TCustomContentProducer* Value);
  TComponent* ProducerContent() const { return FProducerContent; }
  void SetProducerContent(TComponent* Value);

  TWebActionItems* ActionItems() const;

 protected:
  // Copies Default, PathInfo, Enabled and MethodType into another action item.
  void AssignTo(TPersistent* Dest) const override;

 private:
  friend class TCustomWebDispatcher;
  TCustomWebDispatcher* Dispatcher() const;

  THTTPMethodEvent FOnAction;
  String FPathInfo;
  TMethodType FMethodType = TMethodType::mtAny;
  bool FDefault = false;
  bool FEnabled = true;
  String FMaskPathInfo;
  std::unique_ptr<TMask> FMask;
  String FName;
  TCustomContentProducer* FProducer = nullptr;  // not owned
  TComponent* FProducerContent = nullptr;       // not owned
};

class TWebActionItems : public TCollection {
  TV_DECLARE_CLASS(TWebActionItems)
 public:
  TWebActionItems(TCustomWebDispatcher* WebDispatcher, TClass ItemClass);

  // Appends a new item, named "WebActionItem<N>" with the lowest free N.
  TWebActionItem* Add();
  TWebActionItem* GetActionItem(int Index) const { return static_cast<TWebActionItem*>(GetItem(Index)); }
  // Copies Value's settings into the existing item at Index.
  void SetActionItem(int Index, const TWebActionItem* Value) { GetActionItem(Index)->Assign(Value); }
  TCustomWebDispatcher* WebDispatcher() const { return FWebDispatcher; }
  TPersistent* GetOwner() const override;

  // The items as rows of a five-column table for editing tools.
  int GetAttrCount() const { return 5; }
  String GetAttr(int Index) const;
  String GetItemAttr(int Index, int ItemIndex) const;

 protected:
  void SetItemName(TCollectionItem* Item) override;
  void Update(TCollectionItem*) override {}

 private:
  TCustomWebDispatcher* FWebDispatcher;  // not owned: the owner
};

}  // namespace tolvane
