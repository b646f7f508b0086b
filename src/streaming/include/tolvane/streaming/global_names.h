#pragma once
// The process-wide side of reading stored definitions: finding components
// that belong to no owner (other modules) by name, deciding whether a root's
// name is unique, and the references to components of other modules that
// wait until those modules exist.
#include <atomic>
#include <deque>

#include <tolvane/runtime/component.h>

namespace tolvane {

// A finder takes a name and answers a component or null.
using TFindGlobalComponent = TComponent* (*)(const String& Name);

// Registering a finder twice keeps one entry.
void RegisterFindGlobalComponentProc(TFindGlobalComponent Proc);
void UnregisterFindGlobalComponentProc(TFindGlobalComponent Proc);
// Asks the finders, the last registered first; the first answer wins.
TComponent* FindGlobalComponent(const String& Name);

// Decides whether a name is unique among the components without an owner.
// The default asks the finders.
// Written by whichever thread sets it up, read by every thread that reads a
// definition: hence atomic.
using TIsUniqueGlobalComponentName = bool (*)(const String& Name);
extern std::atomic<TIsUniqueGlobalComponentName> IsUniqueGlobalComponentNameProc;

// The component a dotted path of names leads to from Root: the first name
// among Root's components, then among the components the finders know; the
// rest among the components of the one found. Null when a step finds nothing.
TComponent* FindNestedComponent(TComponent* Root, std::u16string_view Path);

// A stored reference from an object property to a component, by name.
struct TPropFixup {
  TPersistent* Instance;
  const TPropInfo* Prop;
  TComponent* Root;  // the root whose definition held it
  String Name;
};

// A reader's own references, set when its definition has been read. While
// the list lives it is known to the calling thread, so that an object freed
// meanwhile takes its references out of it as out of the process-wide list.
class TFixupList {
 public:
  TFixupList();
  ~TFixupList();
  TFixupList(const TFixupList&) = delete;
  TFixupList& operator=(const TFixupList&) = delete;

  // Records a reference; the object it is to be set in drops it when it goes.
  void Add(TPropFixup Fixup);
  // Takes the oldest reference out; false when none is left.
  bool TakeFirst(TPropFixup& Fixup);
  // Drops the references to be set in Object or made by Object's definition.
  void Remove(const TPersistent* Object);

 private:
  friend void RemoveFixupReferences(TPersistent* Object);
  std::deque<TPropFixup> FItems;
  TFixupList* FOuter;
};

// Keeps a reference to a component of another module for later passes; the
// root and the object are marked as having such references.
void AddGlobalFixup(TPropFixup Fixup);
// Retries every waiting reference; those resolved are set and dropped.
void GlobalFixupReferences();
// Drops the waiting references, in the process-wide list and in the lists of
// the readers at work on the calling thread, that are to be set in Object or
// that Object's definition made. Waits for a pass running on another thread,
// so that once it returns nothing is set in Object any more.
void RemoveFixupReferences(TPersistent* Object);
// How many references wait (for tests and diagnostics).
int GlobalFixupCount();

}  // namespace tolvane
