#pragma once
// The host-independent HTTP response that actions fill in and a host binding
// sends: header values, status, cookies, custom header lines and the content,
// as bytes or as a stream. One response is used by one thread at a time.
#include <memory>

#include <tolvane/http/cookie.h>
#include <tolvane/runtime/date_time.h>
#include <tolvane/runtime/object.h>
#include <tolvane/runtime/stream.h>
#include <tolvane/runtime/string_list.h>

namespace tolvane {

class TWebRequest;

// Indexes of the response variables, one index space per kind.
enum TResponseStringVariable : int {
  rsVersion = 0,
  rsReasonString = 1,
  rsServer = 2,
  rsWWWAuthenticate = 3,
  rsRealm = 4,
  rsAllow = 5,
  rsLocation = 6,
  rsContentEncoding = 7,
  rsContentType = 8,
  rsContentVersion = 9,
  rsDerivedFrom = 10,
  rsTitle = 11,
};
inline constexpr int ResponseStringVariableCount = 12;
enum TResponseIntegerVariable : int { riContentLength = 0 };
inline constexpr int ResponseIntegerVariableCount = 1;
enum TResponseDateVariable : int { rdDate = 0, rdExpires = 1, rdLastModified = 2 };
inline constexpr int ResponseDateVariableCount = 3;

class TWebResponse : public TObject {
  TV_DECLARE_CLASS(TWebResponse)
 public:
  // HTTPRequest is the request answered; it is not owned.
  explicit TWebResponse(TWebRequest* HTTPRequest);
  ~TWebResponse() override;
  TWebResponse(const TWebResponse&) = delete;
  TWebResponse& operator=(const TWebResponse&) = delete;

  virtual AnsiString GetStringVariable(int Index) = 0;
  virtual void SetStringVariable(int Index, const AnsiString& Value) = 0;
  virtual TDateTime GetDateVariable(int Index) = 0;
  virtual void SetDateVariable(int Index, TDateTime Value) = 0;
  virtual int GetIntegerVariable(int Index) = 0;
  virtual void SetIntegerVariable(int Index, int Value) = 0;
  // The content bytes. A host binding's SetContent also sets ContentLength to
  // their count while no content stream is set.
  virtual AnsiString GetContent() = 0;
  virtual void SetContent(const AnsiString& Value) = 0;
  // Replaces the content stream, releasing the current one when the response
  // owns it (FreeContentStream), and sets ContentLength to the new stream's
  // size, or to the byte count of RawContent when Value is null. While
  // FreeContentStream is true the response owns Value.
  virtual void SetContentStream(TStream* Value);
  virtual int GetStatusCode() = 0;
  // A host binding also sets ReasonString to StatusString(Value) when the code
  // changes.
  virtual void SetStatusCode(int Value) = 0;
  virtual String GetLogMessage() = 0;
  virtual void SetLogMessage(const String& Value) = 0;
  virtual void SendResponse() = 0;
  virtual void SendRedirect(const AnsiString& URI) = 0;
  // Sends the rest of AStream, from its position on.
  virtual void SendStream(TStream& AStream) = 0;
  // Whether the response has been sent; a host binding knows.
  virtual bool Sent() { return false; }

  // The custom header Name (case-insensitive, locale-aware), or empty.
  String GetCustomHeader(std::u16string_view Name) const;
  // An empty Value deletes the first entry named Name; otherwise that entry is
  // replaced in place by Name=Value, or Name=Value is appended.
  void SetCustomHeader(std::u16string_view Name, std::u16string_view Value);
  TStrings& CustomHeaders() { return *FCustomHeaders; }
  // Replaces the custom headers by a copy of Value's entries.
  void SetCustomHeaders(const TStrings& Value) { FCustomHeaders->Assign(Value); }
  // Appends "name: value" CR LF per custom header, in list order, the value
  // being the one a lookup by that name gives. Names and values are made safe
  // for their line (HeaderSafe): no entry can end it early or add lines.
  void AddCustomHeaders(String& Headers) const;

  // Adds one cookie per entry of Values (its name and the value a lookup by
  // that name gives), with the given domain, path, expiry and security.
  void SetCookieField(const TStrings& Values, const AnsiString& ADomain, const AnsiString& APath,
                      TDateTime AExpires, bool ASecure);
  // The authentication challenge: WWWAuthenticate, with " Realm=" and Realm
  // added when a realm is set.
  AnsiString FormatAuthenticate();

  AnsiString Version() { return GetStringVariable(rsVersion); }
  void SetVersion(const AnsiString& Value) { SetStringVariable(rsVersion, Value); }
  AnsiString ReasonString() { return GetStringVariable(rsReasonString); }
  void SetReasonString(const AnsiString& Value) { SetStringVariable(rsReasonString, Value); }
  AnsiString Server() { return GetStringVariable(rsServer); }
  void SetServer(const AnsiString& Value) { SetStringVariable(rsServer, Value); }
  AnsiString WWWAuthenticate() { return GetStringVariable(rsWWWAuthenticate); }
  void SetWWWAuthenticate(const AnsiString& Value) { SetStringVariable(rsWWWAuthenticate, Value); }
  AnsiString Realm() { return GetStringVariable(rsRealm); }
  void SetRealm(const AnsiString& Value) { SetStringVariable(rsRealm, Value); }
  AnsiString Allow() { return GetStringVariable(rsAllow); }
  void SetAllow(const AnsiString& Value) { SetStringVariable(rsAllow, Value); }
  AnsiString Location() { return GetStringVariable(rsLocation); }
  void SetLocation(const AnsiString& Value) { SetStringVariable(rsLocation, Value); }
  AnsiString ContentEncoding() { return GetStringVariable(rsContentEncoding); }
  void SetContentEncoding(const AnsiString& Value) { SetStringVariable(rsContentEncoding, Value); }
  AnsiString ContentType() { return GetStringVariable(rsContentType); }
  void SetContentType(const AnsiString& Value) { SetStringVariable(rsContentType, Value); }
  AnsiString ContentVersion() { return GetStringVariable(rsContentVersion); }
  void SetContentVersion(const AnsiString& Value) { SetStringVariable(rsContentVersion, Value); }
  AnsiString DerivedFrom() { return GetStringVariable(rsDerivedFrom); }
  void SetDerivedFrom(const AnsiString& Value) { SetStringVariable(rsDerivedFrom, Value); }
  AnsiString Title() { return GetStringVariable(rsTitle); }
  void SetTitle(const AnsiString& Value) { SetStringVariable(rsTitle, Value); }
  int ContentLength() { return GetIntegerVariable(riContentLength); }
  void SetContentLength(int Value) { SetIntegerVariable(riContentLength, Value); }
  TDateTime Date() { return GetDateVariable(rdDate); }
  void SetDate(TDateTime Value) { SetDateVariable(rdDate, Value); }
  TDateTime Expires() { return GetDateVariable(rdExpires); }
  void SetExpires(TDateTime Value) { SetDateVariable(rdExpires, Value); }
  TDateTime LastModified() { return GetDateVariable(rdLastModified); }
  void SetLastModified(TDateTime Value) { SetDateVariable(rdLastModified, Value); }
  int StatusCode() { return GetStatusCode(); }
  AnsiString RawContent() { return GetContent(); }
  void SetRawContent(const AnsiString& Value) { SetContent(Value); }
  // The content as text, decoded and encoded by the current content type
  // (UTF-8 when it names that charset, else the ANSI code page). Set the
  // content type first: changing it later does not re-encode.
  String Content() { return GetUnicodeContent(); }
  String GetUnicodeContent();
  void SetUnicodeContent(std::u16string_view Value);
  TStream* ContentStream() const { return FContentStream; }
  String LogMessage() { return GetLogMessage(); }
  bool FreeContentStream() const { return FFreeContentStream; }
  void SetFreeContentStream(bool Value) { FFreeContentStream = Value; }
  TCookieCollection& Cookies() { return *FCookies; }
  TWebRequest* HTTPRequest() const { return FHTTPRequest; }

 private:
  bool FFreeContentStream = true;
  TStream* FContentStream = nullptr;  // owned while FFreeContentStream is true
  std::unique_ptr<TCookieCollection> FCookies;
  TWebRequest* FHTTPRequest;  // not owned
  std::unique_ptr<TStringList> FCustomHeaders;
};

}  // namespace tolvane
