#pragma once
// Objects that can copy their settings from one another.
#include <atomic>

#include <tolvane/runtime/object.h>

namespace tolvane {

class TFiler;

class TPersistent : public TObject {
  TV_DECLARE_CLASS(TPersistent)
 public:
  ~TPersistent() override;

  // Copies Source's settings into this object: Source->AssignTo(this), or the
  // assignment error "Cannot assign a %s to a %s".
  virtual void Assign(const TPersistent* Source);
  virtual TPersistent* GetOwner() const { return nullptr; }
  // Offers the properties stored outside the published list to a reader.
  virtual void DefineProperties(TFiler*) {}

  // Marks an object that a reference read from a stored definition waits to
  // be set in (or whose definition made references that wait).
  void SetFixupsPending() { FFixupsPending = true; }
  // Drops those references, wherever they wait, so that nothing is written
  // into the object once it goes. Destruction calls it first; the
  // destructor calls it last for objects freed some other way.
  void ReleaseFixups();

 protected:
  virtual void AssignTo(TPersistent* Dest) const;
  // Raises EConvertError "Cannot assign a <Source class or nil> to a <this class>".
  [[noreturn]] void AssignError(const TPersistent* Source) const;

 private:
  bool FFixupsPending = false;
};

// Installed by the definition reader: drops every waiting reference that is
// to be set in Object or that Object's definition made.
extern std::atomic<void (*)(TPersistent* Object)> RemoveFixupReferencesProc;

}  // namespace tolvane
