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

// The request this thread is calling the extension for: its callbacks find
// it without the registry's lock.
thread_local TRequest* CurrentRequest = nullptr;

}  // namespace

bool SameVariableName(std::string_view A, std::string_view B) {
  auto Fold = [](char C) {
    if (C >= 'a' && C <= 'z') return static_cast<char>(C - 'a' + 'A');
    return C == '-' ? '_' : C;
  };
  if (A.size() != B.size()) return false;
  for (std::size_t I = 0; I < A.size(); ++I)
    if (Fold(A[I]) != Fold(B[I])) return false;
  return true;
}

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
  TRequest* const Outer = std::exchange(CurrentRequest, this);
  DWORD Result;
  try {
    Result = FHost.FExtension.HttpExtensionProc(&FECB);
  } catch (...) {
    Result = HSE_STATUS_ERROR;
  }
  CurrentRequest = Outer;
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

bool TRequest::Variable(std::string_view Name, std::string& Scratch, std::string_view& Value) const {
  // Names are compared as the upper-case form with "-" read as "_", without
  // building that form: the extension asks for several on every request.
  auto Is = [Name](std::string_view Upper) { return SameVariableName(Name, Upper); };
  auto Header = [this](std::string_view WantedUpper, std::string& Into) {
    bool Found = false;
    for (const auto& [HeaderName, HeaderValue] : FHeaders) {
      if (!SameVariableName(HeaderName, WantedUpper)) continue;
      if (Found) Into += SameVariableName(WantedUpper, "COOKIE") ? "; " : ", ";
      Into += HeaderValue;
      Found = true;
    }
    return Found;
  };
  auto Text = [&Value](std::string_view Answer) {
    Value = Answer;
    return true;
  };
  auto Number = [&](unsigned Answer) {
    Scratch = std::to_string(Answer);
    return Text(Scratch);
  };
  Scratch.clear();
  if (Is("SERVER_PROTOCOL")) return Text(FHttp10 ? "HTTP/1.0" : "HTTP/1.1");
  if (Is("REQUEST_METHOD")) return Text(FMethod);
  if (Is("URL") || Is("SCRIPT_NAME")) return Text(FScriptName);
  if (Is("HTTP_URL") || Is("UNENCODED_URL")) return Text(FTarget);
  if (Is("PATH_INFO")) return Text(FPathInfo);
  if (Is("PATH_TRANSLATED")) return Text(FPathTranslated);
  if (Is("QUERY_STRING")) return Text(FQuery);
  if (Is("CONTENT_LENGTH")) return FContentLength && Text(*FContentLength);
  if (Is("CONTENT_TYPE")) return Text(FContentType);
  if (Is("REMOTE_ADDR") || Is("REMOTE_HOST")) return Text(FConnection->RemoteAddr());
  if (Is("REMOTE_PORT")) return Number(FConnection->RemotePort());
  if (Is("LOCAL_ADDR")) return Text(FConnection->LocalAddr());
  if (Is("SERVER_PORT")) return Number(FConnection->LocalPort());
  if (Is("SERVER_NAME")) {
    if (!Header("HOST", Scratch) || Scratch.empty()) return Text(FConnection->LocalAddr());
    const size_t Colon = Scratch.rfind(':');
    if (Colon != std::string::npos && Scratch.find(']', Colon) == std::string::npos) Scratch.resize(Colon);
    return Text(Scratch);
  }
  if (Is("SERVER_SOFTWARE")) return Text(ServerSoftware);
  if (Is("HTTPS")) return Text("off");
  if (Is("SERVER_PORT_SECURE")) return Text("0");
  if (Is("GATEWAY_INTERFACE")) return Text("CGI/1.1");
  if (Is("AUTH_TYPE") || Is("REMOTE_USER") || Is("LOGON_USER")) return Text("");
  if (Is("ALL_HTTP")) {
    for (const auto& [HeaderName, HeaderValue] : FHeaders) {
      Scratch += "HTTP_";
      Scratch += UpperName(HeaderName);
      Scratch += ':';
      Scratch += HeaderValue;
      Scratch += '\n';
    }
    return Text(Scratch);
  }
  if (Is("ALL_RAW")) {
    for (const auto& [HeaderName, HeaderValue] : FHeaders) {
      Scratch += HeaderName;
      Scratch += ": ";
      Scratch += HeaderValue;
      Scratch += "\r\n";
    }
    return Text(Scratch);
  }
  if (Name.size() > 5 && SameVariableName(Name.substr(0, 5), "HTTP_"))
    return Header(Name.substr(5), Scratch) && Text(Scratch);
  return false;
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

const std::string& TRequest::TakeHeadIfUnsent(bool KeepAlive) {
  // Built in a buffer the calling thread keeps: Send has written or queued
  // the bytes by the time it returns.
  thread_local std::string Text;
  Text.clear();
  if (FHeadSent) return Text;
  FHeadSent = true;
  AppendHead(Text, FResponse, FFramer.Framing(), FDeclared, KeepAlive, FHttp10);
  return Text;
}

bool TRequest::Flush(const char* Extra, std::size_t ExtraSize) {
  const std::string& Head = TakeHeadIfUnsent(KeepAliveNow());
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
  if (FFinished.load(std::memory_order_relaxed)) return;
  FFinished.store(true, std::memory_order_release);
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
  TWirePieces Out;
  if (!FBroken) {
    Out.Add(asio::buffer(TakeHeadIfUnsent(KeepAlive)));
    const asio::const_buffer Body = asio::buffer(FPending);
    FFramer.AddBody(Out, {&Body, 1}, FPending.size());
    FFramer.AddEnd(Out);
  }
  FHost.FAccessLog.Answer(FConnection->RemoteAddr(), FRequestLine, FResponse.FStatus, FBodyBytes);
  FHost.FRegistry.Remove(FId);
  FConnection->Send(Out.View(), true, KeepAlive && !FBroken);
  FPending.clear();
  FHost.FInFlight.fetch_sub(1);
}

// ----------------------------------------------------------------- callbacks

namespace {

// A request a callback names, kept alive while the callback runs.
struct TFound {
  TRequest* FRequest = nullptr;
  std::shared_ptr<TRequest> FHold;  // empty when the calling thread's own request holds it
  TRequest* operator->() const { return FRequest; }
  explicit operator bool() const { return FRequest != nullptr; }
};

TFound Lookup(HCONN ConnID) {
  const auto Id = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(ConnID));
  // Inside HttpExtensionProc the request is the one this thread called for.
  if (CurrentRequest && CurrentRequest->Id() == Id) return {CurrentRequest, nullptr};
  if (!TRequest::FCallbackHost) return {};
  auto Request = TRequest::FCallbackHost->FRegistry.Find(Id);
  TRequest* const Raw = Request.get();
  return {Raw, std::move(Request)};
}

}  // namespace

BOOL TRequest::GetServerVariableCallback(HCONN ConnID, LPSTR Name, LPVOID Buffer, LPDWORD Size) {
  auto Request = Lookup(ConnID);
  if (!Request || !Name || !Size) return ISAPI_FALSE;
  // No lock: what the variables tell was settled before the extension was
  // called and stays until the request is freed.
  if (Request->FFinished.load(std::memory_order_acquire)) return ISAPI_FALSE;
  thread_local std::string Scratch;
  std::string_view Value;
  if (!Request->Variable(Name, Scratch, Value)) return ISAPI_FALSE;
  const std::size_t Needed = Value.size() + 1;
  if (!Buffer || *Size < Needed) {
    // Too small: the caller learns the size it needs.
    *Size = static_cast<DWORD>(Needed);
    return ISAPI_FALSE;
  }
  std::memcpy(Buffer, Value.data(), Value.size());
  static_cast<char*>(Buffer)[Value.size()] = '\0';
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
