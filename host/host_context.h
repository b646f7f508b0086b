// What every connection of the host shares: the options, the extension, the
// threads that call into it, the live requests and the access log.
#pragma once

#include "extension.h"
#include "options.h"

#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tolvane::host {

class TRequest;
class TConnection;
class TNetworkThreads;

// The control blocks handed out, by ConnID. A callback with a ConnID that is
// not (or no longer) here is refused instead of touching freed memory.
class TRequestRegistry {
 public:
  void Add(std::uint64_t Id, std::shared_ptr<TRequest> Request);
  std::shared_ptr<TRequest> Find(std::uint64_t Id);
  void Remove(std::uint64_t Id);

 private:
  std::mutex FLock;
  std::unordered_map<std::uint64_t, std::shared_ptr<TRequest>> FRequests;
};

class TAccessLog {
 public:
  // "" writes nothing, "-" standard output, else the file, appended to.
  explicit TAccessLog(const std::string& Target);
  ~TAccessLog();
  TAccessLog(const TAccessLog&) = delete;
  TAccessLog& operator=(const TAccessLog&) = delete;
  bool Enabled() const { return FEnabled; }
  void Write(const std::string& Line);
  // One answer the host wrote: the client's address, the request line ("-"
  // when there was none), the status and the body bytes.
  void Answer(std::string_view Remote, std::string_view RequestLine, unsigned Status, std::uint64_t BodyBytes);
  // Opens the file anew by its name, for a log rotated away; when that
  // fails the old file goes on taking the lines and one line on standard
  // error tells why.
  void Reopen();

 private:
  std::string FTarget;
  bool FEnabled = false;
  std::mutex FLock;
  std::FILE* FFile = nullptr;
  bool FOwned = false;
};

struct THostContext {
  THostContext(const TOptions& Options, TExtension& Extension);

  const TOptions& FOptions;
  TExtension& FExtension;
  boost::asio::thread_pool FCalls;
  TRequestRegistry FRegistry;
  TAccessLog FAccessLog;
  std::atomic<std::uint64_t> FNextConnId{1};
  std::atomic<bool> FStopping{false};
  std::atomic<int> FConnections{0};
  std::atomic<int> FInFlight{0};   // requests handed to the extension and not finished
  std::atomic<int> FInsideCall{0};  // threads inside HttpExtensionProc right now

  // Live connections, so shutdown can close the idle ones.
  std::mutex FConnectionsLock;
  std::unordered_set<TConnection*> FLiveConnections;
  // Connections waiting for a further request, oldest first (same lock).
  std::list<std::weak_ptr<TConnection>> FKeptAlive;

  // Set while the network threads run.
  TNetworkThreads* FNetwork = nullptr;

  // At the connection limit: closes the connection that has waited longest
  // for a further request. False when none waits.
  bool MakeRoom();
};

}  // namespace tolvane::host
