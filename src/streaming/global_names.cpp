#include <tolvane/streaming/global_names.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace tolvane {

namespace {

std::mutex FindersLock;
std::vector<TFindGlobalComponent>& Finders() {
  static std::vector<TFindGlobalComponent> finders;
  return finders;
}

std::mutex FixupsLock;
std::vector<TPropFixup>& GlobalFixups() {
  static std::vector<TPropFixup> fixups;
  return fixups;
}

bool DefaultIsUniqueGlobalComponentName(const String& Name) { return FindGlobalComponent(Name) == nullptr; }

// The lists of the readers at work on this thread, innermost first.
thread_local TFixupList* LocalFixupLists = nullptr;

bool Concerns(const TPropFixup& Fixup, const TPersistent* Object) {
  return Fixup.Instance == Object || Fixup.Root == Object;
}

bool SameFixup(const TPropFixup& A, const TPropFixup& B) {
  return A.Instance == B.Instance && A.Prop == B.Prop && A.Root == B.Root && A.Name == B.Name;
}

// An object that holds a waiting reference drops it when it goes; the hook is
// in place before the first one can wait.
void MarkWaiting(TPersistent* Object) {
  RemoveFixupReferencesProc.store(RemoveFixupReferences, std::memory_order_release);
  Object->SetFixupsPending();
}

// Whether Fixup is still in the process-wide list (its objects did not go
// while other references were resolved); with Take, it is taken out.
bool StillWaiting(const TPropFixup& Fixup, bool Take) {
  std::lock_guard lock(FixupsLock);
  auto& fixups = GlobalFixups();
  auto it = std::find_if(fixups.begin(), fixups.end(), [&](const TPropFixup& f) { return SameFixup(f, Fixup); });
  if (it == fixups.end()) return false;
  if (Take) fixups.erase(it);
  return true;
}


}  // namespace

std::atomic<TIsUniqueGlobalComponentName> IsUniqueGlobalComponentNameProc{DefaultIsUniqueGlobalComponentName};

void RegisterFindGlobalComponentProc(TFindGlobalComponent Proc) {
  std::lock_guard lock(FindersLock);
  auto& finders = Finders();
  if (std::find(finders.begin(), finders.end(), Proc) == finders.end()) finders.push_back(Proc);
}

void UnregisterFindGlobalComponentProc(TFindGlobalComponent Proc) {
  std::lock_guard lock(FindersLock);
  auto& finders = Finders();
  finders.erase(std::remove(finders.begin(), finders.end(), Proc), finders.end());
}

TComponent* FindGlobalComponent(const String& Name) {
  std::vector<TFindGlobalComponent> finders;
  {
    // A finder may load modules, which registers finders: ask outside the lock.
    std::lock_guard lock(FindersLock);
    finders = Finders();
  }
  for (auto it = finders.rbegin(); it != finders.rend(); ++it)
    if (TComponent* found = (*it)(Name)) return found;
  return nullptr;
}

TComponent* FindNestedComponent(TComponent* Root, std::u16string_view Path) {
  TComponent* current = Root;
  bool first = true;
  while (current) {
    std::size_t dot = Path.find(u'.');
    String name(Path.substr(0, dot));
    TComponent* next = current->FindComponent(name);
    if (!next && first) next = FindGlobalComponent(name);
    current = next;
    first = false;
    if (dot == std::u16string_view::npos) break;
    Path.remove_prefix(dot + 1);
  }
  return current;
}

TFixupList::TFixupList() : FOuter(LocalFixupLists) { LocalFixupLists = this; }

TFixupList::~TFixupList() {
  for (TFixupList** link = &LocalFixupLists; *link; link = &(*link)->FOuter)
    if (*link == this) {
      *link = FOuter;
      break;
    }
}

void TFixupList::Add(TPropFixup Fixup) {
  MarkWaiting(Fixup.Instance);
  FItems.push_back(std::move(Fixup));
}

bool TFixupList::TakeFirst(TPropFixup& Fixup) {
  if (FItems.empty()) return false;
  Fixup = std::move(FItems.front());
  FItems.pop_front();
  return true;
}

void TFixupList::Remove(const TPersistent* Object) {
  std::erase_if(FItems, [&](const TPropFixup& f) { return Concerns(f, Object); });
}

void AddGlobalFixup(TPropFixup Fixup) {
  MarkWaiting(Fixup.Root);
  MarkWaiting(Fixup.Instance);
  std::lock_guard lock(FixupsLock);
  GlobalFixups().push_back(std::move(Fixup));
}

void GlobalFixupReferences() {
  platform::TWriteLock nameSpace(GlobalNameSpace());
  std::vector<TPropFixup> pending;
  {
    std::lock_guard lock(FixupsLock);
    pending = GlobalFixups();
  }
  // Resolved outside the list lock: the finders may load modules, which adds
  // references of their own, or free objects, which drops theirs. So each
  // reference is set only if it still waits once its component is found.
  for (const TPropFixup& f : pending) {
    if (!StillWaiting(f, false)) continue;
    TComponent* found = FindNestedComponent(f.Root, f.Name);
    if (!found || !StillWaiting(f, true)) continue;
    if (f.Prop->SetObject) f.Prop->SetObject(f.Instance, found);
  }
}

void RemoveFixupReferences(TPersistent* Object) {
  // Passes hold the name-space lock while they set references.
  platform::TWriteLock nameSpace(GlobalNameSpace());
  for (TFixupList* list = LocalFixupLists; list; list = list->FOuter) list->Remove(Object);
  std::lock_guard lock(FixupsLock);
  std::erase_if(GlobalFixups(), [&](const TPropFixup& f) { return Concerns(f, Object); });
}

int GlobalFixupCount() {
  std::lock_guard lock(FixupsLock);
  return int(GlobalFixups().size());
}

}  // namespace tolvane
