#pragma once
// A module set: the web modules that serve one request at a time, made by
// the registered factories. While a set makes modules it opens a fixup
// bracket, through which a module being read from its stored definition can
// name the other modules of its set; modules named but missing are made when
// the outermost bracket closes.
#include <vector>

#include <tolvane/dispatch/web_module_list.h>
#include <tolvane/webapp/component_list.h>
#include <tolvane/webapp/web_module_factory.h>

namespace tolvane {

class TWebModuleList : public TAbstractWebModuleList {
  TV_DECLARE_CLASS(TWebModuleList)
 public:
  // Over the factories of a request handler, which stay the handler's.
  explicit TWebModuleList(TWebModuleFactoryList* AFactories);
  // Frees every module still in the set.
  ~TWebModuleList() override;
  TWebModuleList(const TWebModuleList&) = delete;
  TWebModuleList& operator=(const TWebModuleList&) = delete;

  TComponent* GetItem(int I) override;
  int GetItemCount() override;
  TModuleAddedProc GetOnModuleAdded() override { return FModuleAddedProc; }
  void SetOnModuleAdded(TModuleAddedProc AProc) override { FModuleAddedProc = AProc; }
  int GetFactoryCount() override;
  TAbstractWebModuleFactory* GetFactory(int I) override;
  TComponent* FindModuleClass(TClass AClass) override;
  TComponent* FindModuleName(const String& AName) override;
  // Makes a module with every factory of that class; the last one made.
  TComponent* AddModuleClass(TClass AClass) override;
  // Makes a module with the first factory of that module name.
  TComponent* AddModuleName(const String& AName) override;

  // Takes ownership of the module (when adding raises, the caller keeps it)
  // and tells OnModuleAdded.
  void AddModule(TComponent* AComponent);
  // Makes the module of every always-created factory that the set lacks. A
  // set that lacks none (a cached set) opens no bracket and so takes no
  // process-wide lock.
  void AutoCreateModules();
  // Frees the modules of the factories that do not keep them between requests.
  void AutoDestroyModules();
  // Frees every module of the set; when freeing one raises, the others are
  // freed all the same and the first failure is raised.
  void DestroyModules() { FList.Clear(); }

  // The fixup bracket; brackets nest and only the outermost one acts.
  void StartFixup();
  // Closing the outermost bracket looks up or makes every module that was
  // named and missing, and retries the references waiting for them.
  void EndFixup();
  // Remembers a missing module's name, once whatever its letter case.
  void RecordUnresolvedName(const String& Name);
  // Keeps the modules of the factories of that module name between requests.
  void PromoteFactoryClass(const String& Name);

 private:
  class TFixupBracket;
  TComponent* AddMadeModule(TComponent* Made);
  // An always-created factory whose module the set does not hold.
  bool LacksModuleOf(TAbstractWebModuleFactory* Factory);
  void ResolveUnresolvedNames();
  // Leaves a bracket without resolving; the outermost one forgets the names.
  void CloseFixupLevel();

  TWebModuleFactoryList* FFactories;
  TComponentList FList;
  int FFixupLevel = 0;
  std::vector<String> FUnresolvedNames;
  TModuleAddedProc FModuleAddedProc;
  // What the thread's fixup slot held before the outermost bracket opened.
  TWebModuleList* FOuterFixupSet = nullptr;
};

// The module of that name in the set whose bracket is open on the calling
// thread; a name it lacks is recorded there. Null outside a bracket.
TComponent* FindWebModuleComponent(const String& Name);
// Every name counts as unique: a module keeps the name its definition gives.
bool IsUniqueGlobalWebComponentName(const String& Name);

}  // namespace tolvane
