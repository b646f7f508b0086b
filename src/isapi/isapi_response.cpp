#include <tolvane/isapi/isapi_response.h>

#include <cstring>
#include <vector>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/format.h>

namespace tolvane {

TV_DEFINE_CLASS(TISAPIResponse, TWebResponse);

String FormatHTTPDate(TDateTime Value) {
  String month = MonthStr(Value);
  if (month.empty()) return {};
  int year, mon, day, hour, minute, second, msec;
  DecodeDate(Value, year, mon, day);
  DecodeTime(Value, hour, minute, second, msec);
  return Format(u"%s, %.2d %s %.4d %.2d:%.2d:%.2d GMT", {DayOfWeekStr(Value), day, month, year, hour, minute, second});
}

TISAPIResponse::TISAPIResponse(TISAPIRequest* HTTPRequest) : TWebResponse(HTTPRequest) { InitResponse(); }

void TISAPIResponse::InitResponse() {
  if (Request().ProtocolVersion().empty()) SetVersion("1.0");
  SetStatusCode(200);
  SetLastModified(-1);
  SetExpires(-1);
  SetDate(-1);
  SetContentType("text/html");
}

AnsiString TISAPIResponse::GetStringVariable(int Index) {
  if (Index < 0 || Index >= ResponseStringVariableCount) return {};
  return FStringVariables[std::size_t(Index)];
}

void TISAPIResponse::SetStringVariable(int Index, const AnsiString& Value) {
  if (Index < 0 || Index >= ResponseStringVariableCount) return;
  FStringVariables[std::size_t(Index)] = Value;
}

TDateTime TISAPIResponse::GetDateVariable(int Index) {
  if (Index < 0 || Index >= ResponseDateVariableCount) return 0.0;
  return FDateVariables[std::size_t(Index)];
}

void TISAPIResponse::SetDateVariable(int Index, TDateTime Value) {
  if (Index < 0 || Index >= ResponseDateVariableCount) return;
  FDateVariables[std::size_t(Index)] = Value;
}

int TISAPIResponse::GetIntegerVariable(int Index) {
  if (Index < 0 || Index >= ResponseIntegerVariableCount) return -1;
  return FIntegerVariables[std::size_t(Index)];
}

void TISAPIResponse::SetIntegerVariable(int Index, int Value) {
  if (Index < 0 || Index >= ResponseIntegerVariableCount) return;
  FIntegerVariables[std::size_t(Index)] = Value;
}

void TISAPIResponse::SetContent(const AnsiString& Value) {
  FContent = Value;
  if (!ContentStream()) SetContentLength(int(FContent.size()));
}

void TISAPIResponse::SetStatusCode(int Value) {
  if (Value == FStatusCode) return;
  FStatusCode = Value;
  SetReasonString(StatusString(Value));
}

String TISAPIResponse::GetLogMessage() {
  const char* field = Request().ECB()->lpszLogData;
  return StringOf(std::string_view(field, strnlen(field, HSE_LOG_BUFFER_LEN)));
}

void TISAPIResponse::SetLogMessage(const String& Value) {
  AnsiString text = AnsiOf(Value);
  char* field = Request().ECB()->lpszLogData;
  std::size_t count = std::min<std::size_t>(text.size(), HSE_LOG_BUFFER_LEN - 1);
  std::memset(field, 0, HSE_LOG_BUFFER_LEN);
  std::memcpy(field, text.data(), count);
}

String TISAPIResponse::BuildHeaders() {
  String headers;
  auto line = [&headers](std::u16string_view Fmt, const String& Value) {
    if (!Value.empty()) headers += Format(Fmt, {HeaderSafe(Value)});
  };
  auto ansiLine = [&line](std::u16string_view Fmt, const AnsiString& Value) { line(Fmt, StringOf(Value)); };

  ansiLine(u"Location: %s\r\n", Location());
  ansiLine(u"Allow: %s\r\n", Allow());
  for (int i = 0; i < Cookies().Count(); ++i) ansiLine(u"Set-Cookie: %s\r\n", Cookies().Items(i)->HeaderValue());
  ansiLine(u"Derived-From: %s\r\n", DerivedFrom());
  if (Expires() > 0) line(u"Expires: %s\r\n", FormatHTTPDate(Expires()));
  if (LastModified() > 0) line(u"Last-Modified: %s\r\n", FormatHTTPDate(LastModified()));
  ansiLine(u"Title: %s\r\n", Title());
  // A realm without a scheme is no challenge: " Realm=x" alone would be a
  // malformed header line.
  if (!WWWAuthenticate().empty()) ansiLine(u"WWW-Authenticate: %s\r\n", FormatAuthenticate());
  AddCustomHeaders(headers);
  ansiLine(u"Content-Version: %s\r\n", ContentVersion());
  ansiLine(u"Content-Encoding: %s\r\n", ContentEncoding());
  ansiLine(u"Content-Type: %s\r\n", ContentType());
  // A stream is sent from its position on, so that is the length declared.
  if (TStream* stream = ContentStream())
    line(u"Content-Length: %s\r\n", IntToStr(std::max<std::int64_t>(stream->Size() - stream->Position(), 0)));
  else if (!FContent.empty())
    line(u"Content-Length: %s\r\n", IntToStr(ContentLength()));
  headers += u"\r\n";
  return headers;
}

void TISAPIResponse::SendResponse() {
  if (!Request().ProtocolVersion().empty()) {
    AnsiString reason = ReasonString();
    String status = u"200 OK";
    if (StatusCode() > 0 && !reason.empty())
      status = Format(u"%d %s", {StatusCode(), HeaderSafe(reason)});
    else if (StatusCode() >= 100 && StatusCode() <= 999)
      // A code without a phrase goes alone, for the host to name: "200 OK"
      // would report a 415 or a 503 as success.
      status = IntToStr(StatusCode());
    String headers = BuildHeaders();
    Request().WriteHeaders(StatusCode(), AnsiOf(status), AnsiOf(headers));
  }
  if (TStream* stream = ContentStream()) {
    SendStream(*stream);
    SetContentStream(nullptr);
  } else {
    Request().WriteString(FContent);
  }
  FSent = true;
}

void TISAPIResponse::SendRedirect(const AnsiString& URI) {
  EXTENSION_CONTROL_BLOCK* ecb = Request().ECB();
  AnsiString uri = HeaderSafe(URI);
  ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, uri.data(), nullptr, nullptr);
  FSent = true;
}

void TISAPIResponse::SendStream(TStream& AStream) {
  std::vector<char> buffer(StreamChunkSize);
  while (AStream.Position() < AStream.Size()) {
    std::int64_t n = AStream.Read(buffer.data(), StreamChunkSize);
    if (n <= 0) break;
    Request().WriteClient(buffer.data(), int(n));
  }
}

}  // namespace tolvane
