#pragma once
// Building the published tables of a class. A class lists them in its source
// file next to its TV_DEFINE_CLASS:
//
//   const TPropInfo TItemProps[] = {TV_PROPERTY(TItem, Name), TV_PROPERTY(TItem, Enabled)};
//   const TMethodInfo TModuleMethods[] = {TV_METHOD(TModule, ItemAction)};
//   TV_DEFINE_CLASS(TItem, TCollectionItem, CreateItem<TItem>, TItemProps);
//
// A property Name is read with Name() and written with SetName(value); the
// value type decides the kind. Enumerations name their values by
// specialising EnumValueNames.
#include <span>
#include <type_traits>

#include <tolvane/runtime/method_event.h>
#include <tolvane/runtime/object.h>
#include <tolvane/runtime/small_set.h>

namespace tolvane {

template <class E>
inline constexpr std::span<const char16_t* const> EnumValueNames{};

inline constexpr const char16_t* BooleanNames[] = {u"False", u"True"};

namespace published {

template <auto Getter>
struct TGetter;
template <class C, class V, V (C::*G)() const>
struct TGetter<G> {
  using Class = C;
  using Value = std::remove_cvref_t<V>;
  static decltype(auto) Get(const C* Self) { return (Self->*G)(); }
};
template <class C, class V, V (C::*G)() const noexcept>
struct TGetter<G> {
  using Class = C;
  using Value = std::remove_cvref_t<V>;
  static decltype(auto) Get(const C* Self) { return (Self->*G)(); }
};
template <class C, class V, V C::*F>
  requires(!std::is_function_v<V>)
struct TGetter<F> {
  using Class = C;
  using Value = V;
  static const V& Get(const C* Self) { return Self->*F; }
};

template <class T>
struct TIsEvent : std::false_type {};
template <class... A>
struct TIsEvent<TMethodEvent<A...>> : std::true_type {};
template <class T>
struct TIsSet : std::false_type {};
template <class E>
struct TIsSet<TSet<E>> : std::true_type {};

template <auto Getter, auto Setter>
struct TAccessors {
  using G = TGetter<Getter>;
  using C = typename G::Class;
  using V = typename G::Value;

  static decltype(auto) Get(const TObject* Self) { return G::Get(static_cast<const C*>(Self)); }
  static void Set(TObject* Self, const V& Value) {
    C* self = static_cast<C*>(Self);
    if constexpr (std::is_member_function_pointer_v<decltype(Setter)>) (self->*Setter)(Value);
    else self->*Setter = Value;
  }
};

}  // namespace published

// The table entry of one published property.
template <auto Getter, auto Setter = nullptr>
constexpr TPropInfo Published(const char16_t* Name) {
  using A = published::TAccessors<Getter, Setter>;
  using V = typename A::V;
  constexpr bool writable = !std::is_null_pointer_v<decltype(Setter)>;
  TPropInfo p;
  p.Name = Name;
  if constexpr (std::is_same_v<V, bool> || std::is_enum_v<V> || std::is_integral_v<V> || published::TIsSet<V>::value) {
    if constexpr (std::is_same_v<V, bool>) {
      p.Kind = tkEnumeration;
      p.EnumNames = BooleanNames;
    } else if constexpr (std::is_enum_v<V>) {
      p.Kind = tkEnumeration;
      p.EnumNames = EnumValueNames<V>;
    } else if constexpr (published::TIsSet<V>::value) {
      p.Kind = tkSet;
      p.EnumNames = EnumValueNames<typename V::Element>;
    } else if constexpr (std::is_same_v<V, char>) {
      p.Kind = tkChar;
    } else if constexpr (std::is_same_v<V, char16_t>) {
      p.Kind = tkWChar;
    } else {
      static_assert(sizeof(V) <= 8);
      p.Kind = sizeof(V) > 4 ? tkInt64 : tkInteger;
    }
    p.GetOrdinal = [](const TObject* Self) -> std::int64_t {
      if constexpr (published::TIsSet<V>::value) return A::Get(Self).Bits();
      else return static_cast<std::int64_t>(A::Get(Self));
    };
    if constexpr (writable)
      p.SetOrdinal = [](TObject* Self, std::int64_t Value) {
        if constexpr (std::is_same_v<V, bool>) A::Set(Self, Value != 0);
        else if constexpr (published::TIsSet<V>::value) A::Set(Self, V::FromBits(std::uint32_t(Value)));
        else A::Set(Self, static_cast<V>(Value));
      };
  } else if constexpr (std::is_floating_point_v<V>) {
    p.Kind = tkFloat;
    if constexpr (writable) p.SetFloat = [](TObject* Self, double Value) { A::Set(Self, static_cast<V>(Value)); };
  } else if constexpr (std::is_same_v<V, String>) {
    p.Kind = tkUString;
    if constexpr (writable) p.SetText = [](TObject* Self, const String& Value) { A::Set(Self, Value); };
  } else if constexpr (std::is_same_v<V, AnsiString>) {
    p.Kind = tkLString;
    if constexpr (writable) p.SetText = [](TObject* Self, const String& Value) { A::Set(Self, AnsiOf(Value)); };
  } else if constexpr (std::is_pointer_v<V>) {
    using T = std::remove_pointer_t<V>;
    static_assert(std::is_base_of_v<TObject, T>, "object properties hold TObject descendants");
    p.Kind = tkClass;
    p.ObjectClass = T::StaticClass();
    p.GetObject = [](const TObject* Self) -> TObject* { return const_cast<std::remove_const_t<T>*>(A::Get(Self)); };
    if constexpr (writable)
      p.SetObject = [](TObject* Self, TObject* Value) {
        auto* value = dynamic_cast<T*>(Value);
        if (Value && !value) return false;
        A::Set(Self, value);
        return true;
      };
  } else if constexpr (published::TIsEvent<V>::value) {
    p.Kind = tkMethod;
    p.EventType = &typeid(V);
    if constexpr (writable)
      p.SetMethod = [](TObject* Self, TObject* Data, const TMethodInfo* Method) {
        V event;
        if (Method) {
          if (*Method->EventType != typeid(V)) return false;
          Method->Bind(&event, Data);
        }
        A::Set(Self, event);
        return true;
      };
  } else {
    static_assert(sizeof(V) == 0, "no published kind for this type");
  }
  return p;
}

constexpr TPropInfo WithDefault(TPropInfo Info, std::int64_t Default) {
  Info.Default = Default;
  Info.HasDefault = true;
  return Info;
}

constexpr TPropInfo WithIdents(TPropInfo Info, bool (*IdentToInt)(std::u16string_view, std::int64_t&)) {
  Info.IdentToInt = IdentToInt;
  return Info;
}

// The table entry of one published method (a handler of some event type).
template <auto Method>
constexpr TMethodInfo PublishedMethod(const char16_t* Name) {
  using Thunk = TMethodThunk<Method>;
  return TMethodInfo{Name, &typeid(typename Thunk::Event), &Thunk::Bind};
}

// The table entry of one published component field.
template <auto Field>
constexpr TFieldInfo PublishedField(const char16_t* Name) {
  using G = published::TGetter<Field>;
  using C = typename G::Class;
  using T = std::remove_pointer_t<typename G::Value>;
  return TFieldInfo{Name, T::StaticClass(),
                    [](TObject* Self, TObject* Value) { static_cast<C*>(Self)->*Field = dynamic_cast<T*>(Value); },
                    [](const TObject* Self) -> TObject* { return static_cast<const C*>(Self)->*Field; }};
}

}  // namespace tolvane

// Name() and SetName(value).
#define TV_PROPERTY(Class, Name) ::tolvane::Published<&Class::Name, &Class::Set##Name>(u## #Name)
// Name() only.
#define TV_PROPERTY_READONLY(Class, Name) ::tolvane::Published<&Class::Name>(u## #Name)
// A public field Name, read and written directly.
#define TV_PROPERTY_FIELD(Class, Name) ::tolvane::Published<&Class::Name, &Class::Name>(u## #Name)
#define TV_METHOD(Class, Name) ::tolvane::PublishedMethod<&Class::Name>(u## #Name)
#define TV_FIELD(Class, Name) ::tolvane::PublishedField<&Class::Name>(u## #Name)
