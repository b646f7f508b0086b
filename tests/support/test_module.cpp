#include "support/test_module.h"

#include <tolvane/platform/rw_lock.h>
#include <tolvane/runtime/stream.h>
#include <tolvane/streaming/component_res.h>
#include <tolvane/streaming/reader.h>
#include "support/application_page.h"

namespace tolvane::test {

namespace {

const TPropInfo ActionItemProps[] = {
    WithDefault(TV_PROPERTY(TTestActionItem, Default), 0),
    WithDefault(TV_PROPERTY(TTestActionItem, Enabled), 1),
    WithDefault(TV_PROPERTY(TTestActionItem, MethodType), tmAny),
    TV_PROPERTY(TTestActionItem, Name),
    TV_PROPERTY(TTestActionItem, PathInfo),
    TV_PROPERTY(TTestActionItem, OnAction),
};

const TPropInfo PartProps[] = {
    TV_PROPERTY(TTestPart, Partner), TV_PROPERTY(TTestPart, Big),     TV_PROPERTY(TTestPart, Ratio),
    TV_PROPERTY(TTestPart, Letter),  TV_PROPERTY(TTestPart, Methods), TV_PROPERTY(TTestPart, Caption),
};

const TPropInfo OptionsProps[] = {TV_PROPERTY(TTestOptions, Level)};
const TPropInfo LinkItemProps[] = {TV_PROPERTY(TTestLinkItem, Target), TV_PROPERTY(TTestLinkItem, Links)};
const TPropInfo ModuleProps[] = {TV_PROPERTY(TTestModule, Actions), TV_PROPERTY_READONLY(TTestModule, Options),
                                 TV_PROPERTY(TTestModule, Links)};
const TMethodInfo ModuleMethods[] = {
    TV_METHOD(TTestModule, WebModule1DefaultHandlerAction),
    TV_METHOD(TTestModule, ModuleCreated),
};
const TFieldInfo ModuleFields[] = {TV_FIELD(TTestModule, Part1)};

}  // namespace

TV_DEFINE_CLASS(TTestActionItem, TCollectionItem, CreateItem<TTestActionItem>, ActionItemProps);
TV_DEFINE_CLASS(TTestActions, TCollection);
TV_DEFINE_CLASS(TTestPart, TComponent, CreateComponent<TTestPart>, PartProps);
TV_DEFINE_CLASS(TTestRegisteredPart, TTestPart, CreateComponent<TTestRegisteredPart>);
TV_DEFINE_CLASS(TTestOptions, TPersistent, nullptr, OptionsProps);
TV_DEFINE_CLASS(TTestLinkItem, TCollectionItem, CreateItem<TTestLinkItem>, LinkItemProps);
TV_DEFINE_CLASS(TTestLinks, TCollection);
TV_DEFINE_CLASS(TTestModule, TDataModule, CreateComponent<TTestModule>, ModuleProps, ModuleMethods, ModuleFields);
TV_DEFINE_CLASS(TWebModule1, TTestModule, CreateComponent<TWebModule1>);

void TTestPart::DefineProperties(TFiler* Filer) {
  TComponent::DefineProperties(Filer);
  Filer->DefineBinaryProperty(
      u"Blob",
      [this](TStream& S) {
        FBlob.resize(std::size_t(S.Size()));
        S.ReadBuffer(FBlob.data(), S.Size());
      },
      !FBlob.empty());
}

// A stored reference to no collection empties it (assigning none would raise).
template <class C>
void AssignOrClear(C& Collection, C* Value) {
  if (Value) Collection.Assign(Value);
  else Collection.Clear();
}

TTestLinkItem::TTestLinkItem() : FLinks(std::make_unique<TTestLinks>(this)) {}
TTestLinkItem::~TTestLinkItem() = default;
void TTestLinkItem::SetLinks(TTestLinks* Value) { AssignOrClear(*FLinks, Value); }
void TTestModule::SetLinks(TTestLinks* Value) { AssignOrClear(*FLinks, Value); }

TTestModule::TTestModule(TComponent* AOwner)
    : TDataModule(AOwner), FActions(std::make_unique<TTestActions>(this)) {}

void TTestModule::WebModule1DefaultHandlerAction(TObject* Sender, String& Content, bool& Handled) {
  LastSender = Sender;
  Content = StringOf(tolvane::testing::kApplicationPage);
  Handled = true;
}

void TTestModule::ModuleCreated(TObject* Sender) { LastSender = Sender; }

TComponentPtr<TTestModule> TTestModule::Load(std::span<const std::uint8_t> Definition) {
  TComponentPtr<TTestModule> module(NewComponent<TTestModule>(nullptr));
  platform::TWriteLock nameSpace(GlobalNameSpace());
  TLoadingScope scope;
  ReadComponentData(Definition, module.get());
  scope.NotifyLoaded();
  return module;
}

TWebModule1::TWebModule1(TComponent* AOwner) : TTestModule(AOwner) {
  InitInheritedComponent(this, TTestModule::StaticClass());
}

}  // namespace tolvane::test
