// One request handed to the extension: owns the control block and every
// string it points to, and answers the four callbacks from whatever thread
// the extension calls them.
#pragma once

#include "framing.h"
#include "host_context.h"
#include <tolvane/isapi/isapi.h>
#include "response_head.h"

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/buffer_body.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvane::host {

class TConnection;

// Whether two server-variable or header names match: letters in either case,
// "-" and "_" alike.
bool SameVariableName(std::string_view A, std::string_view B);

class TRequest : public std::enable_shared_from_this<TRequest> {
 public:
  using TMessage = boost::beast::http::request<boost::beast::http::buffer_body>;

  TRequest(std::shared_ptr<TConnection> Connection, THostContext& Host, std::uint64_t Id);
  TRequest(const TRequest&) = delete;
  TRequest& operator=(const TRequest&) = delete;

  // Takes what the request head says, with the header fields as the head
  // rules settled them when the head was read: fields that arrive later (a
  // chunked body's trailer) never become request headers. A status to
  // answer instead when the target is unusable.
  std::optional<unsigned> TakeHead(const TMessage& Message, std::vector<std::pair<std::string, std::string>> Fields,
                                   std::optional<std::uint64_t> ContentLength, bool Chunked, bool KeepAlive);
  // The body bytes that came with the head, and whether that is all of it.
  void TakeReadAhead(std::vector<unsigned char> Bytes, bool Whole);
  // Calls the extension on the calling thread.
  void Run();

  std::uint64_t Id() const { return FId; }
  const std::string& RequestLine() const { return FRequestLine; }
  bool IsHead() const { return FIsHead; }

  static BOOL GetServerVariableCallback(HCONN ConnID, LPSTR Name, LPVOID Buffer, LPDWORD Size);
  static BOOL WriteClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Bytes, DWORD Reserved);
  static BOOL ReadClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Size);
  static BOOL ServerSupportFunctionCallback(HCONN ConnID, DWORD Request, LPVOID Buffer, LPDWORD Size,
                                            LPDWORD DataType);

  // The host whose registry the callbacks look ConnIDs up in.
  static THostContext* FCallbackHost;

 private:
  void Prepare();
  // A server variable's value: a view of the request's own text or of
  // Scratch. False for a name the host does not know.
  bool Variable(std::string_view Name, std::string& Scratch, std::string_view& Value) const;
  void Commit(TResponseHead Head);
  bool AppendBody(const char* Data, std::size_t Size);
  bool Flush(const char* Extra, std::size_t ExtraSize);
  // The head's text when it has not been sent yet, else "".
  const std::string& TakeHeadIfUnsent(bool KeepAlive);
  bool KeepAliveNow() const;
  void Finish();
  BOOL SupportFunction(DWORD Request, LPVOID Buffer, LPDWORD Size, LPDWORD DataType);

  // Held until the request is freed: callbacks that run without the lock
  // may still read the connection's addresses.
  std::shared_ptr<TConnection> FConnection;
  THostContext& FHost;
  std::uint64_t FId;

  // What the head said.
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
  bool FIsHead = false;
  bool FHttp10 = false;
  bool FClientKeepAlive = true;
  std::vector<unsigned char> FReadAhead;
  // Set when the whole body came with the head: ReadClient then never needs
  // the network.
  bool FBodyRead = false;

  EXTENSION_CONTROL_BLOCK FECB;

  // Serialises the callbacks of this request, whatever threads they come from.
  std::mutex FCallLock;
  DWORD FResult = 0;
  bool FDoneCalled = false;
  // A pending request ends when both HttpExtensionProc has returned and
  // DONE_WITH_SESSION has come; whichever counts 2 finishes it. The return
  // side needs no lock, so the network thread never waits for an extension
  // thread that holds the request busy writing.
  std::atomic<int> FPendingGate{0};
  // Written under FCallLock; read without it by server-variable callbacks.
  std::atomic<bool> FFinished{false};

  bool FHeadCommitted = false;
  bool FHeadSent = false;
  bool FMustClose = false;
  bool FBroken = false;
  TResponseHead FResponse;
  TBodyFramer FFramer;
  std::uint64_t FDeclared = 0;
  std::uint64_t FBodyBytes = 0;
  std::string FPending;
};

}  // namespace tolvane::host
