#pragma once
// The root object class and class information: every class that error pages
// name, that is read from a stored definition or that is named by class
// reference carries a TClassInfo with its exact name and its parent.
#include "runtime/system_string.h"

namespace tolvane {

class TObject;
struct TClassInfo;
using TClass = const TClassInfo*;

struct TClassInfo {
  const char16_t* Name;
  TClass Parent;
  // The virtual constructor; null for a class that cannot be created by
  // reference. The argument is the owner (a component's owner, a collection
  // item's collection).
  TObject* (*Create)(TObject* Owner) = nullptr;

  bool InheritsFrom(TClass Ancestor) const {
    for (TClass c = this; c; c = c->Parent)
      if (c == Ancestor) return true;
    return false;
  }
  String ClassName() const { return Name; }
};

// Declares the class information of a class derived from TObject; the matching
// TV_DEFINE_CLASS goes in its source file.
#define TV_DECLARE_CLASS(Self)                                              \
 public:                                                                    \
  static const ::tolvane::TClassInfo ClassInfo_;                            \
  static ::tolvane::TClass StaticClass() { return &ClassInfo_; }            \
  ::tolvane::TClass ClassType() const override { return &ClassInfo_; }      \
                                                                            \
 private:

#define TV_DEFINE_CLASS(Self, Parent, ...) \
  const ::tolvane::TClassInfo Self::ClassInfo_{u## #Self, &Parent::ClassInfo_ __VA_OPT__(, ) __VA_ARGS__}

class TObject {
 public:
  static const TClassInfo ClassInfo_;
  static TClass StaticClass() { return &ClassInfo_; }
  virtual TClass ClassType() const { return &ClassInfo_; }

  virtual ~TObject() = default;

  String ClassName() const { return ClassType()->Name; }
  bool InheritsFrom(TClass Ancestor) const { return ClassType()->InheritsFrom(Ancestor); }
};

}  // namespace tolvane
