// One client connection and the request it is serving: the HTTP side runs
// on the connection's strand, the extension side on whatever thread the
// extension calls back from.
#pragma once

#include "host_context.h"
#include "isapi/isapi.h"
#include "response_head.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvane::host {

namespace beast = boost::beast;
namespace http = beast::http;
namespace asio = boost::asio;

class TConnection : public std::enable_shared_from_this<TConnection> {
 public:
  TConnection(asio::ip::tcp::socket Socket, THostContext& Host);
  ~TConnection();
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  void Start();
  // Over the connection limit: answers 503 and closes.
  void Refuse();
  // At shutdown: a connection waiting for its next request is closed.
  void CloseIfIdle();

  // Called from the request's thread (any thread, the network thread
  // included) while the connection waits for it: writes on the caller's
  // thread, waiting for the socket at most the I/O time-out. With MayDefer
  // (the caller is this connection's network thread) what the socket does
  // not take at once is kept, up to a limit, and sent after the request
  // instead of holding the network thread for a slow client.
  bool WriteNow(const asio::const_buffer* Buffers, std::size_t Count, bool MayDefer);
  // Some body bytes into Buffer: true with Got 0 at the end of the body;
  // false when the client fails, is too slow or sends too much.
  bool ReadBodyBlocking(void* Buffer, std::size_t Size, std::size_t& Got);
  // Whether the whole request body has been read (same thread rule).
  bool BodyComplete() const { return FParser && FParser->is_done(); }
  // The response has left: goes on with the next request, or closes.
  void Complete(bool KeepAlive, bool Written);

  const std::string& RemoteAddr() const { return FRemoteAddr; }
  unsigned short RemotePort() const { return FRemotePort; }
  const std::string& LocalAddr() const { return FLocalAddr; }
  unsigned short LocalPort() const { return FLocalPort; }

 private:
  struct TReadOp;
  class THeadRecorder;

  void ReadRequest();
  void OnHeader(beast::error_code Error);
  void ReadAhead();
  void OnReadAhead(beast::error_code Error, std::size_t Wanted);
  void Dispatch();
  void ReadSome(std::shared_ptr<TReadOp> Op);
  void SendError(unsigned Status);
  void LingeringClose();
  void DiscardUntilClosed();
  void Close();
  // Writes the buffers, waiting for the socket unless Defer, in which case
  // what is left goes to FOut.
  bool WriteOut(const asio::const_buffer* Buffers, std::size_t Count, bool Defer);

  THostContext& FHost;
  beast::tcp_stream FStream;
  beast::flat_buffer FBuffer;
  std::optional<http::request_parser<http::buffer_body>> FParser;
  // The head as received, and its fields as the request will show them.
  std::string FRawHead;
  std::unique_ptr<THeadRecorder> FHeadRecorder;
  std::vector<std::pair<std::string, std::string>> FHeadFields;
  std::vector<unsigned char> FReadAhead;
  std::string FOut;
  std::string FScratch;
  std::size_t FDiscarded = 0;
  bool FIdle = false;
  bool FCounted = false;
  std::string FRemoteAddr;
  unsigned short FRemotePort = 0;
  std::string FLocalAddr;
  unsigned short FLocalPort = 0;
};

// One request handed to the extension: owns the control block and every
// string it points to, and answers the four callbacks.
class TRequest : public std::enable_shared_from_this<TRequest> {
 public:
  TRequest(std::shared_ptr<TConnection> Connection, THostContext& Host, std::uint64_t Id);
  TRequest(const TRequest&) = delete;
  TRequest& operator=(const TRequest&) = delete;

  // Fills in the control block from the facts below; then Run calls the
  // extension (on a network thread when the body has been read whole, else
  // on a request thread).
  void Prepare();
  void Run();

  // Set when the whole body came with the request: ReadClient then never
  // needs the network.
  bool FBodyRead = false;

  std::string FMethod;
  std::string FTarget;
  std::string FRequestLine;
  std::string FScriptName;
  std::string FPathInfo;
  std::string FQuery;
  std::string FPathTranslated;
  std::string FContentType;
  std::optional<std::string> FContentLength;
  bool FChunkedBody = false;
  std::vector<std::pair<std::string, std::string>> FHeaders;
  std::vector<unsigned char> FReadAhead;
  bool FIsHead = false;
  bool FHttp10 = false;
  bool FClientKeepAlive = true;

  static BOOL GetServerVariableCallback(HCONN ConnID, LPSTR Name, LPVOID Buffer, LPDWORD Size);
  static BOOL WriteClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Bytes, DWORD Reserved);
  static BOOL ReadClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Size);
  static BOOL ServerSupportFunctionCallback(HCONN ConnID, DWORD Request, LPVOID Buffer, LPDWORD Size,
                                            LPDWORD DataType);

  // The host whose registry the callbacks look ConnIDs up in.
  static THostContext* FCallbackHost;

 private:
  std::optional<std::string> Variable(std::string_view Name) const;
  void Commit(TResponseHead Head);
  bool AppendBody(const char* Data, std::size_t Size);
  bool Flush(const char* Extra, std::size_t ExtraSize);
  std::string TakeHeadIfUnsent(bool KeepAlive);
  bool KeepAliveNow() const;
  void Finish();
  bool Send(const asio::const_buffer* Buffers, std::size_t Count);
  BOOL SupportFunction(DWORD Request, LPVOID Buffer, LPDWORD Size, LPDWORD DataType);

  std::shared_ptr<TConnection> FConnection;
  THostContext& FHost;
  std::uint64_t FId;

 public:
  EXTENSION_CONTROL_BLOCK FECB;

 private:
  // Serialises the callbacks of this request, whatever threads they come from.
  std::mutex FCallLock;
  DWORD FResult = 0;
  bool FDoneCalled = false;
  // A pending request ends when both HttpExtensionProc has returned and
  // DONE_WITH_SESSION has come; whichever counts 2 finishes it. The return
  // side needs no lock, so the network thread never waits for an extension
  // thread that holds the request busy writing.
  std::atomic<int> FPendingGate{0};
  bool FFinished = false;

  bool FHeadCommitted = false;
  bool FHeadSent = false;
  bool FMustClose = false;
  bool FBroken = false;
  TResponseHead FResponse;
  TFraming FFraming = fmNone;
  std::uint64_t FDeclared = 0;
  std::uint64_t FBodyBytes = 0;
  std::string FPending;
};

}  // namespace tolvane::host
