#include "streaming/global_names.h"

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

void DropFixupsOf(TComponent* Root) { RemoveFixupReferences(Root); }


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

void AddGlobalFixup(TPropFixup Fixup) {
  // A component whose references wait drops them when it goes; the hook is
  // in place before the first one can wait.
  RemoveFixupReferencesProc.store(DropFixupsOf, std::memory_order_relaxed);
  Fixup.Root->SetFixupsPending(true);
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
  // Resolve outside the list lock: the finders may load modules, which adds
  // references of their own.
  std::vector<TPropFixup> done;
  for (const TPropFixup& f : pending) {
    TComponent* found = FindNestedComponent(f.Root, f.Name);
    if (!found) continue;
    if (f.Prop->SetObject) f.Prop->SetObject(f.Instance, found);
    done.push_back(f);
  }
  if (done.empty()) return;
  std::lock_guard lock(FixupsLock);
  auto& fixups = GlobalFixups();
  for (const TPropFixup& d : done) {
    auto it = std::find_if(fixups.begin(), fixups.end(), [&](const TPropFixup& f) {
      return f.Instance == d.Instance && f.Prop == d.Prop && f.Root == d.Root && f.Name == d.Name;
    });
    if (it != fixups.end()) fixups.erase(it);
  }
}

void RemoveFixupReferences(TComponent* Root) {
  std::lock_guard lock(FixupsLock);
  auto& fixups = GlobalFixups();
  fixups.erase(std::remove_if(fixups.begin(), fixups.end(), [&](const TPropFixup& f) { return f.Root == Root; }),
               fixups.end());
}

int GlobalFixupCount() {
  std::lock_guard lock(FixupsLock);
  return int(GlobalFixups().size());
}

}  // namespace tolvane
