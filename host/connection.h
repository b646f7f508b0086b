// One client connection: reads request heads and bodies, hands each request
// to the extension, and writes what the request answers. Everything that
// touches the socket runs on the connection's strand; other threads hand
// bytes over through a bounded queue.
#pragma once

#include "host_context.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tolvane::host {

namespace beast = boost::beast;
namespace http = beast::http;
namespace asio = boost::asio;

class TRequest;

class TConnection : public std::enable_shared_from_this<TConnection> {
 public:
  // The socket runs its handlers on the connection's strand, named by its
  // concrete type: a type-erased executor costs an allocation per operation.
  using TStrand = asio::strand<asio::io_context::executor_type>;
  using TSocket = asio::basic_stream_socket<asio::ip::tcp, TStrand>;

  // Remote is the peer as accept reported it: known even when the client
  // has already gone.
  TConnection(TSocket Socket, const asio::ip::tcp::endpoint& Remote, THostContext& Host);
  ~TConnection();
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  void Start();
  // Over the connection limit: answers 503 and closes.
  void Refuse();
  // At shutdown: a connection waiting for its next request is closed.
  void CloseIfIdle();
  // At the connection limit: an idle keep-alive connection makes room.
  void Evict();

  // From the request (any thread, under the request's lock): queues bytes
  // for the client. On the connection's own thread they are written at once
  // as far as the socket takes them; elsewhere the caller waits while the
  // queue is full. Last ends the response; KeepAlive then says whether the
  // connection serves another request. False when the client is gone.
  bool Send(std::span<const asio::const_buffer> Buffers, bool Last, bool KeepAlive);
  // Some body bytes into Buffer: true with Got 0 at the end of the body;
  // false when the client fails, is too slow or sends a broken body.
  bool ReadBodyBlocking(void* Buffer, std::size_t Size, std::size_t& Got);
  // Whether the whole request body has been read.
  bool BodyComplete() const { return FBodyDone.load(); }

  const std::string& RemoteAddr() const { return FRemoteAddr; }
  unsigned short RemotePort() const { return FRemotePort; }
  const std::string& LocalAddr() const { return FLocalAddr; }
  unsigned short LocalPort() const { return FLocalPort; }

 private:
  using TParser = http::request_parser<http::buffer_body>;
  using TStream = beast::basic_stream<asio::ip::tcp, TStrand>;
  using TBodyDone = std::function<void(beast::error_code Error, std::size_t Got)>;

  bool OnStrand() const;
  void ReadRequest();
  void ParseHead();
  void OnHead(std::size_t HeadSize);
  void ReadAhead();
  void Dispatch();
  // Parses body bytes into Into: until it is full (Fill) or some arrived,
  // or the body ends.
  void ReadBody(char* Into, std::size_t Size, bool Fill, TBodyDone Done);
  void ContinueBody(char* Into, std::size_t Size, bool Fill, std::size_t Got, TBodyDone Done);
  // One read from the socket into FBuffer, within its bound; then Then(error).
  template <class TThen>
  void ReadMore(TThen Then);
  void FailRequest(beast::error_code Error);
  void SendError(unsigned Status);
  // Strand: starts writing what waits, or, with the response out, goes on
  // with the next request.
  void Pump();
  void AfterWrite(beast::error_code Error);
  bool WriteBlocking(const std::string& Bytes);
  // What the socket takes of Buffers at once, without waiting; Failed when
  // the socket broke. Only on the strand, or under FOutLock while the strand
  // has no operation on the socket.
  std::size_t WriteSome(std::span<const asio::const_buffer> Buffers, bool& Failed);
  // Queues Buffers in FOut from byte Skip on (under FOutLock).
  void QueueRest(std::span<const asio::const_buffer> Buffers, std::size_t Skip);
  void OnResponseOut(bool KeepAlive);
  void LingeringClose();
  void DiscardUntilClosed();
  void Close();
  void WaitKeptAlive();
  // False when the connection was chosen to make room meanwhile.
  bool LeaveKeptAlive();
  void LogAnswer(unsigned Status, std::size_t BodyBytes);

  THostContext& FHost;
  TStrand FStrand;  // the stream's executor
  TStream FStream;
  // Unparsed bytes from the client, bounded: a head, a chunk-size line or
  // a trailer section may not grow past the header limit.
  beast::flat_buffer FBuffer;
  std::optional<TParser> FParser;
  std::function<void(std::uint64_t, std::string_view, beast::error_code&)> FOnChunkHeader;
  std::string FFirstLine;  // of the request being read, for the access log
  std::size_t FHeadParsed = 0;  // head bytes the parser has taken, still in FBuffer
  std::vector<unsigned char> FReadAhead;
  std::shared_ptr<TRequest> FRequest;  // from its head to its dispatch
  std::atomic<bool> FBodyDone{false};
  std::uint64_t FServed = 0;
  bool FInlineCall = false;  // strand: the extension runs on this thread now

  // Bytes on their way to the client.
  std::mutex FOutLock;
  std::condition_variable FOutRoom;
  std::string FOut;       // waiting
  std::string FSending;   // strand: the bytes of the write in flight
  bool FWriting = false;  // an asynchronous write is in flight
  bool FPumpQueued = false;
  bool FOutFailed = false;
  bool FEnded = false;
  bool FEndKeepAlive = false;

  bool FWaiting = false;  // strand: no byte of the next request yet
  // Under FHost.FConnectionsLock: the place in the host's list of
  // connections kept alive, and whether one was taken to make room.
  bool FKeptAlive = false;
  bool FEvicted = false;
  std::list<std::weak_ptr<TConnection>>::iterator FKeptAliveEntry;
  // The list node that moves into the host's list while the connection is
  // kept alive and back out after, so waiting allocates nothing.
  std::list<std::weak_ptr<TConnection>> FKeptAliveNode;
  std::string FScratch;
  std::size_t FDiscarded = 0;
  bool FCounted = false;
  std::string FRemoteAddr;
  unsigned short FRemotePort = 0;
  std::string FLocalAddr;
  unsigned short FLocalPort = 0;
};

}  // namespace tolvane::host
