#pragma once
// The registered module factories of a request handler, and the factory that
// makes modules of one class through its virtual constructor.
#include <memory>
#include <vector>

#include <tolvane/dispatch/web_module_list.h>

namespace tolvane {

class TWebModuleFactoryList : public TObject {
  TV_DECLARE_CLASS(TWebModuleFactoryList)
 public:
  TWebModuleFactoryList() = default;
  ~TWebModuleFactoryList() override;
  TWebModuleFactoryList(const TWebModuleFactoryList&) = delete;
  TWebModuleFactoryList& operator=(const TWebModuleFactoryList&) = delete;

  // Registers the factory at the end and owns it from now on. Raises
  // ECorvelException, leaving the list as it was, for a factory already
  // registered ("Web Module Factory already registered") and for a second
  // app-module factory ("Web App Module Factory already registered."). A
  // refused factory is freed, except one the list already holds.
  void AddFactory(std::unique_ptr<TAbstractWebModuleFactory> AFactory);

  // The registered factory that makes the application's main module, or null.
  TAbstractWebModuleFactory* AppModuleFactory() const { return FAppModuleFactory; }
  // Raises EListError for an index out of range.
  TAbstractWebModuleFactory* GetItem(int I) const;
  int GetItemCount() const { return int(FList.size()); }

 private:
  TAbstractWebModuleFactory* FAppModuleFactory = nullptr;
  std::vector<std::unique_ptr<TAbstractWebModuleFactory>> FList;
};

// Makes modules of one component class, with no owner; the module reads its
// stored definition itself while it is constructed. Its modules are the
// application's main module, made in every set and kept between requests.
class TDefaultWebModuleFactory : public TAbstractWebModuleFactory {
  TV_DECLARE_CLASS(TDefaultWebModuleFactory)
 public:
  explicit TDefaultWebModuleFactory(TComponentClass AComponentClass);

  // The class name without its first letter ("TWebModule1" gives "WebModule1").
  String GetModuleName() override;
  bool GetIsAppModule() override { return true; }
  TWebModuleCreateMode GetCreateMode() override { return crAlways; }
  TWebModuleCacheMode GetCacheMode() override { return caCache; }
  TClass GetComponentClass() override { return FComponentClass; }
  // Raises EComponentError when the class is not a component class with a
  // virtual constructor.
  TComponent* GetModule() override;
  void PreventDestruction() override {}

 private:
  TComponentClass FComponentClass;
};

}  // namespace tolvane
