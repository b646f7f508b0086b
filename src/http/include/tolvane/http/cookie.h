#pragma once
// The cookies a response sets, in the order they were added.
#include <tolvane/runtime/collection.h>
#include <tolvane/runtime/date_time.h>
#include <tolvane/runtime/system_string.h>

namespace tolvane {

class TWebResponse;

class TCookie : public TCollectionItem {
  TV_DECLARE_CLASS(TCookie)
 public:
  TCookie() = default;

  const AnsiString& Name() const { return FName; }
  void SetName(AnsiString Value) { FName = std::move(Value); }
  const AnsiString& Value() const { return FValue; }
  void SetValue(AnsiString Value) { FValue = std::move(Value); }
  const AnsiString& Path() const { return FPath; }
  void SetPath(AnsiString Value) { FPath = std::move(Value); }
  const AnsiString& Domain() const { return FDomain; }
  void SetDomain(AnsiString Value) { FDomain = std::move(Value); }
  // -1.0 (or less) means no expiry date.
  TDateTime Expires() const { return FExpires; }
  void SetExpires(TDateTime Value) { FExpires = Value; }
  bool Secure() const { return FSecure; }
  void SetSecure(bool Value) { FSecure = Value; }

  // The Set-Cookie header value: "name=value; domain=...; path=...;
  // expires=Sun, 06 Nov 1994 08:49:37 GMT; secure", the empty parts left out.
  AnsiString HeaderValue() const;

 protected:
  // Copies every field into another cookie; other destinations are refused.
  void AssignTo(TPersistent* Dest) const override;

 private:
  AnsiString FName;
  AnsiString FValue;
  AnsiString FPath;
  AnsiString FDomain;
  TDateTime FExpires = -1.0;
  bool FSecure = false;
};

class TCookieCollection : public TCollection {
  TV_DECLARE_CLASS(TCookieCollection)
 public:
  TCookieCollection(TWebResponse* WebResponse, TClass ItemClass) : TCollection(ItemClass), FWebResponse(WebResponse) {}

  TWebResponse* WebResponse() const { return FWebResponse; }
  TCookie* Add() { return static_cast<TCookie*>(TCollection::Add()); }
  TCookie* Items(int Index) const { return static_cast<TCookie*>(GetItem(Index)); }
  // Copies Value into the cookie at Index (the cookie itself stays).
  void SetItem(int Index, const TCookie& Value) { Items(Index)->Assign(&Value); }

 private:
  TWebResponse* FWebResponse;  // the owning response
};

}  // namespace tolvane
