#pragma once
// What the dispatcher and the request handler know of module sets and the
// factories that fill them; the implementations live with the request handler.
#include <tolvane/runtime/component.h>
#include <tolvane/runtime/method_event.h>

namespace tolvane {

enum TWebModuleCreateMode { crOnDemand, crAlways };
enum TWebModuleCacheMode { caCache, caDestroy };

class TAbstractWebPageInfo;

class TAbstractWebModuleFactory : public TObject {
  TV_DECLARE_CLASS(TAbstractWebModuleFactory)
 public:
  // The name under which its modules are looked up.
  virtual String GetModuleName() = 0;
  // Whether it makes the application's main module (one such factory at most).
  virtual bool GetIsAppModule() = 0;
  virtual TWebModuleCreateMode GetCreateMode() = 0;
  virtual TWebModuleCacheMode GetCacheMode() = 0;
  virtual TClass GetComponentClass() = 0;
  virtual TAbstractWebPageInfo* GetWebPageInfo() { return nullptr; }
  // A new module, owned by the caller.
  virtual TComponent* GetModule() = 0;
  // Stop destroying this factory's modules after each request.
  virtual void PreventDestruction() = 0;
};

class TAbstractWebPageModuleFactory : public TAbstractWebModuleFactory {
  TV_DECLARE_CLASS(TAbstractWebPageModuleFactory)
 public:
  // Takes ownership of the page information and tells it its factory.
  explicit TAbstractWebPageModuleFactory(TAbstractWebPageInfo* AWebPageInfo);
  ~TAbstractWebPageModuleFactory() override;
  TAbstractWebPageInfo* GetWebPageInfo() override { return FWebPageInfo; }

 private:
  TAbstractWebPageInfo* FWebPageInfo;
};

class TAbstractWebPageInfo : public TObject {
  TV_DECLARE_CLASS(TAbstractWebPageInfo)
 public:
  virtual String GetPageFile() = 0;
  virtual String GetPageHREF() { return GetPageName(); }
  virtual String GetPageName() = 0;
  virtual String GetPageDescription() { return GetPageName(); }
  virtual String GetPageTitle() { return GetPageName(); }
  virtual bool GetIsPublished() { return false; }
  virtual bool GetIsLoginRequired() { return false; }
  virtual String GetViewAccess() { return String(); }
  virtual void SetFactory(TAbstractWebPageModuleFactory* AFactory) { FFactory = AFactory; }
  TAbstractWebPageModuleFactory* GetFactory() const { return FFactory; }

 private:
  TAbstractWebPageModuleFactory* FFactory = nullptr;
};

// Told of every module added to a set.
using TModuleAddedProc = TMethodEvent<TComponent*>;

// A module set: the group of web modules that serves one request at a time.
class TAbstractWebModuleList : public TObject {
  TV_DECLARE_CLASS(TAbstractWebModuleList)
 public:
  virtual TComponent* GetItem(int I) = 0;
  virtual int GetItemCount() = 0;
  virtual TModuleAddedProc GetOnModuleAdded() = 0;
  virtual void SetOnModuleAdded(TModuleAddedProc AProc) = 0;
  virtual int GetFactoryCount() = 0;
  virtual TAbstractWebModuleFactory* GetFactory(int I) = 0;
  // The first module whose class is exactly AClass, or null.
  virtual TComponent* FindModuleClass(TClass AClass) = 0;
  // The first module of that name (ASCII letters ignoring case), or null.
  virtual TComponent* FindModuleName(const String& AName) = 0;
  virtual TComponent* AddModuleClass(TClass AClass) = 0;
  virtual TComponent* AddModuleName(const String& AName) = 0;
};

}  // namespace tolvane
