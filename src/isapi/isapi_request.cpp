#include <tolvane/isapi/isapi_request.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <span>
#include <vector>

#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/integer_text.h>

namespace tolvane {

TV_DEFINE_CLASS(TISAPIRequest, TWebRequest);

const std::array<const char*, RequestVariableCount> TISAPIRequest::ServerVariables = {
    "",                      // Method: lpszMethod
    "SERVER_PROTOCOL",       //
    "URL",                   //
    "",                      // Query: lpszQueryString
    "",                      // PathInfo: lpszPathInfo
    "",                      // PathTranslated: lpszPathTranslated
    "HTTP_CACHE_CONTROL",    //
    "HTTP_DATE",             //
    "HTTP_ACCEPT",           //
    "HTTP_FROM",             //
    "HTTP_HOST",             // answered by GetHost
    "HTTP_IF_MODIFIED_SINCE",
    "HTTP_REFERER",          //
    "HTTP_USER_AGENT",       //
    "HTTP_CONTENT_ENCODING", //
    "CONTENT_TYPE",          //
    "CONTENT_LENGTH",        //
    "HTTP_CONTENT_VERSION",  //
    "HTTP_DERIVED_FROM",     //
    "HTTP_EXPIRES",          //
    "HTTP_TITLE",            //
    "REMOTE_ADDR",           //
    "REMOTE_HOST",           //
    "SCRIPT_NAME",           //
    "SERVER_PORT",           //
    "",                      // RawContent: lpbData
    "HTTP_CONNECTION",       //
    "HTTP_COOKIE",           //
    "HTTP_AUTHORIZATION",    //
};

namespace {

AnsiString FromBlock(const char* Text) { return Text ? AnsiString(Text) : AnsiString(); }

}  // namespace

// The base works the method type out on first use, so the control block is in
// place before anything reads a variable.
TISAPIRequest::TISAPIRequest(EXTENSION_CONTROL_BLOCK* AECB) : FECB(AECB) {}

AnsiString TISAPIRequest::GetStringVariable(int Index) {
  switch (Index) {
    case rvMethod: return FromBlock(FECB->lpszMethod);
    case rvQuery: return FromBlock(FECB->lpszQueryString);
    case rvPathInfo: return FromBlock(FECB->lpszPathInfo);
    case rvPathTranslated: return FromBlock(FECB->lpszPathTranslated);
    case rvRawContent:
      if (FECB->cbAvailable == 0 || !FECB->lpbData) return {};
      return AnsiString(reinterpret_cast<const char*>(FECB->lpbData), FECB->cbAvailable);
    case rvHost: return GetHost();
    default:
      if (Index < 0 || Index >= RequestVariableCount) return {};
      return GetFieldByName(ServerVariables[std::size_t(Index)]);
  }
}

TDateTime TISAPIRequest::GetDateVariable(int Index) {
  String text = StringOf(GetStringVariable(Index));
  if (text.empty()) return -1.0;
  return ParseDate(text);
}

int TISAPIRequest::GetIntegerVariable(int Index) {
  String text = StringOf(GetStringVariable(Index));
  if (text.empty()) return -1;
  return StrToInt(text);
}

bool TISAPIRequest::QueryVariable(const AnsiString& Name, AnsiString& Value) {
  AnsiString name = Name;  // the callback takes a writable, zero-terminated name
  // The usual value fits on the stack; zeroed, so that a host that writes less
  // than it reports hands over zeros, never what the stack held before.
  std::array<char, VariableBufferSize> usual{};
  std::vector<char> large;
  std::span<char> buffer(usual);
  DWORD size = VariableBufferSize;
  BOOL ok = FECB->GetServerVariable(FECB->ConnID, name.data(), buffer.data(), &size);
  // A host that refuses a buffer as too small reports the size it needs: a long
  // value (a large cookie) is asked again once in a buffer of that size.
  if (!ok && size > VariableBufferSize && size <= MaxVariableSize) {
    large.assign(size, '\0');
    buffer = large;
    ok = FECB->GetServerVariable(FECB->ConnID, name.data(), buffer.data(), &size);
  }
  if (!ok) return false;
  // The count includes the terminating zero; never trust it past the buffer.
  std::size_t count = std::min<std::size_t>(size, buffer.size());
  if (count > 0) --count;
  Value.assign(buffer.data(), count);
  return true;
}

AnsiString TISAPIRequest::GetFieldByName(const AnsiString& Name) {
  AnsiString value;
  if (QueryVariable(Name, value) || QueryVariable("HTTP_" + Name, value)) return value;
  return {};
}

AnsiString TISAPIRequest::GetHost() {
  AnsiString host = GetFieldByName("HTTP_HOST");
  std::size_t colon = host.find(':');
  if (colon != AnsiString::npos) host.resize(colon);
  return host;
}

AnsiString TISAPIRequest::GetRawPathInfo() {
  AnsiString rawURL = GetFieldByName("HTTP_URL");
  AnsiString scriptURL = GetFieldByName("URL");
  std::size_t pos = scriptURL.empty() ? AnsiString::npos : rawURL.find(scriptURL);
  if (pos == AnsiString::npos) return FromBlock(FECB->lpszPathInfo);
  AnsiString result = rawURL.substr(pos + scriptURL.size());
  if (FECB->lpszQueryString && FECB->lpszQueryString[0] != '\0') {
    std::size_t query = result.find('?');
    if (query != AnsiString::npos) result.resize(query);
  }
  return result;
}

int TISAPIRequest::ReadClient(void* Buffer, int Count) {
  if (Count < 0) return -1;
  DWORD size = DWORD(Count);
  if (!FECB->ReadClient(FECB->ConnID, Buffer, &size)) return -1;
  return int(std::min<DWORD>(size, DWORD(Count)));
}

String TISAPIRequest::TranslateURI(const String& URI) {
  AnsiString uri = AnsiOf(URI);
  if (uri.size() >= MapPathBufferSize || uri.find('\0') != AnsiString::npos) return {};
  std::array<char, MapPathBufferSize> buffer{};
  std::memcpy(buffer.data(), uri.data(), uri.size());
  DWORD size = MapPathBufferSize;
  if (!FECB->ServerSupportFunction(FECB->ConnID, HSE_REQ_MAP_URL_TO_PATH, buffer.data(), &size, nullptr)) return {};
  return StringOf(std::string_view(buffer.data(), strnlen(buffer.data(), buffer.size())));
}

bool WriteToClient(EXTENSION_CONTROL_BLOCK* ECB, const void* Buffer, DWORD Count, DWORD& Written) {
  Written = 0;
  if (!ECB->WriteClient) return false;
  const auto* Bytes = static_cast<const char*>(Buffer);
  // A host may take fewer bytes than offered: the rest is offered again. A
  // count of 0 still reaches the host once.
  do {
    DWORD Size = Count - Written;
    // Flags 0: a synchronous write.
    if (!ECB->WriteClient(ECB->ConnID, const_cast<char*>(Bytes + Written), &Size, 0)) return false;
    // A host that takes nothing would be asked for ever.
    if (Size == 0 && Written < Count) return false;
    Written += std::min<DWORD>(Size, Count - Written);
  } while (Written < Count);
  return true;
}

int TISAPIRequest::WriteClient(const void* Buffer, int Count) {
  if (Count < 0) return -1;
  if (Count > 0) FResponseStarted = true;
  DWORD Written = 0;
  if (!WriteToClient(FECB, Buffer, DWORD(Count), Written)) return -1;
  return int(Written);
}

bool TISAPIRequest::WriteString(const AnsiString& AString) {
  if (AString.size() > std::size_t(INT_MAX)) return false;
  return WriteClient(AString.data(), int(AString.size())) == int(AString.size());
}

bool TISAPIRequest::WriteHeaders(int StatusCode, const AnsiString& StatusString, const AnsiString& Headers) {
  FResponseStarted = true;
  FECB->dwHttpStatusCode = DWORD(StatusCode);
  AnsiString status = StatusString;
  AnsiString headers = Headers;
  FECB->ServerSupportFunction(FECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status.data(), nullptr,
                              headers.empty() ? nullptr : reinterpret_cast<LPDWORD>(headers.data()));
  return true;
}

}  // namespace tolvane
