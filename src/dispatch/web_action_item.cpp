#include <tolvane/dispatch/web_action_item.h>

#include <tolvane/dispatch/content_producer.h>
#include <tolvane/dispatch/web_dispatcher.h>
#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/format.h>

namespace tolvane {

namespace {

constinit const TPropInfo ActionItemProps[] = {
    WithDefault(TV_PROPERTY(TWebActionItem, Default), 0),
    WithDefault(TV_PROPERTY(TWebActionItem, Enabled), 1),
    WithDefault(TV_PROPERTY(TWebActionItem, MethodType), 0),
    Published<&TWebActionItem::GetDisplayName, &TWebActionItem::SetDisplayName>(u"Name"),
    Published<&TWebActionItem::GetPathInfo, &TWebActionItem::SetPathInfo>(u"PathInfo"),
    TV_PROPERTY(TWebActionItem, Producer),
    TV_PROPERTY(TWebActionItem, ProducerContent),
    TV_PROPERTY(TWebActionItem, OnAction),
};

// The action path "/" and the request path "/" both stand for the empty path.
String EmptyForRoot(String Path) {
  if (Path == u"/") Path.clear();
  return Path;
}

}  // namespace

TV_DEFINE_CLASS(TWebActionItem, TCollectionItem, CreateItem<TWebActionItem>, ActionItemProps);
TV_DEFINE_CLASS(TWebActionItems, TCollection);

TWebActionItem::~TWebActionItem() = default;

TWebActionItems* TWebActionItem::ActionItems() const { return dynamic_cast<TWebActionItems*>(Collection()); }

TCustomWebDispatcher* TWebActionItem::Dispatcher() const {
  TWebActionItems* items = ActionItems();
  return items ? items->WebDispatcher() : nullptr;
}

bool TWebActionItem::DispatchAction(TWebRequest* Request, TWebResponse* Response, bool DoDefault) {
  bool result = false;
  // The method is asked before the mask, so that an invalid path only fails
  // requests it could have answered.
  bool accepted = (DoDefault && FDefault) ||
                  (FEnabled && (FMethodType == TMethodType::mtAny || FMethodType == Request->MethodType()) &&
                   GetMask()->Matches(EmptyForRoot(StringOf(Request->InternalPathInfo()))));
  if (!accepted) return false;
  if (FProducer) {
    result = true;
    Response->SetUnicodeContent(FProducer->Content());
  } else if (FProducerContent) {
    IProduceContent* produce = Supports<IProduceContent>(FProducerContent);
    result = produce != nullptr;
    if (produce) Response->SetUnicodeContent(produce->ProduceContent());
  }
  if (FOnAction) {
    result = true;
    // The handler may free this item: nothing of it is read afterwards.
    const THTTPMethodEvent onAction = FOnAction;
    onAction(this, Request, Response, result);
  }
  return result;
}

void TWebActionItem::SetDisplayName(const String& Value) {
  if (SameText(Value, FName)) return;
  if (TCollection* items = Collection())
    for (int i = 0; i < items->Count(); ++i) {
      auto* other = static_cast<TWebActionItem*>(items->GetItem(i));
      if (other != this && SameText(Value, other->FName)) throw ECorvelException(u"Duplicate action name");
    }
  FName = Value;
  TCollectionItem::SetDisplayName(Value);
}

void TWebActionItem::SetDefault(bool Value) {
  if (Value == FDefault) return;
  if (Value)
    if (TCollection* items = Collection())
      for (int i = 0; i < items->Count(); ++i) {
        auto* other = static_cast<TWebActionItem*>(items->GetItem(i));
        if (other != this) other->SetDefault(false);
      }
  FDefault = Value;
  Changed(false);
}

void TWebActionItem::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  Changed(false);
}

void TWebActionItem::SetMethodType(TMethodType Value) {
  if (Value == FMethodType) return;
  FMethodType = Value;
  Changed(false);
}

void TWebActionItem::SetOnAction(const THTTPMethodEvent& Value) {
  FOnAction = Value;
  Changed(false);
}

String TWebActionItem::GetPathInfo() const {
  if (FPathInfo.empty() && FProducer) return ProducerPathInfo();
  return FPathInfo;
}

void TWebActionItem::SetPathInfo(const String& Value) {
  String path = DosPathToUnixPath(Value);
  if (!path.empty() && path[0] != u'/') path.insert(path.begin(), u'/');
  if (FProducer && path == ProducerPathInfo()) path.clear();
  if (CompareText(path, FPathInfo) != 0) {
    FPathInfo = std::move(path);
    Changed(false);
  }
}

String TWebActionItem::ProducerPathInfo() const { return u"/" + (FProducer ? FProducer->Name() : String()); }

TMask* TWebActionItem::GetMask() {
  String path = EmptyForRoot(GetPathInfo());
  if (!FMask || CompareText(FMaskPathInfo, path) != 0) {
    // Compiled first: an invalid path leaves the previous mask in place.
    auto mask = std::make_unique<TMask>(path);
    FMaskPathInfo = std::move(path);
    FMask = std::move(mask);
  }
  return FMask.get();
}

void TWebActionItem::SetProducer(TCustomContentProducer* Value) {
  if (Value) {
    if (TCustomWebDispatcher* dispatcher = Dispatcher()) Value->FreeNotification(dispatcher);
    FProducerContent = nullptr;
  }
  FProducer = Value;
}

void TWebActionItem::SetProducerContent(TComponent* Value) {
  if (Value) {
    if (TCustomWebDispatcher* dispatcher = Dispatcher()) Value->FreeNotification(dispatcher);
    FProducer = nullptr;
  }
  FProducerContent = Value;
}

void TWebActionItem::AssignTo(TPersistent* Dest) const {
  auto* dest = dynamic_cast<TWebActionItem*>(Dest);
  if (!dest) {
    TCollectionItem::AssignTo(Dest);
    return;
  }
  TCollection* items = Collection();
  if (items) items->BeginUpdate();
  try {
    dest->SetDefault(FDefault);
    dest->SetPathInfo(GetPathInfo());
    dest->SetEnabled(FEnabled);
    dest->SetMethodType(FMethodType);
  } catch (...) {
    if (items) items->EndUpdate();
    throw;
  }
  if (items) items->EndUpdate();
}

TWebActionItems::TWebActionItems(TCustomWebDispatcher* WebDispatcher, TClass ItemClass)
    : TCollection(ItemClass), FWebDispatcher(WebDispatcher) {}

TWebActionItem* TWebActionItems::Add() { return static_cast<TWebActionItem*>(TCollection::Add()); }

TPersistent* TWebActionItems::GetOwner() const { return FWebDispatcher; }

void TWebActionItems::SetItemName(TCollectionItem* Item) {
  for (int n = 1;; ++n) {
    String candidate = Format(u"WebActionItem%d", {n});
    bool taken = false;
    for (int i = 0; i < Count() && !taken; ++i) {
      TCollectionItem* other = GetItem(i);
      taken = other != Item && SameTextAscii(other->GetDisplayName(), candidate);
    }
    if (!taken) {
      Item->SetDisplayName(candidate);
      return;
    }
  }
}

String TWebActionItems::GetAttr(int Index) const {
  switch (Index) {
    case 0: return u"Name";
    case 1: return u"PathInfo";
    case 2: return u"Enabled";
    case 3: return u"Default";
    case 4: return u"Producer";
    default: return String();
  }
}

String TWebActionItems::GetItemAttr(int Index, int ItemIndex) const {
  TWebActionItem* item = GetActionItem(ItemIndex);
  switch (Index) {
    case 0: return item->GetDisplayName();
    case 1: return item->GetPathInfo();
    case 2: return item->Enabled() ? u"True" : u"False";
    case 3: return item->Default() ? u"*" : u"";
    case 4:
      if (item->Producer()) return item->Producer()->Name();
      if (item->ProducerContent()) return item->ProducerContent()->Name();
      return String();
    default: return String();
  }
}

}  // namespace tolvane
