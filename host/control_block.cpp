#include "control_block.h"

#include "connection.h"
#include "url_path.h"

#include <array>
#include <cstring>

namespace tolvane::host {

namespace {

// Written bytes are held back up to this much so a typical response leaves
// in one write.
constexpr std::size_t FlushThreshold = 64 * 1024;

std::string UpperName(std::string_view Name) {
  std::string Result(Name);
  for (char& C : Result) {
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
    if (C == '-') C = '_';
  }
  return Result;
}

}  // namespace

THostContext* TRequest::FCallbackHost = nullptr;

TRequest::TRequest(std::shared_ptr<TConnection> Connection, THostContext& Host, std::uint64_t Id)
    : FConnection(std::move(Connection)), FHost(Host), FId(Id) {
  std::memset(&FECB, 0, sizeof FECB);
}

std::optional<unsigned> TRequest::TakeHead(const TMessage& Message,
                                           std::vector<std::pair<std::string, std::string>> Fields,
                                           std::optional<std::uint64_t> ContentLength, bool Chunked, bool KeepAlive) {
  namespace http = boost::beast::http;
  const std::string_view Target(Message.target().data(), Message.target().size());
  std::string RawPath;
  std::string Decoded;
  if (!SplitTarget(Target, RawPath, FQuery) || !PercentDecode(RawPath, Decoded)) return 400;
  const auto Clean = RemoveDotSegments(Decoded);
  if (!Clean) return 400;
  const auto PathInfo = PathBelowMount(*Clean, FHost.FOptions.FMount);
  if (!PathInfo) return 404;
  FMethod.assign(Message.method_string().data(), Message.method_string().size());
  FTarget.assign(Target);
  FRequestLine = FMethod + " " + FTarget + (Message.version() == 10 ? " HTTP/1.0" : " HTTP/1.1");
  FScriptName = FHost.FOptions.FMount;
  FPathInfo = *PathInfo;
  FPathTranslated = MapUrlToPath(FHost.FOptions.FRoot, *PathInfo).value_or(std::string());
  FHeaders = std::move(Fields);
  for (const auto& [Name, Value] : FHeaders)
    if (boost::beast::iequals(Name, "Content-Type")) FContentType = Value;
  if (ContentLength) FContentLength = std::to_string(*ContentLength);
  FChunkedBody = Chunked;
  FIsHead = Message.method() == http::verb::head;
  FHttp10 = Message.version() == 10;
  FClientKeepAlive = KeepAlive;
  return std::nullopt;
}

void TRequest::TakeReadAhead(std::vector<unsigned char> Bytes, bool Whole) {
  FReadAhead = std::move(Bytes);
  FBodyRead = Whole;
  Prepare();
}

void TRequest::Prepare() {
  FECB.cbSize = sizeof FECB;
  FECB.dwVersion = HseMakeVersion(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  FECB.ConnID = reinterpret_cast<HCONN>(static_cast<std::uintptr_t>(FId));
  FECB.dwHttpStatusCode = 200;
  FECB.lpszMethod = FMethod.data();
  FECB.lpszQueryString = FQuery.data();
  FECB.lpszPathInfo = FPathInfo.data();
  FECB.lpszPathTranslated = FPathTranslated.data();
  FECB.cbTotalBytes = FChunkedBody ? HSE_TOTAL_BYTES_UNKNOWN
                                   : static_cast<DWORD>(FContentLength ? std::stoull(*FContentLength) : 0);
  FECB.cbAvailable = static_cast<DWORD>(FReadAhead.size());
  FECB.lpbData = FReadAhead.empty() ? nullptr : FReadAhead.data();
  FECB.lpszContentType = FContentType.data();
  FECB.GetServerVariable = &GetServerVariableCallback;
  FECB.WriteClient = &WriteClientCallback;
  FECB.ReadClient = &ReadClientCallback;
  FECB.ServerSupportFunction = &ServerSupportFunctionCallback;
}

void TRequest::Run() {
  auto Self = shared_from_this();
  FHost.FInsideCall.fetch_add(1);
  DWORD Result;
  try {
    Result = FHost.FExtension.HttpExtensionProc(&FECB);
  } catch (...) {
    Result = HSE_STATUS_ERROR;
  }
  FHost.FInsideCall.fetch_sub(1);
  if (Result == HSE_STATUS_PENDING) {
    FResult = Result;
    if (FPendingGate.fetch_add(1, std::memory_order_acq_rel) == 1) {
      std::lock_guard Guard(FCallLock);
      Finish();
    }
    return;
  }
  std::lock_guard Guard(FCallLock);
  FResult = Result;
  Finish();
}

std::optional<std::string> TRequest::Variable(std::string_view Name) const {
  const std::string Upper = UpperName(Name);
  auto Header = [this](std::string_view WantedUpper) -> std::optional<std::string> {
    std::optional<std::string> Value;
    for (const auto& [HeaderName, HeaderValue] : FHeaders) {
      if (UpperName(HeaderName) != WantedUpper) continue;
      if (Value)
        *Value += (WantedUpper == "COOKIE" ? "; " : ", ") + HeaderValue;
      else
        Value = HeaderValue;
    }
    return Value;
  };
  if (Upper == "SERVER_PROTOCOL") return std::string(FHttp10 ? "HTTP/1.0" : "HTTP/1.1");
  if (Upper == "REQUEST_METHOD") return FMethod;
  if (Upper == "URL" || Upper == "SCRIPT_NAME") return FScriptName;
  if (Upper == "HTTP_URL" || Upper == "UNENCODED_URL") return FTarget;
  if (Upper == "PATH_INFO") return FPathInfo;
  if (Upper == "PATH_TRANSLATED") return FPathTranslated;
  if (Upper == "QUERY_STRING") return FQuery;
  if (Upper == "CONTENT_LENGTH") return FContentLength;
  if (Upper == "CONTENT_TYPE") return FContentType;
  if (Upper == "REMOTE_ADDR" || Upper == "REMOTE_HOST") return FConnection->RemoteAddr();
  if (Upper == "REMOTE_PORT") return std::to_string(FConnection->RemotePort());
  if (Upper == "LOCAL_ADDR") return FConnection->LocalAddr();
  if (Upper == "SERVER_PORT") return std::to_string(FConnection->LocalPort());
  if (Upper == "SERVER_NAME") {
    auto Host = Header("HOST");
    if (!Host || Host->empty()) return FConnection->LocalAddr();
    const size_t Colon = Host->rfind(':');
    if (Colon != std::string::npos && Host->find(']', Colon) == std::string::npos) Host->resize(Colon);
    return Host;
  }
  if (Upper == "SERVER_SOFTWARE") return std::string(ServerSoftware);
  if (Upper == "HTTPS") return std::string("off");
  if (Upper == "SERVER_PORT_SECURE") return std::string("0");
  if (Upper == "GATEWAY_INTERFACE") return std::string("CGI/1.1");
  if (Upper == "AUTH_TYPE" || Upper == "REMOTE_USER" || Upper == "LOGON_USER") return std::string();
  if (Upper == "ALL_HTTP") {
    std::string All;
    for (const auto& [HeaderName, HeaderValue] : FHeaders) All += "HTTP_" + UpperName(HeaderName) + ":" + HeaderValue + "\n";
    return All;
  }
  if (Upper == "ALL_RAW") {
    std::string All;
    for (const auto& [HeaderName, HeaderValue] : FHeaders) All += HeaderName + ": " + HeaderValue + "\r\n";
    return All;
  }
  if (Upper.size() > 5 && Upper.compare(0, 5, "HTTP_") == 0) return Header(std::string_view(Upper).substr(5));
  return std::nullopt;
}

bool TRequest::KeepAliveNow() const {
  return FClientKeepAlive && !FMustClose && !FBroken && FFramer.Framing() != fmClose && !FHost.FStopping.load();
}

void TRequest::Commit(TResponseHead Head) {
  const bool NoBody = FIsHead || Head.FStatus == 204 || Head.FStatus == 304;
  if (Head.FStatus == 204) Head.FContentLength.reset();
  if (NoBody) {
    FFramer.Reset(fmNone);
  } else if (Head.FContentLength) {
    FFramer.Reset(fmLength);
    FDeclared = *Head.FContentLength;
  } else if (!FHttp10) {
    FFramer.Reset(fmChunked);
  } else {
    FFramer.Reset(fmClose);
  }
  if (Head.FConnectionClose) FMustClose = true;
  std::string BodyStart = std::move(Head.FBodyStart);
  FResponse = std::move(Head);
  FResponse.FBodyStart.clear();
  FHeadCommitted = true;
  FECB.dwHttpStatusCode = FResponse.FStatus;
  if (!BodyStart.empty()) AppendBody(BodyStart.data(), BodyStart.size());
}

std::string TRequest::TakeHeadIfUnsent(bool KeepAlive) {
  if (FHeadSent) return {};
  FHeadSent = true;
  return SerializeHead(FResponse, FFramer.Framing(), FDeclared, KeepAlive, FHttp10);
}

bool TRequest::Flush(const char* Extra, std::size_t ExtraSize) {
  const std::string Head = TakeHeadIfUnsent(KeepAliveNow());
  TWirePieces Out;
  Out.Add(asio::buffer(Head));
  const std::array<asio::const_buffer, 2> Body{asio::buffer(FPending), asio::const_buffer(Extra, ExtraSize)};
  FFramer.AddBody(Out, Body, FPending.size() + ExtraSize);
  const bool Written = Out.Empty() || FConnection->Send(Out.View(), false, false);
  FPending.clear();
  if (!Written) FBroken = true;
  return Written;
}

bool TRequest::AppendBody(const char* Data, std::size_t Size) {
  if (FBroken) return false;
  if (FFramer.Framing() == fmNone) return true;  // HEAD, 204, 304: the body is dropped
  bool Excess = false;
  if (FFramer.Framing() == fmLength && Size > FDeclared - FBodyBytes) {
    // More than declared would corrupt the next response on this
    // connection: the surplus is dropped and the connection closed.
    Size = static_cast<std::size_t>(FDeclared - FBodyBytes);
    Excess = true;
    FMustClose = true;
  }
  FBodyBytes += Size;
  if (FPending.size() + Size <= FlushThreshold) {
    FPending.append(Data, Size);
  } else if (!Flush(Data, Size)) {
    return false;
  }
  return !Excess;
}

void TRequest::Finish() {
  if (FFinished) return;
  FFinished = true;
  if (!FHeadCommitted) {
    TResponseHead Head;
    if (FResult == HSE_STATUS_ERROR) {
      Head.FStatus = 500;
      Head.FReason.assign(ReasonOf(500));
      Head.FFields.emplace_back("Content-Type", "text/plain");
      Head.FContentLength = 26;
      Commit(std::move(Head));
      AppendBody("500 Internal Server Error\n", 26);
    } else {
      Head.FContentLength = 0;
      Commit(std::move(Head));
    }
  }
  // A body shorter than declared leaves the client waiting for bytes that
  // never come: closing tells it the response is incomplete.
  if (FFramer.Framing() == fmLength && FBodyBytes < FDeclared) FMustClose = true;
  if (!FConnection->BodyComplete()) FMustClose = true;
  if (FResult == HSE_STATUS_ERROR) FMustClose = true;
  const bool KeepAlive = KeepAliveNow();
  // Head, last body bytes and the end of a chunked body leave in one write;
  // the connection goes on with the next request or closes once they are out.
  const std::string Head = FBroken ? std::string() : TakeHeadIfUnsent(KeepAlive);
  TWirePieces Out;
  if (!FBroken) {
    Out.Add(asio::buffer(Head));
    const asio::const_buffer Body = asio::buffer(FPending);
    FFramer.AddBody(Out, {&Body, 1}, FPending.size());
    FFramer.AddEnd(Out);
  }
  FHost.FAccessLog.Answer(FConnection->RemoteAddr(), FRequestLine, FResponse.FStatus, FBodyBytes);
  FHost.FRegistry.Remove(FId);
  FConnection->Send(Out.View(), true, KeepAlive && !FBroken);
  FPending.clear();
  FConnection.reset();
  FHost.FInFlight.fetch_sub(1);
}

// ----------------------------------------------------------------- callbacks

namespace {

std::shared_ptr<TRequest> Lookup(HCONN ConnID) {
  if (!TRequest::FCallbackHost) return nullptr;
  return TRequest::FCallbackHost->FRegistry.Find(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(ConnID)));
}

}  // namespace

BOOL TRequest::GetServerVariableCallback(HCONN ConnID, LPSTR Name, LPVOID Buffer, LPDWORD Size) {
  auto Request = Lookup(ConnID);
  if (!Request || !Name || !Size) return ISAPI_FALSE;
  std::lock_guard Guard(Request->FCallLock);
  if (Request->FFinished) return ISAPI_FALSE;
  const auto Value = Request->Variable(Name);
  if (!Value) return ISAPI_FALSE;
  const std::size_t Needed = Value->size() + 1;
  if (!Buffer || *Size < Needed) {
    // Too small: the caller learns the size it needs.
    *Size = static_cast<DWORD>(Needed);
    return ISAPI_FALSE;
  }
  std::memcpy(Buffer, Value->c_str(), Needed);
  *Size = static_cast<DWORD>(Needed);
  return ISAPI_TRUE;
}

BOOL TRequest::WriteClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Bytes, DWORD Reserved) {
  auto Request = Lookup(ConnID);
  if (!Request || !Bytes) return ISAPI_FALSE;
  if (Reserved & HSE_IO_ASYNC) return ISAPI_FALSE;  // only synchronous writes are offered
  if (*Bytes == 0) return ISAPI_TRUE;
  if (!Buffer) return ISAPI_FALSE;
  std::lock_guard Guard(Request->FCallLock);
  if (Request->FFinished) return ISAPI_FALSE;
  if (!Request->FHeadCommitted) Request->Commit(TResponseHead{});
  return Request->AppendBody(static_cast<const char*>(Buffer), *Bytes) ? ISAPI_TRUE : ISAPI_FALSE;
}

BOOL TRequest::ReadClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Size) {
  auto Request = Lookup(ConnID);
  if (!Request || !Size) return ISAPI_FALSE;
  std::lock_guard Guard(Request->FCallLock);
  if (Request->FFinished) return ISAPI_FALSE;
  if (*Size == 0) return ISAPI_TRUE;
  if (!Buffer) return ISAPI_FALSE;
  std::size_t Got = 0;
  if (Request->FBodyRead) {
    *Size = 0;  // everything came with the control block
    return ISAPI_TRUE;
  }
  if (!Request->FConnection->ReadBodyBlocking(Buffer, *Size, Got)) {
    *Size = 0;
    Request->FMustClose = true;
    return ISAPI_FALSE;
  }
  *Size = static_cast<DWORD>(Got);
  return ISAPI_TRUE;
}

BOOL TRequest::ServerSupportFunctionCallback(HCONN ConnID, DWORD Request, LPVOID Buffer, LPDWORD Size,
                                             LPDWORD DataType) {
  auto Found = Lookup(ConnID);
  if (!Found) return ISAPI_FALSE;
  std::lock_guard Guard(Found->FCallLock);
  if (Found->FFinished) return ISAPI_FALSE;
  return Found->SupportFunction(Request, Buffer, Size, DataType);
}

BOOL TRequest::SupportFunction(DWORD Request, LPVOID Buffer, LPDWORD Size, LPDWORD DataType) {
  switch (Request) {
    case HSE_REQ_SEND_RESPONSE_HEADER: {
      if (FHeadCommitted) return ISAPI_FALSE;
      TResponseHead Head;
      const char* Status = static_cast<const char*>(Buffer);
      if (!ParseStatusText(Status ? Status : "200 OK", Head)) return ISAPI_FALSE;
      // The header block travels in the data-type argument.
      const char* Block = reinterpret_cast<const char*>(DataType);
      if (!ParseHeaderBlock(Block ? Block : "", FHost.FOptions.FMaxHeaderBytes, Head)) return ISAPI_FALSE;
      Commit(std::move(Head));
      return ISAPI_TRUE;
    }
    case HSE_REQ_SEND_URL_REDIRECT_RESP: {
      if (FHeadCommitted || !Buffer) return ISAPI_FALSE;
      const std::string_view Url(static_cast<const char*>(Buffer));
      if (Url.empty()) return ISAPI_FALSE;
      for (const char C : Url)
        if (static_cast<unsigned char>(C) <= 0x20 || C == 0x7F) return ISAPI_FALSE;
      TResponseHead Head;
      Head.FStatus = 302;
      Head.FReason.assign(ReasonOf(302));
      Head.FFields.emplace_back("Location", std::string(Url));
      Head.FContentLength = 0;
      Commit(std::move(Head));
      return ISAPI_TRUE;
    }
    case HSE_REQ_MAP_URL_TO_PATH: {
      if (!Buffer || !Size || *Size == 0) return ISAPI_FALSE;
      char* Text = static_cast<char*>(Buffer);
      const std::string Url(Text, strnlen(Text, *Size));
      const auto Path = MapUrlToPath(FHost.FOptions.FRoot, Url);
      if (!Path) return ISAPI_FALSE;
      if (Path->size() + 1 > *Size) {
        *Size = static_cast<DWORD>(Path->size() + 1);
        return ISAPI_FALSE;
      }
      std::memcpy(Text, Path->c_str(), Path->size() + 1);
      *Size = static_cast<DWORD>(Path->size() + 1);
      return ISAPI_TRUE;
    }
    case HSE_REQ_DONE_WITH_SESSION: {
      if (FDoneCalled) return ISAPI_FALSE;
      FDoneCalled = true;
      if (FPendingGate.fetch_add(1, std::memory_order_acq_rel) == 1) Finish();
      return ISAPI_TRUE;
    }
    default:
      return ISAPI_FALSE;
  }
}

}  // namespace tolvane::host
