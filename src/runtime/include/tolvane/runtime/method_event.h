#pragma once
// Events: method references, an object and one of its methods. The object is
// not owned; an event says nothing about its lifetime.
#include <utility>

#include <tolvane/runtime/object.h>

namespace tolvane {

template <class... Args>
class TMethodEvent {
 public:
  using TCode = void (*)(TObject* Data, Args... Arguments);

  TMethodEvent() = default;
  TMethodEvent(TObject* Data, TCode Code) : FData(Data), FCode(Code) {}

  // The event for Method (a member function of C) called on Object.
  template <auto Method, class C>
  static TMethodEvent Of(C* Object);

  explicit operator bool() const { return FCode != nullptr; }
  bool Assigned() const { return FCode != nullptr; }
  TObject* Data() const { return FData; }
  TCode Code() const { return FCode; }
  void operator()(Args... Arguments) const { FCode(FData, std::forward<Args>(Arguments)...); }
  bool operator==(const TMethodEvent&) const = default;

 private:
  TObject* FData = nullptr;
  TCode FCode = nullptr;
};

// The call of a member function through an event.
template <auto Method>
struct TMethodThunk;

template <class C, class... Args, void (C::*Method)(Args...)>
struct TMethodThunk<Method> {
  using Class = C;
  using Event = TMethodEvent<Args...>;
  static void Call(TObject* Data, Args... Arguments) {
    (static_cast<C*>(Data)->*Method)(std::forward<Args>(Arguments)...);
  }
  static void Bind(void* Event_, TObject* Data) { *static_cast<Event*>(Event_) = Event(Data, &Call); }
};

template <class... Args>
template <auto Method, class C>
TMethodEvent<Args...> TMethodEvent<Args...>::Of(C* Object) {
  using Thunk = TMethodThunk<Method>;
  static_assert(std::is_same_v<typename Thunk::Event, TMethodEvent>, "the method does not match the event");
  return TMethodEvent(static_cast<typename Thunk::Class*>(Object), &Thunk::Call);
}

// Sender only.
using TNotifyEvent = TMethodEvent<TObject*>;

}  // namespace tolvane
