#include "support/test_web_request.h"

#include <algorithm>
#include <cstring>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/format.h>

namespace tolvane::testing {

TTestWebRequest::TTestWebRequest() {
  FInteger.fill(-1);
  FDate.fill(-1.0);
}

TTestWebRequest& TTestWebRequest::Set(int Index, AnsiString Value) {
  FText.at(std::size_t(Index)) = std::move(Value);
  return *this;
}

TTestWebRequest& TTestWebRequest::SetInteger(int Index, int Value) {
  FInteger.at(std::size_t(Index)) = Value;
  return *this;
}

TTestWebRequest& TTestWebRequest::SetDate(int Index, TDateTime Value) {
  FDate.at(std::size_t(Index)) = Value;
  return *this;
}

TTestWebRequest& TTestWebRequest::SetField(AnsiString Name, AnsiString Value) {
  FFields[std::move(Name)] = std::move(Value);
  return *this;
}

TTestWebRequest& TTestWebRequest::SetBody(AnsiString Arrived, AnsiString UnreadBytes, int ContentLength) {
  SetInteger(rvContentLength, ContentLength == -2 ? int(Arrived.size() + UnreadBytes.size()) : ContentLength);
  Set(rvRawContent, std::move(Arrived));
  Unread = std::move(UnreadBytes);
  return *this;
}

AnsiString TTestWebRequest::GetStringVariable(int Index) {
  if (Index < 0 || Index >= RequestVariableCount) return {};
  ++StringVariableReads[std::size_t(Index)];
  return FText[std::size_t(Index)];
}

TDateTime TTestWebRequest::GetDateVariable(int Index) {
  return Index < 0 || Index >= RequestVariableCount ? -1.0 : FDate[std::size_t(Index)];
}

int TTestWebRequest::GetIntegerVariable(int Index) {
  return Index < 0 || Index >= RequestVariableCount ? -1 : FInteger[std::size_t(Index)];
}

int TTestWebRequest::ReadClient(void* Buffer, int Count) {
  int call = int(ReadCounts.size());
  ReadCounts.push_back(Count);
  if (FailReadsFrom >= 0 && call >= FailReadsFrom) return -1;
  std::size_t n = std::min({std::size_t(std::max(Count, 0)), std::size_t(MaxReadSize), Unread.size()});
  std::memcpy(Buffer, Unread.data(), n);
  Unread.erase(0, n);
  return int(n);
}

String TTestWebRequest::TranslateURI(const String& URI) {
  auto it = Translations.find(URI);
  return it == Translations.end() ? String() : it->second;
}

int TTestWebRequest::WriteClient(const void* Buffer, int Count) {
  ++WriteCalls;
  int n = std::min(std::max(Count, 0), MaxWriteSize);
  Written.append(static_cast<const char*>(Buffer), std::size_t(n));
  return n;
}

bool TTestWebRequest::WriteString(const AnsiString& AString) {
  return WriteClient(AString.data(), int(AString.size())) == int(AString.size());
}

bool TTestWebRequest::WriteHeaders(int StatusCode, const AnsiString& StatusString, const AnsiString& Headers) {
  HeaderWrites.push_back({StatusCode, StatusString, Headers});
  return true;
}

AnsiString TTestWebRequest::GetFieldByName(const AnsiString& Name) {
  auto it = FFields.find(Name);
  return it == FFields.end() ? AnsiString() : it->second;
}

TTestWebResponse::TTestWebResponse(TWebRequest* Request) : TWebResponse(Request) {
  SetStatusCode(200);
  SetLastModified(-1);
  SetExpires(-1);
  SetDate(-1);
  SetContentType("text/html");
}

AnsiString TTestWebResponse::GetStringVariable(int Index) {
  return Index >= 0 && Index < ResponseStringVariableCount ? FText[std::size_t(Index)] : AnsiString();
}

void TTestWebResponse::SetStringVariable(int Index, const AnsiString& Value) {
  if (Index >= 0 && Index < ResponseStringVariableCount) FText[std::size_t(Index)] = Value;
}

TDateTime TTestWebResponse::GetDateVariable(int Index) {
  return Index >= 0 && Index < ResponseDateVariableCount ? FDate[std::size_t(Index)] : 0.0;
}

void TTestWebResponse::SetDateVariable(int Index, TDateTime Value) {
  if (Index >= 0 && Index < ResponseDateVariableCount) FDate[std::size_t(Index)] = Value;
}

int TTestWebResponse::GetIntegerVariable(int Index) {
  return Index >= 0 && Index < ResponseIntegerVariableCount ? FInteger[std::size_t(Index)] : -1;
}

void TTestWebResponse::SetIntegerVariable(int Index, int Value) {
  if (Index >= 0 && Index < ResponseIntegerVariableCount) FInteger[std::size_t(Index)] = Value;
}

void TTestWebResponse::SetContent(const AnsiString& Value) {
  FContent = Value;
  if (!ContentStream()) SetContentLength(int(FContent.size()));
}

void TTestWebResponse::SetStatusCode(int Value) {
  if (Value == FStatusCode) return;
  FStatusCode = Value;
  SetReasonString(StatusString(Value));
}

void TTestWebResponse::SendResponse() {
  ++SendCount;
  SentStatus = AnsiOf(Format(u"%d %s", {StatusCode(), ReasonString()}));
  SentHeaders.clear();
  if (!Location().empty()) SentHeaders += u"Location: " + StringOf(Location()) + u"\r\n";
  for (int i = 0; i < Cookies().Count(); ++i)
    SentHeaders += u"Set-Cookie: " + StringOf(Cookies().Items(i)->HeaderValue()) + u"\r\n";
  AddCustomHeaders(SentHeaders);
  SentHeaders += u"Content-Type: " + StringOf(ContentType()) + u"\r\n";
  if (ContentStream()) {
    SentContent.clear();
    SendStream(*ContentStream());
    SetContentStream(nullptr);
  } else {
    SentContent = FContent;
  }
  FSent = true;
}

void TTestWebResponse::SendRedirect(const AnsiString& URI) {
  Redirects.push_back(URI);
  FSent = true;
}

void TTestWebResponse::SendStream(TStream& AStream) {
  char buffer[8192];
  for (;;) {
    auto n = AStream.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    SentContent.append(buffer, std::size_t(n));
  }
}

}  // namespace tolvane::testing
