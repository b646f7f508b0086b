// An ISAPI extension that answers the way the library does in its pooled
// mode: HttpExtensionProc only queues the control block and returns PENDING;
// a small pool of its own threads writes the answer and ends the session.
// "/page" (and every other path) gives the 60-byte page; "/big?N" gives N
// bytes written in many small WriteClient calls, to check long answers from
// another thread.
#include <tolvane/isapi/isapi.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class TWorkerPool {
 public:
  void Start(unsigned Count) {
    for (unsigned I = 0; I < Count; ++I) FThreads.emplace_back([this] { Work(); });
  }
  void Stop() {
    {
      std::lock_guard Guard(FLock);
      FStopping = true;
    }
    FWake.notify_all();
    for (auto& Thread : FThreads) Thread.join();
    FThreads.clear();
  }
  bool Push(EXTENSION_CONTROL_BLOCK* ECB) {
    {
      std::lock_guard Guard(FLock);
      if (FStopping) return false;
      FQueue.push_back(ECB);
    }
    FWake.notify_one();
    return true;
  }

 private:
  void Work() {
    while (true) {
      EXTENSION_CONTROL_BLOCK* ECB;
      {
        std::unique_lock Guard(FLock);
        FWake.wait(Guard, [this] { return FStopping || !FQueue.empty(); });
        // Queued requests are still answered at shutdown: the host waits
        // for them.
        if (FQueue.empty()) return;
        ECB = FQueue.front();
        FQueue.pop_front();
      }
      Answer(ECB);
    }
  }

  static void Answer(EXTENSION_CONTROL_BLOCK* ECB) {
    static const char Page[] = "<html><heading/><body>Vantro Version Worked OK</body></html>";
    const std::string Path = ECB->lpszPathInfo;
    std::string Body;
    if (Path == "/big") {
      Body.resize(std::strtoul(ECB->lpszQueryString, nullptr, 10));
      for (std::size_t I = 0; I < Body.size(); ++I) Body[I] = static_cast<char>('a' + I % 26);
    } else {
      Body.assign(Page, sizeof Page - 1);
    }
    const std::string Block = "Content-Type: text/html\r\nContent-Length: " + std::to_string(Body.size()) + "\r\n\r\n";
    char Status[] = "200 OK";
    ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, Status, nullptr,
                               reinterpret_cast<LPDWORD>(const_cast<char*>(Block.c_str())));
    constexpr std::size_t Piece = 1000;
    for (std::size_t At = 0; At < Body.size(); At += Piece) {
      DWORD Size = static_cast<DWORD>(std::min(Piece, Body.size() - At));
      if (!ECB->WriteClient(ECB->ConnID, Body.data() + At, &Size, HSE_IO_SYNC)) break;
    }
    DWORD Status200 = HSE_STATUS_SUCCESS;
    ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_DONE_WITH_SESSION, &Status200, nullptr, nullptr);
  }

  std::mutex FLock;
  std::condition_variable FWake;
  std::deque<EXTENSION_CONTROL_BLOCK*> FQueue;
  std::vector<std::thread> FThreads;
  bool FStopping = false;
};

TWorkerPool GPool;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) BOOL GetExtensionVersion(HSE_VERSION_INFO* Version) {
  Version->dwExtensionVersion = HseMakeVersion(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  std::strncpy(Version->lpszExtensionDesc, "pooled test extension", HSE_MAX_EXT_DLL_NAME_LEN - 1);
  unsigned Threads = 2;
  if (const char* Text = std::getenv("TOLVANE_POOLED_THREADS")) Threads = std::max(1, std::atoi(Text));
  GPool.Start(Threads);
  return ISAPI_TRUE;
}

__attribute__((visibility("default"))) DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB) {
  return GPool.Push(ECB) ? HSE_STATUS_PENDING : HSE_STATUS_ERROR;
}

__attribute__((visibility("default"))) BOOL TerminateExtension(DWORD) {
  GPool.Stop();
  return ISAPI_TRUE;
}

}  // extern "C"
