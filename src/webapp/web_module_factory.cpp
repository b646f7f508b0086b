#include <tolvane/webapp/web_module_factory.h>

#include <algorithm>

#include <tolvane/runtime/exception.h>

namespace tolvane {

TV_DEFINE_CLASS(TWebModuleFactoryList, TObject);
TV_DEFINE_CLASS(TDefaultWebModuleFactory, TAbstractWebModuleFactory);

TWebModuleFactoryList::~TWebModuleFactoryList() = default;

void TWebModuleFactoryList::AddFactory(std::unique_ptr<TAbstractWebModuleFactory> AFactory) {
  if (!AFactory) return;
  bool held = std::any_of(FList.begin(), FList.end(), [&](const auto& f) { return f.get() == AFactory.get(); });
  if (held) {
    // It is ours already: the caller's pointer must not free it.
    AFactory.release();
    throw ECorvelException(u"Web Module Factory already registered");
  }
  bool isApp = AFactory->GetIsAppModule();
  if (isApp && FAppModuleFactory) throw ECorvelException(u"Web App Module Factory already registered.");
  FList.push_back(std::move(AFactory));
  if (isApp) FAppModuleFactory = FList.back().get();
}

TAbstractWebModuleFactory* TWebModuleFactoryList::GetItem(int I) const {
  if (I < 0 || I >= GetItemCount()) throw EListError(u"List index out of bounds (%d)", {I});
  return FList[std::size_t(I)].get();
}

TDefaultWebModuleFactory::TDefaultWebModuleFactory(TComponentClass AComponentClass)
    : FComponentClass(AComponentClass) {}

String TDefaultWebModuleFactory::GetModuleName() {
  if (!FComponentClass) return String();
  String name = FComponentClass->Name;
  return name.empty() ? name : name.substr(1);
}

TComponent* TDefaultWebModuleFactory::GetModule() {
  String className = FComponentClass ? String(FComponentClass->Name) : String(u"nil");
  if (!FComponentClass || !FComponentClass->Create || !FComponentClass->InheritsFrom(TComponent::StaticClass()))
    throw EComponentError(u"Cannot create a module of class %s", {className});
  TObject* made = FComponentClass->Create(nullptr);
  auto* module = dynamic_cast<TComponent*>(made);
  if (!module) {
    delete made;
    throw EComponentError(u"Cannot create a module of class %s", {className});
  }
  return module;
}

}  // namespace tolvane
