// An ISAPI extension for the host's end-to-end tests. PATH_INFO picks the
// behaviour; the query string is its argument.
#include <tolvane/isapi/isapi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::mutex GThreadsLock;
std::vector<std::thread> GThreads;
std::atomic<int> GWriteFailures{0};

std::string Hex(std::uint64_t Value) {
  char Text[20];
  std::snprintf(Text, sizeof Text, "%016llx", static_cast<unsigned long long>(Value));
  return Text;
}

// FNV-1a, so a test can check a body arrived byte for byte.
std::uint64_t Fnv(const unsigned char* Data, std::size_t Size, std::uint64_t Hash = 14695981039346656037ull) {
  for (std::size_t I = 0; I < Size; ++I) Hash = (Hash ^ Data[I]) * 1099511628211ull;
  return Hash;
}

BOOL Write(EXTENSION_CONTROL_BLOCK* ECB, const std::string& Text) {
  DWORD Size = static_cast<DWORD>(Text.size());
  return ECB->WriteClient(ECB->ConnID, const_cast<char*>(Text.data()), &Size, HSE_IO_SYNC);
}

BOOL SendHeader(EXTENSION_CONTROL_BLOCK* ECB, const char* Status, const std::string& Block) {
  return ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>(Status), nullptr,
                                    reinterpret_cast<LPDWORD>(const_cast<char*>(Block.c_str())));
}

DWORD Answer(EXTENSION_CONTROL_BLOCK* ECB, const std::string& Body) {
  SendHeader(ECB, "200 OK",
             "Content-Type: text/plain\r\nContent-Length: " + std::to_string(Body.size()) + "\r\n\r\n");
  Write(ECB, Body);
  return HSE_STATUS_SUCCESS;
}

// A server variable read as careful extensions do: a small buffer first,
// then one of the size the host asked for.
std::string Variable(EXTENSION_CONTROL_BLOCK* ECB, const std::string& Name, bool& Found, DWORD& Needed) {
  char Small[16];
  DWORD Size = sizeof Small;
  Found = true;
  Needed = 0;
  if (ECB->GetServerVariable(ECB->ConnID, const_cast<char*>(Name.c_str()), Small, &Size)) return std::string(Small, Size - 1);
  if (Size <= sizeof Small) {
    Found = false;
    return {};
  }
  Needed = Size;
  std::vector<char> Large(Size);
  if (!ECB->GetServerVariable(ECB->ConnID, const_cast<char*>(Name.c_str()), Large.data(), &Size)) {
    Found = false;
    return {};
  }
  return std::string(Large.data(), Size - 1);
}

DWORD Echo(EXTENSION_CONTROL_BLOCK* ECB) {
  std::uint64_t Hash = Fnv(ECB->lpbData, ECB->cbAvailable);
  std::uint64_t Total = ECB->cbAvailable;
  std::vector<unsigned char> Buffer(100000);
  while (true) {
    DWORD Size = static_cast<DWORD>(Buffer.size());
    if (!ECB->ReadClient(ECB->ConnID, Buffer.data(), &Size)) return Answer(ECB, "read failed\n");
    if (Size == 0) break;
    Hash = Fnv(Buffer.data(), Size, Hash);
    Total += Size;
  }
  return Answer(ECB, "total=" + std::to_string(ECB->cbTotalBytes) + " avail=" + std::to_string(ECB->cbAvailable) +
                         " bytes=" + std::to_string(Total) + " fnv=" + Hex(Hash) + "\n");
}

void Later(std::thread Thread) {
  std::lock_guard Guard(GThreadsLock);
  GThreads.push_back(std::move(Thread));
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL GetExtensionVersion(HSE_VERSION_INFO* Version) {
  Version->dwExtensionVersion = HseMakeVersion(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  std::strncpy(Version->lpszExtensionDesc, "host test extension", HSE_MAX_EXT_DLL_NAME_LEN - 1);
  return ISAPI_TRUE;
}

__attribute__((visibility("default"))) DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB) {
  const std::string Path = ECB->lpszPathInfo;
  const std::string Query = ECB->lpszQueryString;
  if (Path == "/hello") return Answer(ECB, "hello\n");
  if (Path == "/page") {
    // The same 60-byte page as the library's application, for load tests.
    const std::string Page = "<html><heading/><body>Vantro Version Worked OK</body></html>";
    SendHeader(ECB, "200 OK", "Content-Type: text/html\r\nContent-Length: 60\r\n\r\n");
    Write(ECB, Page);
    return HSE_STATUS_SUCCESS;
  }
  if (Path == "/echo") return Echo(ECB);
  if (Path == "/redirect") {
    ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_SEND_URL_REDIRECT_RESP, const_cast<char*>(Query.c_str()), nullptr,
                               nullptr);
    return HSE_STATUS_SUCCESS;
  }
  if (Path == "/map") {
    char Buffer[1024] = {};
    std::strncpy(Buffer, Query.c_str(), sizeof Buffer - 1);
    DWORD Size = sizeof Buffer;
    if (!ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_MAP_URL_TO_PATH, Buffer, &Size, nullptr))
      return Answer(ECB, "refused\n");
    return Answer(ECB, std::string(Buffer) + "\n");
  }
  if (Path == "/chunked") {
    SendHeader(ECB, "200 OK", "Content-Type: text/plain\r\n\r\n");
    const int Pieces = std::atoi(Query.c_str());
    for (int I = 0; I < Pieces; ++I) Write(ECB, "piece " + std::to_string(I) + "\n");
    return HSE_STATUS_SUCCESS;
  }
  if (Path == "/pending" || Path == "/pending-early-done") {
    // The early variant reports the session done before HttpExtensionProc
    // has even returned PENDING.
    const bool Early = Path == "/pending-early-done";
    auto Finished = std::make_shared<std::atomic<bool>>(false);
    Later(std::thread([ECB, Early, Finished] {
      if (!Early) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Answer(ECB, "finished on another thread\n");
      ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_DONE_WITH_SESSION, nullptr, nullptr, nullptr);
      Finished->store(true);
    }));
    if (Early)
      while (!Finished->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return HSE_STATUS_PENDING;
  }
  if (Path == "/stale") {
    // Callbacks naming the previous request of this path, long finished.
    static std::atomic<HCONN> Previous{nullptr};
    HCONN Old = Previous.exchange(ECB->ConnID);
    if (!Old) return Answer(ECB, "first\n");
    char Buffer[64];
    DWORD Size = sizeof Buffer;
    const bool Read = ECB->GetServerVariable(Old, const_cast<char*>("REQUEST_METHOD"), Buffer, &Size);
    char Byte = 'x';
    DWORD Bytes = 1;
    const bool Wrote = ECB->WriteClient(Old, &Byte, &Bytes, HSE_IO_SYNC);
    DWORD MapSize = sizeof Buffer;
    std::strcpy(Buffer, "/a");
    const bool Mapped = ECB->ServerSupportFunction(Old, HSE_REQ_MAP_URL_TO_PATH, Buffer, &MapSize, nullptr);
    return Answer(ECB, std::string(Read ? "read" : "-") + (Wrote ? " wrote" : " -") + (Mapped ? " mapped" : " -") +
                           "\n");
  }
  if (Path == "/error") return HSE_STATUS_ERROR;
  if (Path == "/throw") throw std::runtime_error("extension failure");
  if (Path == "/header") {
    bool Found;
    DWORD Needed;
    const std::string Value = Variable(ECB, "HTTP_" + Query, Found, Needed);
    if (!Found) return Answer(ECB, "missing\n");
    return Answer(ECB, "needed=" + std::to_string(Needed) + " length=" + std::to_string(Value.size()) +
                           " fnv=" + Hex(Fnv(reinterpret_cast<const unsigned char*>(Value.data()), Value.size())) + "\n");
  }
  if (Path.rfind("/vars", 0) == 0) {
    std::string Out;
    size_t Start = 0;
    while (Start <= Query.size()) {
      size_t End = Query.find(',', Start);
      if (End == std::string::npos) End = Query.size();
      const std::string Name = Query.substr(Start, End - Start);
      bool Found;
      DWORD Needed;
      const std::string Value = Variable(ECB, Name, Found, Needed);
      Out += Found ? Name + "=" + Value + "\n" : Name + "!\n";
      Start = End + 1;
    }
    return Answer(ECB, Out);
  }
  if (Path == "/length-short" || Path == "/length-long") {
    SendHeader(ECB, "200 OK", Path == "/length-short" ? "Content-Length: 10\r\n\r\n" : "Content-Length: 5\r\n\r\n");
    Write(ECB, Path == "/length-short" ? "01234" : "0123456789");
    return HSE_STATUS_SUCCESS;
  }
  if (Path == "/big") {
    const long long Total = std::atoll(Query.c_str());
    SendHeader(ECB, "200 OK", "Content-Length: " + std::to_string(Total) + "\r\n\r\n");
    const std::string Piece(65536, 'x');
    for (long long Sent = 0; Sent < Total; Sent += static_cast<long long>(Piece.size())) {
      if (!Write(ECB, Piece)) {
        GWriteFailures.fetch_add(1);
        break;
      }
    }
    return HSE_STATUS_SUCCESS;
  }
  if (Path == "/stats") return Answer(ECB, "write-failures=" + std::to_string(GWriteFailures.load()) + "\n");
  if (Path == "/sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(Query.c_str())));
    return Answer(ECB, "slept\n");
  }
  if (Path == "/status") {
    std::string Status = Query;
    for (char& C : Status)
      if (C == '+') C = ' ';
    if (!SendHeader(ECB, Status.c_str(), "Content-Type: text/plain\r\n\r\n")) return Answer(ECB, "refused\n");
    Write(ECB, "status sent\n");
    return HSE_STATUS_SUCCESS;
  }
  if (Path == "/inject") {
    // A header block with a bare line feed inside a value must not reach the
    // client as an extra header line.
    const BOOL Sent = SendHeader(ECB, "200 OK", "X-A: 1\nX-Injected: 1\r\n\r\n");
    if (!Sent) return Answer(ECB, "refused\n");
    Write(ECB, "accepted\n");
    return HSE_STATUS_SUCCESS;
  }
  if (Path == "/raw-write") {
    Write(ECB, "no header sent\n");
    return HSE_STATUS_SUCCESS;
  }
  ECB->dwHttpStatusCode = 404;
  SendHeader(ECB, "404 Not Found", "Content-Type: text/plain\r\nContent-Length: 10\r\n\r\n");
  Write(ECB, "not found\n");
  return HSE_STATUS_SUCCESS;
}

__attribute__((visibility("default"))) BOOL TerminateExtension(DWORD) {
  std::vector<std::thread> Threads;
  {
    std::lock_guard Guard(GThreadsLock);
    Threads.swap(GThreads);
  }
  for (auto& Thread : Threads) Thread.join();
  // Lets a test see that the host called us on its way out.
  if (const char* Marker = std::getenv("TOLVANE_TEST_TERMINATE_MARKER")) {
    if (std::FILE* File = std::fopen(Marker, "w")) {
      std::fputs("terminated\n", File);
      std::fclose(File);
    }
  }
  return ISAPI_TRUE;
}

}  // extern "C"
