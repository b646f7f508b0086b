#pragma once
// The root object class and class information: every class that error pages
// name, that is read from a stored definition or that is named by class
// reference carries a TClassInfo with its exact name and its parent.
#include <cstdint>
#include <span>
#include <string_view>
#include <typeinfo>

#include <tolvane/runtime/system_string.h>

namespace tolvane {

class TObject;
struct TClassInfo;
using TClass = const TClassInfo*;

// The kinds of published properties, by what a stored value may say of them.
enum TTypeKind {
  tkInteger,
  tkChar,         // one 8-bit character
  tkWChar,        // one UTF-16 character
  tkEnumeration,  // Boolean included
  tkFloat,
  tkLString,      // 8-bit text
  tkUString,      // UTF-16 text
  tkSet,
  tkClass,        // an object
  tkMethod,       // an event
  tkInt64,
};

struct TMethodInfo;

// One published property. Only the accessors of the property's kind are set;
// a property without a setter is read-only.
struct TPropInfo {
  const char16_t* Name = nullptr;
  TTypeKind Kind = tkInteger;
  // Enumeration values (and set elements) by ordinal.
  std::span<const char16_t* const> EnumNames{};
  // The ordinal value a writer would leave out.
  std::int64_t Default = 0;
  bool HasDefault = false;
  TClass ObjectClass = nullptr;               // tkClass: the declared class
  const std::type_info* EventType = nullptr;  // tkMethod: the event type
  // Integer, character, enumeration, set and 64-bit properties.
  void (*SetOrdinal)(TObject* Instance, std::int64_t Value) = nullptr;
  std::int64_t (*GetOrdinal)(const TObject* Instance) = nullptr;
  // Integer properties: an identifier that stands for a number (false when
  // the identifier is not one of them).
  bool (*IdentToInt)(std::u16string_view Ident, std::int64_t& Value) = nullptr;
  void (*SetFloat)(TObject* Instance, double Value) = nullptr;
  void (*SetText)(TObject* Instance, const String& Value) = nullptr;
  // False when Value is not of the declared class.
  bool (*SetObject)(TObject* Instance, TObject* Value) = nullptr;
  TObject* (*GetObject)(const TObject* Instance) = nullptr;
  // Binds the event to Method of Data, or clears it when Method is null.
  // False when the method does not have the event's signature.
  bool (*SetMethod)(TObject* Instance, TObject* Data, const TMethodInfo* Method) = nullptr;
};

// One published method: a handler that an event of a matching type can be
// bound to.
struct TMethodInfo {
  const char16_t* Name = nullptr;
  const std::type_info* EventType = nullptr;
  // Stores into *Event (an object of EventType) this method bound to Data.
  void (*Bind)(void* Event, TObject* Data) = nullptr;
};

// One published field: a component the root of a stored definition refers
// to by name. Its class is a candidate for children read from a definition,
// and the field is pointed at the owned component of the same name.
struct TFieldInfo {
  const char16_t* Name = nullptr;
  TClass FieldClass = nullptr;
  void (*Set)(TObject* Instance, TObject* Value) = nullptr;
  TObject* (*Get)(const TObject* Instance) = nullptr;
};

struct TClassInfo {
  const char16_t* Name;
  TClass Parent;
  // The virtual constructor; null for a class that cannot be created by
  // reference. The argument is the owner (a component's owner, a collection
  // item's collection).
  TObject* (*Create)(TObject* Owner) = nullptr;
  // What this class itself publishes; ancestors publish theirs.
  std::span<const TPropInfo> Properties{};
  std::span<const TMethodInfo> Methods{};
  std::span<const TFieldInfo> Fields{};

  bool InheritsFrom(TClass Ancestor) const {
    for (TClass c = this; c; c = c->Parent)
      if (c == Ancestor) return true;
    return false;
  }
  String ClassName() const { return Name; }

  // Searched from this class to its ancestors, names compared ignoring case;
  // null when none is published.
  const TPropInfo* FindProperty(std::u16string_view Name) const;
  const TMethodInfo* FindMethod(std::u16string_view Name) const;
  const TFieldInfo* FindField(std::u16string_view Name) const;
};

// Declares the class information of a class derived from TObject; the matching
// TV_DEFINE_CLASS goes in its source file.
#define TV_DECLARE_CLASS(Self)                                              \
 public:                                                                    \
  static const ::tolvane::TClassInfo ClassInfo_;                            \
  static constexpr ::tolvane::TClass StaticClass() { return &ClassInfo_; }  \
  ::tolvane::TClass ClassType() const override { return &ClassInfo_; }      \
                                                                            \
 private:

// TV_DEFINE_CLASS(Self, Parent[, Create[, Properties[, Methods[, Fields]]]]):
// the tables are arrays built with the helpers of runtime/published.h.
#define TV_DEFINE_CLASS(Self, Parent, ...) \
  const ::tolvane::TClassInfo Self::ClassInfo_{u## #Self, &Parent::ClassInfo_ __VA_OPT__(, ) __VA_ARGS__}

class TObject {
 public:
  static const TClassInfo ClassInfo_;
  static constexpr TClass StaticClass() { return &ClassInfo_; }
  virtual TClass ClassType() const { return &ClassInfo_; }

  virtual ~TObject() = default;

  String ClassName() const { return ClassType()->Name; }
  bool InheritsFrom(TClass Ancestor) const { return ClassType()->InheritsFrom(Ancestor); }
};

}  // namespace tolvane
