#include <tolvane/webapp/web_module_list.h>

#include <algorithm>

#include <tolvane/runtime/exception.h>
#include <tolvane/streaming/global_names.h>

namespace tolvane {

TV_DEFINE_CLASS(TWebModuleList, TAbstractWebModuleList);

namespace {

// The set whose fixup bracket is open on this thread.
thread_local TWebModuleList* FixupSlot = nullptr;

}  // namespace

// Opens a bracket; one left without Close (an exception) is closed without
// resolving anything, since the modules that named the missing ones may be
// gone and nothing may be built while the exception travels.
class TWebModuleList::TFixupBracket {
 public:
  explicit TFixupBracket(TWebModuleList& AList) : FList(AList) { FList.StartFixup(); }
  ~TFixupBracket() {
    if (!FClosed) FList.CloseFixupLevel();
  }
  TFixupBracket(const TFixupBracket&) = delete;
  TFixupBracket& operator=(const TFixupBracket&) = delete;
  void Close() {
    FClosed = true;
    FList.EndFixup();
  }

 private:
  TWebModuleList& FList;
  bool FClosed = false;
};

TWebModuleList::TWebModuleList(TWebModuleFactoryList* AFactories) : FFactories(AFactories) {}

TWebModuleList::~TWebModuleList() {
  if (FFixupLevel > 0 && FixupSlot == this) FixupSlot = FOuterFixupSet;
}

TComponent* TWebModuleList::GetItem(int I) { return FList.Items(I); }

int TWebModuleList::GetItemCount() { return FList.Count(); }

int TWebModuleList::GetFactoryCount() { return FFactories ? FFactories->GetItemCount() : 0; }

TAbstractWebModuleFactory* TWebModuleList::GetFactory(int I) {
  if (!FFactories) throw EListError(u"List index out of bounds (%d)", {I});
  return FFactories->GetItem(I);
}

TComponent* TWebModuleList::FindModuleClass(TClass AClass) {
  for (TComponent* m : FList.List())
    if (m->ClassType() == AClass) return m;
  return nullptr;
}

TComponent* TWebModuleList::FindModuleName(const String& AName) {
  for (TComponent* m : FList.List())
    if (SameTextAscii(m->Name(), AName)) return m;
  return nullptr;
}

void TWebModuleList::AddModule(TComponent* AComponent) {
  if (!AComponent) return;
  FList.Add(AComponent);
  if (FModuleAddedProc) FModuleAddedProc(AComponent);
}

TComponent* TWebModuleList::AddMadeModule(TComponent* Made) {
  if (!Made) return nullptr;
  // Ours from the moment it exists, so nothing can drop it on the way in.
  TComponentPtr<TComponent> owned(Made);
  FList.Add(Made);
  owned.release();
  if (FModuleAddedProc) FModuleAddedProc(Made);
  return Made;
}

TComponent* TWebModuleList::AddModuleClass(TClass AClass) {
  TComponent* result = nullptr;
  for (int i = 0; i < GetFactoryCount(); ++i) {
    TAbstractWebModuleFactory* factory = GetFactory(i);
    if (factory->GetComponentClass() != AClass) continue;
    TFixupBracket bracket(*this);
    result = AddMadeModule(factory->GetModule());
    bracket.Close();
  }
  return result;
}

TComponent* TWebModuleList::AddModuleName(const String& AName) {
  for (int i = 0; i < GetFactoryCount(); ++i) {
    TAbstractWebModuleFactory* factory = GetFactory(i);
    if (!SameTextAscii(factory->GetModuleName(), AName)) continue;
    TFixupBracket bracket(*this);
    TComponent* result = AddMadeModule(factory->GetModule());
    bracket.Close();
    return result;
  }
  return nullptr;
}

bool TWebModuleList::LacksModuleOf(TAbstractWebModuleFactory* Factory) {
  return Factory->GetCreateMode() == crAlways && !FindModuleClass(Factory->GetComponentClass());
}

void TWebModuleList::AutoCreateModules() {
  int first = 0;
  while (first < GetFactoryCount() && !LacksModuleOf(GetFactory(first))) ++first;
  // A bracket that makes nothing resolves nothing either.
  if (first == GetFactoryCount()) return;
  TFixupBracket bracket(*this);
  for (int i = first; i < GetFactoryCount(); ++i) {
    TAbstractWebModuleFactory* factory = GetFactory(i);
    if (LacksModuleOf(factory)) AddMadeModule(factory->GetModule());
  }
  bracket.Close();
}

void TWebModuleList::AutoDestroyModules() {
  for (int i = 0; i < GetFactoryCount(); ++i) {
    TAbstractWebModuleFactory* factory = GetFactory(i);
    if (factory->GetCacheMode() != caDestroy) continue;
    // The set hears of the module's end and drops it.
    if (TComponent* module = FindModuleClass(factory->GetComponentClass())) module->Free();
  }
}

void TWebModuleList::StartFixup() {
  if (++FFixupLevel != 1) return;
  FOuterFixupSet = FixupSlot;
  FixupSlot = this;
  RegisterFindGlobalComponentProc(FindWebModuleComponent);
  // Always the same value, and the hook is atomic: no lock is needed.
  IsUniqueGlobalComponentNameProc.store(IsUniqueGlobalWebComponentName);
}

void TWebModuleList::EndFixup() {
  if (FFixupLevel <= 0) return;
  if (FFixupLevel == 1) {
    // The loop runs inside the outermost bracket: modules it makes open
    // nested brackets, and what they record joins this same loop, while the
    // thread's slot still answers for this set.
    try {
      ResolveUnresolvedNames();
    } catch (...) {
      CloseFixupLevel();
      throw;
    }
  }
  CloseFixupLevel();
}

void TWebModuleList::CloseFixupLevel() {
  if (FFixupLevel <= 0 || --FFixupLevel > 0) return;
  FUnresolvedNames.clear();
  if (FixupSlot == this) FixupSlot = FOuterFixupSet;
  FOuterFixupSet = nullptr;
}

void TWebModuleList::ResolveUnresolvedNames() {
  // A name is made at most once per closing: a factory whose module answers
  // to another name would otherwise be asked again and again.
  std::vector<String> made;
  while (!FUnresolvedNames.empty()) {
    String name = std::move(FUnresolvedNames.front());
    FUnresolvedNames.erase(FUnresolvedNames.begin());
    bool found = FindModuleName(name) != nullptr;
    if (!found && std::none_of(made.begin(), made.end(), [&](const String& n) { return SameTextAscii(n, name); })) {
      made.push_back(name);
      found = AddModuleName(name) != nullptr;
    }
    if (!found) continue;
    PromoteFactoryClass(name);
    GlobalFixupReferences();
  }
}

void TWebModuleList::RecordUnresolvedName(const String& Name) {
  for (const String& n : FUnresolvedNames)
    if (SameText(n, Name)) return;
  FUnresolvedNames.push_back(Name);
}

void TWebModuleList::PromoteFactoryClass(const String& Name) {
  for (int i = 0; i < GetFactoryCount(); ++i) {
    TAbstractWebModuleFactory* factory = GetFactory(i);
    if (SameTextAscii(factory->GetModuleName(), Name) && factory->GetCacheMode() == caDestroy)
      factory->PreventDestruction();
  }
}

TComponent* FindWebModuleComponent(const String& Name) {
  TWebModuleList* set = FixupSlot;
  if (!set || Name.empty()) return nullptr;
  if (TComponent* module = set->FindModuleName(Name)) return module;
  set->RecordUnresolvedName(Name);
  return nullptr;
}

bool IsUniqueGlobalWebComponentName(const String&) { return true; }

}  // namespace tolvane
