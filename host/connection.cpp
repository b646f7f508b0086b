#include "connection.h"

#include "request_rules.h"
#include "url_path.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <poll.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <span>

namespace tolvane::host {

namespace {

// Body bytes the extension gets with the control block.
constexpr std::size_t ReadAheadBytes = 48 * 1024;
// Written bytes are held back up to this much so a typical response leaves
// in one write.
constexpr std::size_t FlushThreshold = 64 * 1024;
// After an error answer the rest of what the client sends is read and thrown
// away for a while, so the answer is not lost to a connection reset.
constexpr std::size_t MaxDiscardBytes = 1024 * 1024;
constexpr auto LingerTime = std::chrono::seconds(2);
// Response bytes a network thread keeps back for a slow client before it
// waits for the socket after all.
constexpr std::size_t DeferLimit = 1024 * 1024;

// The request whose extension call runs inline on this network thread.
thread_local const void* GInlineRequest = nullptr;

std::chrono::milliseconds Ms(unsigned Value) { return std::chrono::milliseconds(Value); }

std::string UpperName(std::string_view Name) {
  std::string Result(Name);
  for (char& C : Result) {
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
    if (C == '-') C = '_';
  }
  return Result;
}

bool SameNoCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    auto Lower = [](char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; };
    if (Lower(A[I]) != Lower(B[I])) return false;
  }
  return true;
}

std::string SimpleResponse(unsigned Status, bool IsHead) {
  TResponseHead Head;
  Head.FStatus = Status;
  Head.FReason.assign(ReasonOf(Status));
  const std::string Body = std::to_string(Status) + " " + Head.FReason + "\n";
  Head.FFields.emplace_back("Content-Type", "text/plain");
  std::string Out = SerializeHead(Head, fmLength, Body.size(), false, false);
  if (!IsHead) Out += Body;
  return Out;
}

// Request lines go into the access log between quotes; control bytes and
// quotes are escaped so a client cannot forge log lines.
std::string EscapeForLog(std::string_view Text) {
  std::string Out;
  for (const char C : Text) {
    const auto U = static_cast<unsigned char>(C);
    if (U < 0x20 || U == 0x7F || C == '"' || C == '\\') {
      char Escape[8];
      std::snprintf(Escape, sizeof Escape, "\\x%02X", U);
      Out += Escape;
    } else {
      Out += C;
    }
  }
  return Out;
}

// The client went away or was too slow: nothing to answer.
bool IsConnectionLoss(const beast::error_code& Error) {
  return Error == http::error::end_of_stream || Error == http::error::partial_message ||
         Error == beast::error::timeout || Error == asio::error::operation_aborted || Error == asio::error::eof ||
         Error.category() == asio::error::get_system_category();
}

std::string AddressText(const asio::ip::address& Address) {
  if (Address.is_v6() && Address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, Address.to_v6()).to_string();
  return Address.to_string();
}

}  // namespace

// The connection's buffer as the head parser sees it, keeping a copy of the
// bytes the parser consumes: the head as received, which the request rules
// judge (the parser unfolds continuation lines).
class TConnection::THeadRecorder {
 public:
  using const_buffers_type = beast::flat_buffer::const_buffers_type;
  using mutable_buffers_type = beast::flat_buffer::mutable_buffers_type;
  THeadRecorder(beast::flat_buffer& Buffer, std::string& Raw) : FBuffer(Buffer), FRaw(Raw) {}
  std::size_t size() const { return FBuffer.size(); }
  std::size_t max_size() const { return FBuffer.max_size(); }
  std::size_t capacity() const { return FBuffer.capacity(); }
  const_buffers_type data() const { return FBuffer.data(); }
  mutable_buffers_type prepare(std::size_t N) { return FBuffer.prepare(N); }
  void commit(std::size_t N) { FBuffer.commit(N); }
  void consume(std::size_t N) {
    const auto Data = FBuffer.data();
    FRaw.append(static_cast<const char*>(Data.data()), std::min(N, Data.size()));
    FBuffer.consume(N);
  }

 private:
  beast::flat_buffer& FBuffer;
  std::string& FRaw;
};

// ---------------------------------------------------------------- connection

struct TConnection::TReadOp {
  char* Buffer;
  std::size_t Size;
  std::promise<std::pair<beast::error_code, std::size_t>> Result;
};

TConnection::TConnection(asio::ip::tcp::socket Socket, THostContext& Host)
    : FHost(Host), FStream(std::move(Socket)), FHeadRecorder(std::make_unique<THeadRecorder>(FBuffer, FRawHead)) {
  beast::error_code Error;
  FStream.socket().set_option(asio::ip::tcp::no_delay(true), Error);
  // Responses are written on the extension's thread with a bounded wait
  // (WriteNow): a full socket must answer "would block", not hang.
  FStream.socket().non_blocking(true, Error);
  const auto Remote = FStream.socket().remote_endpoint(Error);
  if (!Error) {
    FRemoteAddr = AddressText(Remote.address());
    FRemotePort = Remote.port();
  }
  const auto Local = FStream.socket().local_endpoint(Error);
  if (!Error) {
    FLocalAddr = AddressText(Local.address());
    FLocalPort = Local.port();
  }
}

TConnection::~TConnection() {
  if (FCounted) {
    std::lock_guard Guard(FHost.FConnectionsLock);
    FHost.FLiveConnections.erase(this);
    FHost.FConnections.fetch_sub(1);
  }
}

void TConnection::Start() {
  {
    std::lock_guard Guard(FHost.FConnectionsLock);
    FHost.FLiveConnections.insert(this);
    FHost.FConnections.fetch_add(1);
    FCounted = true;
  }
  asio::dispatch(FStream.get_executor(), [Self = shared_from_this()] { Self->ReadRequest(); });
}

void TConnection::Refuse() {
  asio::dispatch(FStream.get_executor(), [Self = shared_from_this()] { Self->SendError(503); });
}

void TConnection::CloseIfIdle() {
  // Runs under FConnectionsLock: the connection is alive but may be on its
  // way out, so only a weak reference is taken.
  std::weak_ptr<TConnection> Weak = weak_from_this();
  asio::post(FStream.get_executor(), [Weak] {
    if (auto Self = Weak.lock())
      if (Self->FIdle) Self->Close();
  });
}

void TConnection::ReadRequest() {
  if (FHost.FStopping.load()) return Close();
  FIdle = true;
  FParser.emplace();
  FParser->header_limit(FHost.FOptions.FMaxHeaderBytes);
  FParser->body_limit(FHost.FOptions.FMaxBodyBytes);
  FStream.expires_after(Ms(FHost.FOptions.FHeaderTimeoutMs));
  FRawHead.clear();
  http::async_read_header(FStream, *FHeadRecorder, *FParser,
                          [Self = shared_from_this()](beast::error_code Error, std::size_t) { Self->OnHeader(Error); });
}

void TConnection::OnHeader(beast::error_code Error) {
  FIdle = false;
  if (Error) {
    if (IsConnectionLoss(Error)) return Close();
    const auto Unread = FBuffer.data();
    FRawHead.append(static_cast<const char*>(Unread.data()), Unread.size());
    return SendError(HeadErrorStatus(Error, FRawHead, FHost.FOptions.FMaxHeaderBytes));
  }
  const auto& Message = FParser->get();
  THeadVerdict Verdict = JudgeRequestHead(Message, FRawHead);
  if (Verdict.FStatus != 0) return SendError(Verdict.FStatus);
  FHeadFields = std::move(Verdict.FFields);
  const auto Expect = Message.find(http::field::expect);
  if (Expect != Message.end()) {
    const std::string_view Value(Expect->value().data(), Expect->value().size());
    if (!SameNoCase(Value, "100-continue")) return SendError(417);
    if (Message.version() == 11 && !FParser->is_done()) {
      // The client waits for this before it sends the body we read ahead.
      static const std::string Continue = "HTTP/1.1 100 Continue\r\n\r\n";
      FStream.expires_after(Ms(FHost.FOptions.FIoTimeoutMs));
      asio::async_write(FStream, asio::buffer(Continue),
                        [Self = shared_from_this()](beast::error_code WriteError, std::size_t) {
                          if (WriteError) return Self->Close();
                          Self->ReadAhead();
                        });
      return;
    }
  }
  ReadAhead();
}

void TConnection::ReadAhead() {
  if (FParser->is_done()) {
    FReadAhead.clear();
    return Dispatch();
  }
  std::size_t Wanted = ReadAheadBytes;
  if (const auto Length = FParser->content_length())
    Wanted = static_cast<std::size_t>(std::min<std::uint64_t>(*Length, ReadAheadBytes));
  FReadAhead.resize(Wanted);
  auto& Body = FParser->get().body();
  Body.data = FReadAhead.data();
  Body.size = Wanted;
  FStream.expires_after(Ms(FHost.FOptions.FIoTimeoutMs));
  http::async_read(FStream, FBuffer, *FParser,
                   [Self = shared_from_this(), Wanted](beast::error_code Error, std::size_t) {
                     Self->OnReadAhead(Error, Wanted);
                   });
}

void TConnection::OnReadAhead(beast::error_code Error, std::size_t Wanted) {
  if (Error == http::error::need_buffer) Error = {};
  if (Error) {
    if (Error == http::error::body_limit) return SendError(413);
    if (IsConnectionLoss(Error)) return Close();
    return SendError(400);
  }
  FReadAhead.resize(Wanted - FParser->get().body().size);
  FParser->get().body().data = nullptr;
  FParser->get().body().size = 0;
  Dispatch();
}

void TConnection::Dispatch() {
  const auto& Message = FParser->get();
  const std::string_view Target(Message.target().data(), Message.target().size());
  std::string RawPath;
  std::string Query;
  std::string Decoded;
  if (!SplitTarget(Target, RawPath, Query) || !PercentDecode(RawPath, Decoded)) return SendError(400);
  const auto Clean = RemoveDotSegments(Decoded);
  if (!Clean) return SendError(400);
  const auto PathInfo = PathBelowMount(*Clean, FHost.FOptions.FMount);
  if (!PathInfo) return SendError(404);

  const std::uint64_t Id = FHost.FNextConnId.fetch_add(1);
  auto Request = std::make_shared<TRequest>(shared_from_this(), FHost, Id);
  Request->FMethod.assign(Message.method_string().data(), Message.method_string().size());
  Request->FTarget.assign(Target);
  Request->FRequestLine = Request->FMethod + " " + Request->FTarget + (Message.version() == 10 ? " HTTP/1.0" : " HTTP/1.1");
  Request->FScriptName = FHost.FOptions.FMount;
  Request->FPathInfo = *PathInfo;
  Request->FQuery = std::move(Query);
  Request->FPathTranslated = MapUrlToPath(FHost.FOptions.FRoot, *PathInfo).value_or(std::string());
  // The fields of the head: a chunked body's trailer, parsed since, adds none.
  Request->FHeaders = std::move(FHeadFields);
  FHeadFields = {};
  for (const auto& [Name, Value] : Request->FHeaders)
    if (SameNoCase(Name, "Content-Type")) Request->FContentType = Value;
  if (const auto Length = FParser->content_length()) Request->FContentLength = std::to_string(*Length);
  Request->FChunkedBody = FParser->chunked();
  Request->FReadAhead = std::move(FReadAhead);
  FReadAhead = {};
  Request->FIsHead = Message.method() == http::verb::head;
  Request->FHttp10 = Message.version() == 10;
  Request->FClientKeepAlive = FParser->keep_alive();
  Request->FBodyRead = FParser->is_done();
  Request->Prepare();
  FHost.FRegistry.Add(Id, Request);
  FHost.FInFlight.fetch_add(1);
  // With the body read whole nothing the extension asks for waits on this
  // connection's network thread, so the extension is called right here and
  // the request does not travel between threads. Otherwise ReadClient has
  // to wait for the network, and that cannot happen on the network thread.
  if (Request->FBodyRead && FHost.FOptions.FDirectCalls) {
    GInlineRequest = Request.get();
    Request->Run();
    GInlineRequest = nullptr;
    return;
  }
  asio::post(FHost.FCalls, [Request = std::move(Request)] { Request->Run(); });
}

bool TConnection::WriteOut(const asio::const_buffer* Buffers, std::size_t Count, bool Defer) {
  auto& Socket = FStream.socket();
  // The time-out counts from the last progress, so a slow but steady reader
  // of a long response is not cut off.
  auto Deadline = std::chrono::steady_clock::now() + Ms(FHost.FOptions.FIoTimeoutMs);
  std::size_t First = 0;
  asio::const_buffer Head = Count ? Buffers[0] : asio::const_buffer();
  constexpr std::size_t MaxPieces = 8;
  while (First < Count) {
    if (Head.size() == 0) {
      if (++First < Count) Head = Buffers[First];
      continue;
    }
    std::array<asio::const_buffer, MaxPieces> Pieces;
    std::size_t Used = 0;
    Pieces[Used++] = Head;
    for (std::size_t I = First + 1; I < Count && Used < MaxPieces; ++I) Pieces[Used++] = Buffers[I];
    beast::error_code Error;
    std::size_t Sent = Socket.write_some(std::span<const asio::const_buffer>(Pieces.data(), Used), Error);
    if (Error == asio::error::would_block || Error == asio::error::try_again) {
      if (Defer) {
        FOut.append(static_cast<const char*>(Head.data()), Head.size());
        for (std::size_t I = First + 1; I < Count; ++I)
          FOut.append(static_cast<const char*>(Buffers[I].data()), Buffers[I].size());
        return true;
      }
      const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
      if (Left.count() <= 0) return false;
      pollfd Wait{Socket.native_handle(), POLLOUT, 0};
      if (::poll(&Wait, 1, static_cast<int>(std::min<long long>(Left.count(), 1000))) < 0 && errno != EINTR) return false;
      continue;
    }
    if (Error == asio::error::interrupted) continue;
    if (Error) return false;
    Deadline = std::chrono::steady_clock::now() + Ms(FHost.FOptions.FIoTimeoutMs);
    // Skip what left, buffer by buffer.
    while (Sent > 0 && First < Count) {
      if (Sent < Head.size()) {
        Head += Sent;
        Sent = 0;
      } else {
        Sent -= Head.size();
        if (++First < Count) Head = Buffers[First];
        else Head = asio::const_buffer();
      }
    }
  }
  return true;
}

bool TConnection::WriteNow(const asio::const_buffer* Buffers, std::size_t Count, bool MayDefer) {
  if (!FOut.empty()) {
    // Bytes kept back earlier go first; below the limit new ones queue
    // behind them.
    if (MayDefer && FOut.size() < DeferLimit) {
      for (std::size_t I = 0; I < Count; ++I) FOut.append(static_cast<const char*>(Buffers[I].data()), Buffers[I].size());
      return true;
    }
    const asio::const_buffer Kept(FOut.data(), FOut.size());
    if (!WriteOut(&Kept, 1, false)) return false;
    FOut.clear();
  }
  return WriteOut(Buffers, Count, MayDefer);
}

void TConnection::ReadSome(std::shared_ptr<TReadOp> Op) {
  if (FParser->is_done()) {
    Op->Result.set_value({{}, 0});
    return;
  }
  auto& Body = FParser->get().body();
  Body.data = Op->Buffer;
  Body.size = Op->Size;
  FStream.expires_after(Ms(FHost.FOptions.FIoTimeoutMs));
  http::async_read_some(FStream, FBuffer, *FParser,
                        [Self = shared_from_this(), Op](beast::error_code Error, std::size_t) {
                          if (Error == http::error::need_buffer) Error = {};
                          auto& Body = Self->FParser->get().body();
                          const std::size_t Got = Op->Size - Body.size;
                          Body.data = nullptr;
                          Body.size = 0;
                          // Chunk headers alone give no bytes yet: keep reading.
                          if (!Error && Got == 0 && !Self->FParser->is_done()) return Self->ReadSome(Op);
                          Op->Result.set_value({Error, Got});
                        });
}

bool TConnection::ReadBodyBlocking(void* Buffer, std::size_t Size, std::size_t& Got) {
  Got = 0;
  auto Op = std::make_shared<TReadOp>();
  Op->Buffer = static_cast<char*>(Buffer);
  Op->Size = Size;
  auto Future = Op->Result.get_future();
  asio::post(FStream.get_executor(), [Self = shared_from_this(), Op] { Self->ReadSome(Op); });
  try {
    const auto [Error, Count] = Future.get();
    if (Error) return false;
    Got = Count;
    return true;
  } catch (const std::future_error&) {
    return false;
  }
}

void TConnection::Complete(bool KeepAlive, bool Written) {
  // Runs at once when the request finished on this connection's own
  // network thread; from an extension thread it is queued.
  asio::dispatch(FStream.get_executor(), [Self = shared_from_this(), KeepAlive, Written] {
    Self->FParser->get().body().data = nullptr;
    Self->FParser->get().body().size = 0;
    if (!Written) return Self->Close();
    auto Next = [Self, KeepAlive](beast::error_code Error) {
      if (Error) return Self->Close();
      if (KeepAlive && Self->FParser->is_done()) return Self->ReadRequest();
      Self->LingeringClose();
    };
    if (Self->FOut.empty()) return Next({});
    // What the socket did not take while the extension ran on this thread.
    Self->FStream.expires_after(Ms(Self->FHost.FOptions.FIoTimeoutMs));
    asio::async_write(Self->FStream, asio::buffer(Self->FOut), [Self, Next](beast::error_code Error, std::size_t) {
      Self->FOut.clear();
      Next(Error);
    });
  });
}

void TConnection::SendError(unsigned Status) {
  bool IsHead = false;
  if (FParser && FParser->is_header_done()) IsHead = FParser->get().method() == http::verb::head;
  FOut = SimpleResponse(Status, IsHead);
  FStream.expires_after(Ms(FHost.FOptions.FIoTimeoutMs));
  asio::async_write(FStream, asio::buffer(FOut), [Self = shared_from_this()](beast::error_code Error, std::size_t) {
    if (Error) return Self->Close();
    Self->LingeringClose();
  });
}

void TConnection::LingeringClose() {
  beast::error_code Ignored;
  FStream.socket().shutdown(asio::ip::tcp::socket::shutdown_send, Ignored);
  FStream.expires_after(LingerTime);
  FScratch.resize(16 * 1024);
  FDiscarded = 0;
  DiscardUntilClosed();
}

void TConnection::DiscardUntilClosed() {
  FStream.async_read_some(asio::buffer(FScratch), [Self = shared_from_this()](beast::error_code Error, std::size_t N) {
    Self->FDiscarded += N;
    if (Error || Self->FDiscarded > MaxDiscardBytes) return Self->Close();
    Self->DiscardUntilClosed();
  });
}

void TConnection::Close() {
  FIdle = false;
  beast::error_code Ignored;
  FStream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, Ignored);
  FStream.close();
}

// ------------------------------------------------------------------- request

THostContext* TRequest::FCallbackHost = nullptr;

TRequest::TRequest(std::shared_ptr<TConnection> Connection, THostContext& Host, std::uint64_t Id)
    : FConnection(std::move(Connection)), FHost(Host), FId(Id) {
  std::memset(&FECB, 0, sizeof FECB);
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
  return FClientKeepAlive && !FMustClose && !FBroken && FFraming != fmClose && !FHost.FStopping.load();
}

void TRequest::Commit(TResponseHead Head) {
  const bool NoBody = FIsHead || Head.FStatus == 204 || Head.FStatus == 304;
  if (Head.FStatus == 204) Head.FContentLength.reset();
  if (NoBody) {
    FFraming = fmNone;
  } else if (Head.FContentLength) {
    FFraming = fmLength;
    FDeclared = *Head.FContentLength;
  } else if (!FHttp10) {
    FFraming = fmChunked;
  } else {
    FFraming = fmClose;
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
  return SerializeHead(FResponse, FFraming, FDeclared, KeepAlive, FHttp10);
}

bool TRequest::Flush(const char* Extra, std::size_t ExtraSize) {
  const std::string Head = TakeHeadIfUnsent(KeepAliveNow());
  const std::size_t BodySize = FPending.size() + ExtraSize;
  char ChunkLine[24];
  std::array<asio::const_buffer, 5> Buffers;
  std::size_t Count = 0;
  if (!Head.empty()) Buffers[Count++] = asio::buffer(Head);
  if (FFraming == fmChunked && BodySize > 0) {
    const int Length = std::snprintf(ChunkLine, sizeof ChunkLine, "%zx\r\n", BodySize);
    Buffers[Count++] = asio::buffer(ChunkLine, static_cast<std::size_t>(Length));
  }
  if (!FPending.empty()) Buffers[Count++] = asio::buffer(FPending);
  if (ExtraSize > 0) Buffers[Count++] = asio::buffer(Extra, ExtraSize);
  if (FFraming == fmChunked && BodySize > 0) Buffers[Count++] = asio::buffer("\r\n", 2);
  const bool Written = Count == 0 || Send(Buffers.data(), Count);
  FPending.clear();
  if (!Written) FBroken = true;
  return Written;
}

bool TRequest::Send(const asio::const_buffer* Buffers, std::size_t Count) {
  return FConnection->WriteNow(Buffers, Count, GInlineRequest == this);
}

bool TRequest::AppendBody(const char* Data, std::size_t Size) {
  if (FBroken) return false;
  if (FFraming == fmNone) return true;  // HEAD, 204, 304: the body is dropped
  bool Excess = false;
  if (FFraming == fmLength && Size > FDeclared - FBodyBytes) {
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
  if (FFraming == fmLength && FBodyBytes < FDeclared) FMustClose = true;
  if (!FConnection->BodyComplete()) FMustClose = true;
  if (FResult == HSE_STATUS_ERROR) FMustClose = true;
  const bool KeepAlive = KeepAliveNow();
  bool Written = false;
  if (!FBroken) {
    // Head, last body bytes and the chunked trailer leave in one write.
    const std::string Head = TakeHeadIfUnsent(KeepAlive);
    char ChunkLine[24];
    std::array<asio::const_buffer, 4> Buffers;
    std::size_t Count = 0;
    if (!Head.empty()) Buffers[Count++] = asio::buffer(Head);
    if (FFraming == fmChunked && !FPending.empty()) {
      const int Length = std::snprintf(ChunkLine, sizeof ChunkLine, "%zx\r\n", FPending.size());
      Buffers[Count++] = asio::buffer(ChunkLine, static_cast<std::size_t>(Length));
    }
    if (!FPending.empty()) Buffers[Count++] = asio::buffer(FPending);
    if (FFraming == fmChunked) Buffers[Count++] = asio::buffer(FPending.empty() ? "0\r\n\r\n" : "\r\n0\r\n\r\n", FPending.empty() ? 5 : 7);
    Written = Count == 0 || Send(Buffers.data(), Count);
    FPending.clear();
  }
  if (FHost.FAccessLog.Enabled()) {
    FHost.FAccessLog.Write(FConnection->RemoteAddr() + " - - [" + LogDateNow() + "] \"" + EscapeForLog(FRequestLine) +
                           "\" " + std::to_string(FResponse.FStatus) + " " +
                           (FBodyBytes ? std::to_string(FBodyBytes) : std::string("-")) + "\n");
  }
  FHost.FRegistry.Remove(FId);
  FConnection->Complete(KeepAlive && !FBroken, Written);
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
