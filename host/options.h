// Command line of tolvane-host.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolvane::host {

struct TOptions {
  std::string FListenAddress = "127.0.0.1";
  unsigned short FListenPort = 8080;
  std::string FMount;  // "" serves every path
  std::string FRoot;   // absolute, without a final "/"
  unsigned FIoThreads = 0;       // 0: one per processor
  unsigned FRequestThreads = 16;  // threads that call into the extension when it may wait for the body
  bool FDirectCalls = true;       // requests with their whole body are served on the network thread
  std::string FAccessLog;         // "" none, "-" standard output
  unsigned FMaxConnections = 1024;
  std::uint32_t FMaxHeaderBytes = 32 * 1024;
  std::uint64_t FMaxBodyBytes = 64ull * 1024 * 1024;
  unsigned FHeaderTimeoutMs = 10000;     // a complete request head, from its first byte on a kept-alive connection
  unsigned FKeepAliveTimeoutMs = 10000;  // a kept-alive connection waiting for the next request
  unsigned FIoTimeoutMs = 30000;      // each body read and response write
  unsigned FDrainTimeoutMs = 10000;   // requests in flight at shutdown
  std::string FUser;   // "" keeps the identity the host was started with
  std::string FGroup;  // "" for the user's own group
  std::string FExtension;
  bool FHelp = false;
  bool FVersion = false;
};

class EOptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws EOptionError with a one-line message for anything it cannot accept.
TOptions ParseOptions(const std::vector<std::string>& Arguments);

std::string UsageText();

}  // namespace tolvane::host
