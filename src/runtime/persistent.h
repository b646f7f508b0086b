#pragma once
// Objects that can copy their settings from one another.
#include "runtime/object.h"

namespace tolvane {

class TFiler;

class TPersistent : public TObject {
  TV_DECLARE_CLASS(TPersistent)
 public:
  // Copies Source's settings into this object: Source->AssignTo(this), or the
  // assignment error "Cannot assign a %s to a %s".
  virtual void Assign(const TPersistent* Source);
  virtual TPersistent* GetOwner() const { return nullptr; }
  // Offers the properties stored outside the published list to a reader.
  virtual void DefineProperties(TFiler*) {}

 protected:
  virtual void AssignTo(TPersistent* Dest) const;
  // Raises EConvertError "Cannot assign a <Source class or nil> to a <this class>".
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

}  // namespace tolvane
