#include "connection.h"

#include "control_block.h"
#include "framing.h"
#include "network_threads.h"
#include "request_rules.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <future>

namespace tolvane::host {

namespace {

// Body bytes the extension gets with the control block.
constexpr std::size_t ReadAheadBytes = 48 * 1024;
// The largest single read from a client.
constexpr std::size_t ReadSize = 64 * 1024;
// Response bytes queued for one client: a writer on another thread waits
// while this much is still on its way.
constexpr std::size_t OutLimit = 256 * 1024;
// Chunk extensions carry nothing the host uses; a long one is an attack.
constexpr std::size_t ChunkExtensionLimit = 4096;
// After an error answer the rest of what the client sends is read and thrown
// away for a while, so the answer is not lost to a connection reset.
constexpr std::size_t MaxDiscardBytes = 1024 * 1024;
constexpr auto LingerTime = std::chrono::seconds(2);
// The request line as the access log shows it for a request that never got
// far enough to have one of its own.
constexpr std::size_t LoggedLineLimit = 1024;

std::chrono::milliseconds Ms(unsigned Value) { return std::chrono::milliseconds(Value); }

// The client went away or was too slow: nothing to answer.
bool IsConnectionLoss(const beast::error_code& Error) {
  return Error == http::error::end_of_stream || Error == http::error::partial_message ||
         Error == beast::error::timeout || Error == asio::error::operation_aborted || Error == asio::error::eof ||
         Error.category() == asio::error::get_system_category();
}

// The answer to a request the parser gave up on.
unsigned StatusOf(const beast::error_code& Error) {
  if (Error == http::error::header_limit) return 431;
  if (Error == http::error::body_limit) return 413;
  return 400;
}

std::string AddressText(const asio::ip::address& Address) {
  if (Address.is_v6() && Address.to_v6().is_v4_mapped())
    return asio::ip::make_address_v4(asio::ip::v4_mapped, Address.to_v6()).to_string();
  return Address.to_string();
}

std::string_view View(const beast::flat_buffer& Buffer) {
  return {static_cast<const char*>(Buffer.data().data()), Buffer.size()};
}

}  // namespace

TConnection::TConnection(TSocket Socket, const asio::ip::tcp::endpoint& Remote, THostContext& Host)
    : FHost(Host), FStrand(Socket.get_executor()), FStream(std::move(Socket)), FBuffer(Host.FOptions.FMaxHeaderBytes + ReadSize) {
  beast::error_code Error;
  FStream.socket().set_option(asio::ip::tcp::no_delay(true), Error);
  // Writes on the strand try the socket at once: a full socket must answer
  // "would block", not hold the thread.
  FStream.socket().non_blocking(true, Error);
  FRemoteAddr = AddressText(Remote.address());
  FRemotePort = Remote.port();
  const auto Local = FStream.socket().local_endpoint(Error);
  if (!Error) {
    FLocalAddr = AddressText(Local.address());
    FLocalPort = Local.port();
  }
  FOnChunkHeader = [](std::uint64_t, std::string_view Extensions, beast::error_code& ChunkError) {
    if (Extensions.size() > ChunkExtensionLimit) ChunkError = http::error::bad_chunk_extension;
  };
}

TConnection::~TConnection() {
  std::lock_guard Guard(FHost.FConnectionsLock);
  if (FKeptAlive) FHost.FKeptAlive.erase(FKeptAliveEntry);
  if (FCounted) {
    FHost.FLiveConnections.erase(this);
    FHost.FConnections.fetch_sub(1);
  }
}

bool TConnection::OnStrand() const { return FStrand.running_in_this_thread(); }

void TConnection::Start() {
  {
    std::lock_guard Guard(FHost.FConnectionsLock);
    FHost.FLiveConnections.insert(this);
    FHost.FConnections.fetch_add(1);
    FCounted = true;
  }
  FKeptAliveNode.push_back(weak_from_this());
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
      if (Self->FWaiting) Self->Close();
  });
}

void TConnection::Evict() {
  // Under FConnectionsLock, like the strand's own move out of the list, so
  // a connection whose next request has begun is never taken.
  FKeptAliveNode.splice(FKeptAliveNode.end(), FHost.FKeptAlive, FKeptAliveEntry);
  FKeptAlive = false;
  FEvicted = true;
  std::weak_ptr<TConnection> Weak = weak_from_this();
  asio::post(FStream.get_executor(), [Weak] {
    if (auto Self = Weak.lock()) Self->Close();
  });
}

void TConnection::WaitKeptAlive() {
  std::lock_guard Guard(FHost.FConnectionsLock);
  FKeptAliveEntry = FKeptAliveNode.begin();
  FHost.FKeptAlive.splice(FHost.FKeptAlive.end(), FKeptAliveNode, FKeptAliveEntry);
  FKeptAlive = true;
}

bool TConnection::LeaveKeptAlive() {
  std::lock_guard Guard(FHost.FConnectionsLock);
  if (FEvicted) return false;
  if (FKeptAlive) FKeptAliveNode.splice(FKeptAliveNode.end(), FHost.FKeptAlive, FKeptAliveEntry);
  FKeptAlive = false;
  return true;
}

// ------------------------------------------------------------ reading

void TConnection::ReadRequest() {
  if (FHost.FStopping.load()) return Close();
  FParser.emplace();
  FParser->header_limit(FHost.FOptions.FMaxHeaderBytes);
  FParser->body_limit(FHost.FOptions.FMaxBodyBytes);
  FParser->on_chunk_header(FOnChunkHeader);
  FFirstLine.clear();
  FHeadParsed = 0;
  FBodyDone = false;
  FWaiting = FBuffer.size() == 0;
  if (FWaiting && FServed > 0) {
    // Between requests a client may wait a while, but at the connection
    // limit it is the first to make room.
    WaitKeptAlive();
    FStream.expires_after(Ms(FHost.FOptions.FKeepAliveTimeoutMs));
  } else {
    FStream.expires_after(Ms(FHost.FOptions.FHeaderTimeoutMs));
  }
  ParseHead();
}

void TConnection::ParseHead() {
  if (FBuffer.size() > FHeadParsed) {
    if (FFirstLine.empty()) {
      const auto Text = View(FBuffer);
      const auto End = std::min({Text.find("\r\n"), Text.size(), LoggedLineLimit});
      FFirstLine.assign(Text.substr(0, End));
    }
    // The parser takes the request line before the fields are complete; the
    // head stays in the buffer until it is whole, so the checks see it raw.
    beast::error_code Error;
    FHeadParsed += FParser->put(FBuffer.data() + FHeadParsed, Error);
    if (!Error && FParser->is_header_done()) return OnHead(FHeadParsed);
    if (Error && Error != http::error::need_more)
      return SendError(HeadErrorStatus(Error, View(FBuffer), FHost.FOptions.FMaxHeaderBytes));
  }
  ReadMore([Self = shared_from_this()](beast::error_code Error) {
    if (Error) return Self->FailRequest(Error);
    Self->ParseHead();
  });
}

template <class TThen>
void TConnection::ReadMore(TThen Then) {
  const std::size_t Size = beast::read_size(FBuffer, ReadSize);
  if (Size == 0) return Then(http::error::buffer_overflow);
  FStream.async_read_some(FBuffer.prepare(Size), [Self = shared_from_this(), Then = std::move(Then)](
                                                     beast::error_code Error, std::size_t Got) mutable {
    Self->FBuffer.commit(Got);
    if (Got > 0 && Self->FWaiting) {
      // The next request has begun: from here the head time-out counts.
      Self->FWaiting = false;
      if (!Self->LeaveKeptAlive()) return Self->Close();
      if (Self->FServed > 0) Self->FStream.expires_after(Ms(Self->FHost.FOptions.FHeaderTimeoutMs));
    }
    Then(Error);
  });
}

void TConnection::FailRequest(beast::error_code Error) {
  if (Error == http::error::buffer_overflow)
    return SendError(FParser->is_header_done()
                         ? 400
                         : HeadErrorStatus(http::error::header_limit, View(FBuffer), FHost.FOptions.FMaxHeaderBytes));
  if (IsConnectionLoss(Error)) return Close();
  SendError(StatusOf(Error));
}

void TConnection::OnHead(std::size_t HeadSize) {
  FWaiting = false;
  const std::string_view RawHead(static_cast<const char*>(FBuffer.data().data()), HeadSize);
  const auto& Message = FParser->get();
  THeadVerdict Verdict = JudgeRequestHead(Message, RawHead);
  if (Verdict.FStatus != 0) return SendError(Verdict.FStatus);
  const auto Expect = Message.find(http::field::expect);
  if (Expect != Message.end() && !beast::iequals(Expect->value(), "100-continue")) return SendError(417);
  FBuffer.consume(HeadSize);
  FRequest = std::make_shared<TRequest>(shared_from_this(), FHost, FHost.FNextConnId.fetch_add(1));
  std::optional<std::uint64_t> Length;
  if (const auto Declared = FParser->content_length()) Length = *Declared;
  if (const auto Status = FRequest->TakeHead(Message, std::move(Verdict.FFields), Length, FParser->chunked(),
                                                 FParser->keep_alive())) {
    FRequest.reset();
    return SendError(*Status);
  }
  if (Message.find(http::field::expect) != Message.end() && Message.version() == 11 && !FParser->is_done()) {
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
  ReadAhead();
}

void TConnection::ReadAhead() {
  if (FParser->is_done()) {
    FBodyDone = true;
    return Dispatch();
  }
  std::size_t Wanted = ReadAheadBytes;
  if (const auto Length = FParser->content_length())
    Wanted = static_cast<std::size_t>(std::min<std::uint64_t>(*Length, ReadAheadBytes));
  FReadAhead.resize(Wanted);
  FStream.expires_after(Ms(FHost.FOptions.FIoTimeoutMs));
  ReadBody(reinterpret_cast<char*>(FReadAhead.data()), Wanted, true,
           [Self = shared_from_this()](beast::error_code Error, std::size_t Got) {
             if (Error) return Self->FailRequest(Error);
             Self->FReadAhead.resize(Got);
             Self->Dispatch();
           });
}

void TConnection::ReadBody(char* Into, std::size_t Size, bool Fill, TBodyDone Done) {
  ContinueBody(Into, Size, Fill, 0, std::move(Done));
}

void TConnection::ContinueBody(char* Into, std::size_t Size, bool Fill, std::size_t Got, TBodyDone Done) {
  while (true) {
    if (FParser->is_done()) {
      FBodyDone = true;
      return Done({}, Got);
    }
    if (Got == Size || (!Fill && Got > 0)) return Done({}, Got);
    auto& Body = FParser->get().body();
    Body.data = Into + Got;
    Body.size = Size - Got;
    beast::error_code Error;
    const std::size_t Used = FBuffer.size() > 0 ? FParser->put(FBuffer.data(), Error) : 0;
    FBuffer.consume(Used);
    Got = Size - Body.size;
    Body.data = nullptr;
    Body.size = 0;
    if (Error == http::error::need_buffer) Error = {};
    if (Error && Error != http::error::need_more) return Done(Error, Got);
    if (Used > 0 && !Error) continue;  // more may be buffered
    // The parser waits for more: what it holds is lines only (a chunk-size
    // line, the CRLF after chunk data, the trailer section), each bounded
    // like a head and ended by CRLF.
    if (FParser->chunked()) {
      if (HasBareLineFeed(View(FBuffer))) return Done(http::error::bad_line_ending, Got);
      if (FBuffer.size() > FHost.FOptions.FMaxHeaderBytes) return Done(http::error::bad_chunk, Got);
    }
    break;
  }
  ReadMore([Self = shared_from_this(), Into, Size, Fill, Got, Done = std::move(Done)](beast::error_code Error) mutable {
    if (Error) return Done(Error, Got);
    Self->ContinueBody(Into, Size, Fill, Got, std::move(Done));
  });
}

void TConnection::Dispatch() {
  auto Request = std::move(FRequest);
  Request->TakeReadAhead(std::move(FReadAhead), FBodyDone);
  FReadAhead = {};
  FHost.FRegistry.Add(Request->Id(), Request);
  FHost.FInFlight.fetch_add(1);
  // With the body read whole nothing the extension asks for waits on this
  // connection's network thread, so the extension is called right here and
  // the request does not travel between threads. Otherwise ReadClient has
  // to wait for the network, and that cannot happen on the network thread.
  if (FBodyDone && FHost.FOptions.FDirectCalls) {
    FInlineCall = true;
    Request->Run();
    FInlineCall = false;
    // What the socket did not take during the call leaves now.
    return Pump();
  }
  asio::post(FHost.FCalls, [Request = std::move(Request)] { Request->Run(); });
}

bool TConnection::ReadBodyBlocking(void* Buffer, std::size_t Size, std::size_t& Got) {
  Got = 0;
  if (FBodyDone) return true;
  auto Result = std::make_shared<std::promise<std::pair<beast::error_code, std::size_t>>>();
  auto Future = Result->get_future();
  asio::post(FStream.get_executor(), [Self = shared_from_this(), Buffer, Size, Result] {
    Self->FStream.expires_after(Ms(Self->FHost.FOptions.FIoTimeoutMs));
    Self->ReadBody(static_cast<char*>(Buffer), Size, false,
                   [Result](beast::error_code Error, std::size_t Count) { Result->set_value({Error, Count}); });
  });
  try {
    const auto [Error, Count] = Future.get();
    if (Error) return false;
    Got = Count;
    return true;
  } catch (const std::future_error&) {
    return false;  // the network loop stopped first
  }
}

// ------------------------------------------------------------ writing

std::size_t TConnection::WriteSome(std::span<const asio::const_buffer> Buffers, bool& Failed) {
  std::size_t Total = 0;
  for (const auto& Piece : Buffers) Total += Piece.size();
  beast::error_code Error;
  const std::size_t Sent = Total ? FStream.socket().write_some(Buffers, Error) : 0;
  Failed = Error && Error != asio::error::would_block && Error != asio::error::try_again;
  return Failed ? 0 : Sent;
}

void TConnection::QueueRest(std::span<const asio::const_buffer> Buffers, std::size_t Skip) {
  for (const auto& Piece : Buffers) {
    if (Skip >= Piece.size()) {
      Skip -= Piece.size();
      continue;
    }
    FOut.append(static_cast<const char*>(Piece.data()) + Skip, Piece.size() - Skip);
    Skip = 0;
  }
}

bool TConnection::Send(std::span<const asio::const_buffer> Buffers, bool Last, bool KeepAlive) {
  if (OnStrand()) {
    std::unique_lock Guard(FOutLock);
    if (FOutFailed) return false;
    if (FOut.empty() && !FWriting) {
      // The usual case: nothing queued, so the bytes go straight to the
      // socket from the caller's buffers.
      Guard.unlock();
      bool Failed = false;
      const std::size_t Sent = WriteSome(Buffers, Failed);
      Guard.lock();
      if (Failed) {
        FOutFailed = true;
        return false;
      }
      // Whatever is left waits in the queue.
      QueueRest(Buffers, Sent);
    } else {
      QueueRest(Buffers, 0);
    }
    if (Last) {
      FEnded = true;
      FEndKeepAlive = KeepAlive;
    }
    if (FInlineCall && !Last && FOut.size() > OutLimit) {
      // The extension runs on this network thread and its client reads
      // slowly: the thread waits for the client, after handing its place in
      // the network loop to a spare.
      std::string Waiting;
      Waiting.swap(FOut);
      Guard.unlock();
      const bool Spared = FHost.FNetwork && FHost.FNetwork->BeginWait();
      const bool Written = WriteBlocking(Waiting);
      if (FHost.FNetwork) FHost.FNetwork->EndWait(Spared);
      Guard.lock();
      if (!Written) FOutFailed = true;
      return Written;
    }
    if (!FInlineCall) {
      Guard.unlock();
      Pump();
    }
    return true;
  }
  // Another thread: the bytes queue for the strand, and the caller waits
  // while the queue is full.
  std::unique_lock Guard(FOutLock);
  FOutRoom.wait(Guard, [this] { return FOutFailed || FOut.size() < OutLimit; });
  if (FOutFailed) return false;
  if (FOut.empty() && !FWriting && FBodyDone.load()) {
    // With the body read whole the network thread has no operation on the
    // socket until the response is out, so the bytes leave from this thread
    // at once, without a copy. The lock keeps Close from closing the socket
    // meanwhile.
    bool Failed = false;
    const std::size_t Sent = WriteSome(Buffers, Failed);
    if (Failed) {
      // The strand closes the connection.
      FOutFailed = true;
      if (!FPumpQueued) {
        FPumpQueued = true;
        asio::post(FStrand, [Self = shared_from_this()] { Self->Pump(); });
      }
      return false;
    }
    QueueRest(Buffers, Sent);
  } else {
    QueueRest(Buffers, 0);
  }
  if (Last) {
    FEnded = true;
    FEndKeepAlive = KeepAlive;
  }
  if (!FPumpQueued && !FWriting && (Last || !FOut.empty())) {
    FPumpQueued = true;
    asio::post(FStrand, [Self = shared_from_this()] { Self->Pump(); });
  }
  return true;
}

void TConnection::Pump() {
  std::unique_lock Guard(FOutLock);
  FPumpQueued = false;
  if (FWriting) return;
  if (FOutFailed) {
    FOutRoom.notify_all();
    Guard.unlock();
    return Close();
  }
  if (FOut.empty()) {
    if (!FEnded) return;
    FEnded = false;
    const bool KeepAlive = FEndKeepAlive;
    Guard.unlock();
    return OnResponseOut(KeepAlive);
  }
  FSending.clear();
  FSending.swap(FOut);
  FWriting = true;
  Guard.unlock();
  FOutRoom.notify_all();
  // Most often the socket takes it all at once.
  beast::error_code Error;
  const std::size_t Sent = FStream.socket().write_some(asio::buffer(FSending), Error);
  if (!Error && Sent == FSending.size()) return AfterWrite({});
  if (Error && Error != asio::error::would_block && Error != asio::error::try_again) return AfterWrite(Error);
  FSending.erase(0, Error ? 0 : Sent);
  FStream.expires_after(Ms(FHost.FOptions.FIoTimeoutMs));
  asio::async_write(FStream, asio::buffer(FSending),
                    [Self = shared_from_this()](beast::error_code WriteError, std::size_t) {
                      Self->AfterWrite(WriteError);
                    });
}

void TConnection::AfterWrite(beast::error_code Error) {
  {
    std::lock_guard Guard(FOutLock);
    FWriting = false;
    FSending.clear();
    if (Error) FOutFailed = true;
  }
  FOutRoom.notify_all();
  Pump();
}

bool TConnection::WriteBlocking(const std::string& Bytes) {
  auto& Socket = FStream.socket();
  // The time-out counts from the last progress, so a slow but steady reader
  // of a long response is not cut off.
  auto Deadline = std::chrono::steady_clock::now() + Ms(FHost.FOptions.FIoTimeoutMs);
  std::size_t Done = 0;
  while (Done < Bytes.size()) {
    beast::error_code Error;
    const std::size_t Sent = Socket.write_some(asio::buffer(Bytes.data() + Done, Bytes.size() - Done), Error);
    if (Error == asio::error::would_block || Error == asio::error::try_again) {
      const auto Left =
          std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
      if (Left.count() <= 0) return false;
      pollfd Wait{Socket.native_handle(), POLLOUT, 0};
      if (::poll(&Wait, 1, static_cast<int>(std::min<long long>(Left.count(), 1000))) < 0 && errno != EINTR)
        return false;
      continue;
    }
    if (Error == asio::error::interrupted) continue;
    if (Error) return false;
    Done += Sent;
    Deadline = std::chrono::steady_clock::now() + Ms(FHost.FOptions.FIoTimeoutMs);
  }
  return true;
}

void TConnection::OnResponseOut(bool KeepAlive) {
  ++FServed;
  if (KeepAlive && FBodyDone) return ReadRequest();
  LingeringClose();
}

// ------------------------------------------------------------ errors and closing

void TConnection::LogAnswer(unsigned Status, std::size_t BodyBytes) {
  FHost.FAccessLog.Answer(FRemoteAddr, FFirstLine, Status, BodyBytes);
}

void TConnection::SendError(unsigned Status) {
  FWaiting = false;
  FRequest.reset();
  bool IsHead = false;
  if (FParser && FParser->is_header_done()) IsHead = FParser->get().method() == http::verb::head;
  auto Answer = std::make_shared<std::string>(HostAnswer(Status, IsHead));
  const std::size_t Head = Answer->find("\r\n\r\n") + 4;
  LogAnswer(Status, Answer->size() - Head);
  FStream.expires_after(Ms(FHost.FOptions.FIoTimeoutMs));
  asio::async_write(FStream, asio::buffer(*Answer),
                    [Self = shared_from_this(), Answer](beast::error_code Error, std::size_t) {
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
  FWaiting = false;
  FRequest.reset();
  {
    std::lock_guard Guard(FOutLock);
    FOutFailed = true;
  }
  FOutRoom.notify_all();
  beast::error_code Ignored;
  FStream.socket().shutdown(asio::ip::tcp::socket::shutdown_both, Ignored);
  FStream.close();
}

}  // namespace tolvane::host
