#include "runtime/persistent.h"

#include "runtime/exception.h"

namespace tolvane {

TV_DEFINE_CLASS(TPersistent, TObject);

void TPersistent::Assign(const TPersistent* Source) {
  if (Source) Source->AssignTo(this);
  else AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const { Dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* Source) const {
  throw EConvertError(u"Cannot assign a %s to a %s", {Source ? Source->ClassName() : String(u"nil"), ClassName()});
}

}  // namespace tolvane
