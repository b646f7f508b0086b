#include <tolvane/runtime/persistent.h>

#include <tolvane/runtime/exception.h>

namespace tolvane {

TV_DEFINE_CLASS(TPersistent, TObject);

std::atomic<void (*)(TPersistent* Object)> RemoveFixupReferencesProc{nullptr};

TPersistent::~TPersistent() { ReleaseFixups(); }

void TPersistent::ReleaseFixups() {
  if (!FFixupsPending) return;
  FFixupsPending = false;
  if (auto drop = RemoveFixupReferencesProc.load(std::memory_order_acquire)) drop(this);
}

void TPersistent::Assign(const TPersistent* Source) {
  if (Source) Source->AssignTo(this);
  else AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const { Dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* Source) const {
  throw EConvertError(u"Cannot assign a %s to a %s", {Source ? Source->ClassName() : String(u"nil"), ClassName()});
}

}  // namespace tolvane
