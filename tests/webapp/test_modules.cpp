#include "webapp/test_modules.h"

#include <optional>

#include <tolvane/platform/rw_lock.h>
#include <tolvane/runtime/exception.h>
#include <tolvane/streaming/component_res.h>
#include <tolvane/streaming/reader.h>
#include "support/definition_writer.h"

namespace tolvane::test {

TV_DEFINE_CLASS(TPlainModule, TComponent, CreateComponent<TPlainModule>);
TV_DEFINE_CLASS(TDerivedPlainModule, TPlainModule, CreateComponent<TDerivedPlainModule>);
TV_DEFINE_CLASS(TSecondPlainModule, TPlainModule, CreateComponent<TSecondPlainModule>);
TV_DEFINE_CLASS(TTargetModule, TComponent, CreateComponent<TTargetModule>);
TV_DEFINE_CLASS(TElsewhereModule, TComponent, CreateComponent<TElsewhereModule>);
TV_DEFINE_CLASS(TBrokenModule, TComponent, CreateComponent<TBrokenModule>);
TV_DEFINE_CLASS(TStoredModule, TTestModule);
TV_DEFINE_CLASS(TReferrerModule, TStoredModule, CreateComponent<TReferrerModule>);
TV_DEFINE_CLASS(TStoredTargetModule, TStoredModule, CreateComponent<TStoredTargetModule>);
TV_DEFINE_CLASS(TFailingModule, TStoredModule, CreateComponent<TFailingModule>);

namespace {

using TBytes = std::vector<std::uint8_t>;

void AddThing(TComponent* Module) {
  auto* thing = NewComponent<TTestPart>(Module);
  thing->SetName(u"Thing");
}

const TBytes& ReferrerDefinition() {
  static const TBytes bytes = [] {
    TDefinitionWriter w;
    w.Signature().Component("TReferrerModule", "Referrer").End();
    w.Component("TTestPart", "Part1").Prop("Partner").Ident("Target.Thing").End().End();
    w.Component("TTestPart", "Part2").Prop("Partner").Ident("TARGET.Thing").End().End();
    w.End();
    return w.Bytes;
  }();
  return bytes;
}

const TBytes& StoredTargetDefinition() {
  static const TBytes bytes = [] {
    TDefinitionWriter w;
    w.Signature().Component("TStoredTargetModule", "Target").End();
    w.Component("TTestPart", "Thing").End().End();
    w.End();
    return w.Bytes;
  }();
  return bytes;
}

const TBytes& FailingDefinition() {
  static const TBytes bytes = [] {
    TDefinitionWriter w;
    w.Signature().Component("TFailingModule", "Failing").End();
    w.Component("TTestPart", "Part1").End().End();
    w.Component("TTestPart", "Part2").Prop("Colour").Int8(1).End().End();
    w.End();
    return w.Bytes;
  }();
  return bytes;
}

}  // namespace

TTargetModule::TTargetModule(TComponent* AOwner) : TComponent(AOwner) {
  SetName(u"Target");
  AddThing(this);
}

TElsewhereModule::TElsewhereModule(TComponent* AOwner) : TComponent(AOwner) {
  SetName(u"Elsewhere");
  AddThing(this);
}

TBrokenModule::TBrokenModule(TComponent* AOwner) : TComponent(AOwner) {
  AddThing(this);
  throw EComponentError(u"Broken on purpose");
}

TStoredModule::TStoredModule(TComponent* AOwner, std::span<const std::uint8_t> Definition) : TTestModule(AOwner) {
  platform::TWriteLock nameSpace(GlobalNameSpace());
  std::optional<TLoadingScope> scope;
  if (!ComponentState().Contains(csLoading)) scope.emplace();
  ReadComponentData(Definition, this);
  if (scope) scope->NotifyLoaded();
}

TReferrerModule::TReferrerModule(TComponent* AOwner) : TStoredModule(AOwner, ReferrerDefinition()) {}
TStoredTargetModule::TStoredTargetModule(TComponent* AOwner) : TStoredModule(AOwner, StoredTargetDefinition()) {}
TFailingModule::TFailingModule(TComponent* AOwner) : TStoredModule(AOwner, FailingDefinition()) {}

TTestFactory* AddTestFactory(TWebModuleFactoryList& List, TClass AClass, const String& AName,
                             TWebModuleCreateMode ACreateMode, TWebModuleCacheMode ACacheMode) {
  auto factory = std::make_unique<TTestFactory>(AClass, AName, ACreateMode, ACacheMode);
  TTestFactory* result = factory.get();
  List.AddFactory(std::move(factory));
  return result;
}

}  // namespace tolvane::test
