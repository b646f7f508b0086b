#pragma once
// An in-memory ISAPI host for tests. Each TFakeIsapiConnection is one request:
// it owns a control block whose four callbacks answer from tables the test
// fills (server variables, body bytes, URL mappings) and record every call,
// with the thread that made it. Callbacks may come from any thread; the
// record is guarded, the tables are meant to be filled before the request
// runs. A callback whose ConnID names no live connection answers FALSE and is
// counted in StrayCalls.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <tolvane/isapi/isapi.h>

namespace tolvane::testing {

enum class TIsapiCallKind { ckGetServerVariable, ckReadClient, ckWriteClient, ckServerSupportFunction };

struct TIsapiCall {
  TIsapiCallKind Kind;
  std::thread::id Thread;
  std::string Name;                 // GetServerVariable: the variable name
  DWORD Request = 0;                // ServerSupportFunction: the request code
  std::optional<DWORD> SizeIn;      // the size or byte count passed; none for a null pointer
  std::optional<DWORD> SizeOut;     // what the callback left there
  DWORD Flags = 0;                  // WriteClient: the reserved (flags) argument
  std::optional<std::string> Data;  // bytes written, bytes read, or the text of the buffer argument
  std::optional<std::string> Extra; // ServerSupportFunction: the text of the data-type argument
  BOOL Result = ISAPI_FALSE;
};

class TFakeIsapiConnection {
 public:
  TFakeIsapiConnection();
  ~TFakeIsapiConnection();
  TFakeIsapiConnection(const TFakeIsapiConnection&) = delete;
  TFakeIsapiConnection& operator=(const TFakeIsapiConnection&) = delete;

  EXTENSION_CONTROL_BLOCK* ECB() { return &FECB; }

  // Control-block strings; nullptr leaves the field a null pointer.
  TFakeIsapiConnection& SetMethod(const char* Value);
  TFakeIsapiConnection& SetQueryString(const char* Value);
  TFakeIsapiConnection& SetPathInfo(const char* Value);
  TFakeIsapiConnection& SetPathTranslated(const char* Value);
  // A server variable, found by its exact name.
  TFakeIsapiConnection& SetVariable(const std::string& Name, std::string Value);
  // The body: the part read ahead (lpbData, cbAvailable) and the part ReadClient
  // still hands out.
  TFakeIsapiConnection& SetBody(std::string Available, std::string Unread = {});
  // What HSE_REQ_MAP_URL_TO_PATH answers for Url.
  TFakeIsapiConnection& MapUrl(const std::string& Url, std::string Path);

  // Host behaviour.
  bool ReportNeededSize = true;        // a too-small buffer reports the size needed
  DWORD MaxReadSize = 0xFFFFFFFFu;     // the most bytes one ReadClient hands out
  DWORD MaxWriteSize = 0xFFFFFFFFu;    // the most bytes one WriteClient takes
  bool FailReads = false;
  bool FailWrites = false;
  std::set<DWORD> FailingRequests;     // ServerSupportFunction codes that answer FALSE

  // Holds every WriteClient inside the host from now on, until ReleaseWrites:
  // the extension's thread stays in the middle of its answer meanwhile.
  void HoldWrites();
  // Waits until a write is being held; false on time-out.
  bool AwaitHeldWrite(std::chrono::milliseconds Timeout) const;
  void ReleaseWrites();

  // The record.
  std::vector<TIsapiCall> Calls() const;
  std::vector<TIsapiCall> Calls(TIsapiCallKind Kind) const;
  std::vector<TIsapiCall> SupportCalls(DWORD Request) const;
  std::vector<std::string> VariableNames() const;  // names asked, in order
  std::string Written() const;                     // every byte WriteClient took
  int DoneCount() const;                           // HSE_REQ_DONE_WITH_SESSION calls
  // Waits until the session has been reported done; false on time-out.
  bool WaitDone(std::chrono::milliseconds Timeout) const;

  // Callbacks whose ConnID named no live connection, process-wide.
  static int StrayCalls();

 private:
  static TFakeIsapiConnection* Find(HCONN ConnID);
  static BOOL GetServerVariableCallback(HCONN ConnID, LPSTR Name, LPVOID Buffer, LPDWORD Size);
  static BOOL WriteClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Bytes, DWORD Reserved);
  static BOOL ReadClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Size);
  static BOOL ServerSupportCallback(HCONN ConnID, DWORD Request, LPVOID Buffer, LPDWORD Size, LPDWORD DataType);

  BOOL GetServerVariable(LPSTR Name, LPVOID Buffer, LPDWORD Size);
  BOOL WriteClient(LPVOID Buffer, LPDWORD Bytes, DWORD Reserved);
  BOOL ReadClient(LPVOID Buffer, LPDWORD Size);
  BOOL ServerSupport(DWORD Request, LPVOID Buffer, LPDWORD Size, LPDWORD DataType);
  void Record(TIsapiCall Call);
  void SetString(std::optional<std::string>& Store, LPSTR& Field, const char* Value);

  EXTENSION_CONTROL_BLOCK FECB{};
  std::optional<std::string> FMethod, FQueryString, FPathInfo, FPathTranslated;
  std::string FContentType;
  std::map<std::string, std::string> FVariables;
  std::map<std::string, std::string> FUrlMap;
  std::string FAvailable, FUnread;
  std::size_t FReadPos = 0;

  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  std::vector<TIsapiCall> FCalls;
  std::string FWritten;
  int FDone = 0;
  bool FHoldWrites = false;
  bool FWriteHeld = false;
};

}  // namespace tolvane::testing
