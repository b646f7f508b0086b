#include "fake_isapi_host.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace tolvane::testing {

namespace {

std::mutex LiveLock;
std::set<const void*>& Live() {
  static std::set<const void*> Connections;
  return Connections;
}
std::atomic<int> Strays{0};

std::optional<DWORD> Read(const LPDWORD Size) {
  if (!Size) return std::nullopt;
  return *Size;
}

}  // namespace

TFakeIsapiConnection::TFakeIsapiConnection() {
  FECB.cbSize = sizeof(EXTENSION_CONTROL_BLOCK);
  FECB.dwVersion = HseMakeVersion(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  FECB.ConnID = this;
  FECB.GetServerVariable = &GetServerVariableCallback;
  FECB.WriteClient = &WriteClientCallback;
  FECB.ReadClient = &ReadClientCallback;
  FECB.ServerSupportFunction = &ServerSupportCallback;
  FECB.lpszContentType = FContentType.data();
  SetMethod("GET").SetQueryString("").SetPathInfo("").SetPathTranslated("").SetBody({});
  std::lock_guard<std::mutex> guard(LiveLock);
  Live().insert(this);
}

TFakeIsapiConnection::~TFakeIsapiConnection() {
  std::lock_guard<std::mutex> guard(LiveLock);
  Live().erase(this);
}

void TFakeIsapiConnection::SetString(std::optional<std::string>& Store, LPSTR& Field, const char* Value) {
  if (Value) {
    Store = Value;
    Field = Store->data();
  } else {
    Store.reset();
    Field = nullptr;
  }
}

TFakeIsapiConnection& TFakeIsapiConnection::SetMethod(const char* Value) {
  SetString(FMethod, FECB.lpszMethod, Value);
  return *this;
}
TFakeIsapiConnection& TFakeIsapiConnection::SetQueryString(const char* Value) {
  SetString(FQueryString, FECB.lpszQueryString, Value);
  return *this;
}
TFakeIsapiConnection& TFakeIsapiConnection::SetPathInfo(const char* Value) {
  SetString(FPathInfo, FECB.lpszPathInfo, Value);
  return *this;
}
TFakeIsapiConnection& TFakeIsapiConnection::SetPathTranslated(const char* Value) {
  SetString(FPathTranslated, FECB.lpszPathTranslated, Value);
  return *this;
}

TFakeIsapiConnection& TFakeIsapiConnection::SetVariable(const std::string& Name, std::string Value) {
  FVariables[Name] = std::move(Value);
  return *this;
}

TFakeIsapiConnection& TFakeIsapiConnection::SetBody(std::string Available, std::string Unread) {
  FAvailable = std::move(Available);
  FUnread = std::move(Unread);
  FReadPos = 0;
  FECB.cbAvailable = DWORD(FAvailable.size());
  FECB.cbTotalBytes = DWORD(FAvailable.size() + FUnread.size());
  // A host passes a real pointer even for an empty body.
  FECB.lpbData = reinterpret_cast<LPBYTE>(FAvailable.data());
  return *this;
}

TFakeIsapiConnection& TFakeIsapiConnection::MapUrl(const std::string& Url, std::string Path) {
  FUrlMap[Url] = std::move(Path);
  return *this;
}

std::vector<TIsapiCall> TFakeIsapiConnection::Calls() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FCalls;
}

std::vector<TIsapiCall> TFakeIsapiConnection::Calls(TIsapiCallKind Kind) const {
  std::vector<TIsapiCall> result;
  for (auto& call : Calls())
    if (call.Kind == Kind) result.push_back(call);
  return result;
}

std::vector<TIsapiCall> TFakeIsapiConnection::SupportCalls(DWORD Request) const {
  std::vector<TIsapiCall> result;
  for (auto& call : Calls(TIsapiCallKind::ckServerSupportFunction))
    if (call.Request == Request) result.push_back(call);
  return result;
}

std::vector<std::string> TFakeIsapiConnection::VariableNames() const {
  std::vector<std::string> result;
  for (auto& call : Calls(TIsapiCallKind::ckGetServerVariable)) result.push_back(call.Name);
  return result;
}

std::string TFakeIsapiConnection::Written() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FWritten;
}

int TFakeIsapiConnection::DoneCount() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FDone;
}

bool TFakeIsapiConnection::WaitDone(std::chrono::milliseconds Timeout) const {
  std::unique_lock<std::mutex> lock(FLock);
  return FChanged.wait_for(lock, Timeout, [this] { return FDone > 0; });
}

void TFakeIsapiConnection::HoldWrites() {
  std::lock_guard<std::mutex> guard(FLock);
  FHoldWrites = true;
}

bool TFakeIsapiConnection::AwaitHeldWrite(std::chrono::milliseconds Timeout) const {
  std::unique_lock<std::mutex> lock(FLock);
  return FChanged.wait_for(lock, Timeout, [this] { return FWriteHeld; });
}

void TFakeIsapiConnection::ReleaseWrites() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FHoldWrites = false;
  }
  FChanged.notify_all();
}

int TFakeIsapiConnection::StrayCalls() { return Strays.load(); }

void TFakeIsapiConnection::Record(TIsapiCall Call) {
  Call.Thread = std::this_thread::get_id();
  std::lock_guard<std::mutex> guard(FLock);
  FCalls.push_back(std::move(Call));
}

TFakeIsapiConnection* TFakeIsapiConnection::Find(HCONN ConnID) {
  std::lock_guard<std::mutex> guard(LiveLock);
  if (Live().count(ConnID)) return static_cast<TFakeIsapiConnection*>(ConnID);
  ++Strays;
  return nullptr;
}

BOOL TFakeIsapiConnection::GetServerVariableCallback(HCONN ConnID, LPSTR Name, LPVOID Buffer, LPDWORD Size) {
  auto* self = Find(ConnID);
  return self ? self->GetServerVariable(Name, Buffer, Size) : ISAPI_FALSE;
}
BOOL TFakeIsapiConnection::WriteClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Bytes, DWORD Reserved) {
  auto* self = Find(ConnID);
  return self ? self->WriteClient(Buffer, Bytes, Reserved) : ISAPI_FALSE;
}
BOOL TFakeIsapiConnection::ReadClientCallback(HCONN ConnID, LPVOID Buffer, LPDWORD Size) {
  auto* self = Find(ConnID);
  return self ? self->ReadClient(Buffer, Size) : ISAPI_FALSE;
}
BOOL TFakeIsapiConnection::ServerSupportCallback(HCONN ConnID, DWORD Request, LPVOID Buffer, LPDWORD Size,
                                                 LPDWORD DataType) {
  auto* self = Find(ConnID);
  return self ? self->ServerSupport(Request, Buffer, Size, DataType) : ISAPI_FALSE;
}

// True and the stored count with its terminating zero; FALSE for an unknown
// name or a buffer too small, which (when ReportNeededSize) reports the size
// needed.
BOOL TFakeIsapiConnection::GetServerVariable(LPSTR Name, LPVOID Buffer, LPDWORD Size) {
  TIsapiCall call{TIsapiCallKind::ckGetServerVariable, {}};
  call.Name = Name ? Name : "";
  call.SizeIn = Read(Size);
  auto it = FVariables.find(call.Name);
  if (Name && Size && it != FVariables.end()) {
    const DWORD needed = DWORD(it->second.size() + 1);
    if (*Size >= needed && Buffer) {
      std::memcpy(Buffer, it->second.c_str(), needed);
      *Size = needed;
      call.Result = ISAPI_TRUE;
    } else if (ReportNeededSize) {
      *Size = needed;
    }
  }
  call.SizeOut = Read(Size);
  BOOL result = call.Result;
  Record(std::move(call));
  return result;
}

BOOL TFakeIsapiConnection::ReadClient(LPVOID Buffer, LPDWORD Size) {
  TIsapiCall call{TIsapiCallKind::ckReadClient, {}};
  call.SizeIn = Read(Size);
  if (Size && !FailReads) {
    std::lock_guard<std::mutex> guard(FLock);
    std::size_t n = std::min<std::size_t>({*Size, MaxReadSize, FUnread.size() - FReadPos});
    if (n > 0) std::memcpy(Buffer, FUnread.data() + FReadPos, n);
    call.Data = FUnread.substr(FReadPos, n);
    FReadPos += n;
    *Size = DWORD(n);
    call.Result = ISAPI_TRUE;
  } else if (Size) {
    *Size = 0;
  }
  call.SizeOut = Read(Size);
  BOOL result = call.Result;
  Record(std::move(call));
  return result;
}

BOOL TFakeIsapiConnection::WriteClient(LPVOID Buffer, LPDWORD Bytes, DWORD Reserved) {
  {
    std::unique_lock<std::mutex> lock(FLock);
    if (FHoldWrites) {
      FWriteHeld = true;
      FChanged.notify_all();
      FChanged.wait(lock, [this] { return !FHoldWrites; });
    }
  }
  TIsapiCall call{TIsapiCallKind::ckWriteClient, {}};
  call.SizeIn = Read(Bytes);
  call.Flags = Reserved;
  if (Bytes && !FailWrites) {
    DWORD n = std::min(*Bytes, MaxWriteSize);
    call.Data = std::string(static_cast<const char*>(Buffer), n);
    {
      std::lock_guard<std::mutex> guard(FLock);
      FWritten += *call.Data;
    }
    *Bytes = n;
    call.Result = ISAPI_TRUE;
  } else if (Bytes) {
    *Bytes = 0;
  }
  call.SizeOut = Read(Bytes);
  BOOL result = call.Result;
  Record(std::move(call));
  return result;
}

BOOL TFakeIsapiConnection::ServerSupport(DWORD Request, LPVOID Buffer, LPDWORD Size, LPDWORD DataType) {
  TIsapiCall call{TIsapiCallKind::ckServerSupportFunction, {}};
  call.Request = Request;
  call.SizeIn = Read(Size);
  BOOL result = ISAPI_TRUE;
  switch (Request) {
    case HSE_REQ_SEND_RESPONSE_HEADER:
      // The status text in the buffer, the header block in the data-type argument.
      if (Buffer) call.Data = static_cast<const char*>(Buffer);
      if (DataType) call.Extra = reinterpret_cast<const char*>(DataType);
      break;
    case HSE_REQ_SEND_URL_REDIRECT_RESP:
      if (Buffer) call.Data = static_cast<const char*>(Buffer);
      break;
    case HSE_REQ_MAP_URL_TO_PATH: {
      if (!Buffer || !Size) {
        result = ISAPI_FALSE;
        break;
      }
      auto* text = static_cast<char*>(Buffer);
      call.Data = std::string(text, strnlen(text, *Size));
      auto it = FUrlMap.find(*call.Data);
      if (it == FUrlMap.end()) {
        result = ISAPI_FALSE;
      } else if (it->second.size() + 1 > *Size) {
        *Size = DWORD(it->second.size() + 1);
        result = ISAPI_FALSE;
      } else {
        std::memcpy(text, it->second.c_str(), it->second.size() + 1);
        *Size = DWORD(it->second.size() + 1);
      }
      break;
    }
    case HSE_REQ_DONE_WITH_SESSION:
      break;
    default:
      result = ISAPI_FALSE;
  }
  if (FailingRequests.count(Request)) result = ISAPI_FALSE;
  call.SizeOut = Read(Size);
  call.Result = result;
  Record(std::move(call));
  if (Request == HSE_REQ_DONE_WITH_SESSION) {
    std::lock_guard<std::mutex> guard(FLock);
    ++FDone;
    FChanged.notify_all();
  }
  return result;
}

}  // namespace tolvane::testing
