// Test helpers: tolvane-host as a child process, commands such as curl, and a
// raw loopback client for what curl will not send.
#pragma once

#include "support/temp_folder.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tolvane::host::test {

struct TCommandResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// Runs a program to its end (callers bound it, curl with --max-time).
TCommandResult RunCommand(const std::vector<std::string>& Argv);
// curl, quiet but for errors, with a 30 s bound and the given arguments.
TCommandResult Curl(std::vector<std::string> Arguments);

class THostProcess {
 public:
  THostProcess() = default;
  ~THostProcess();
  THostProcess(const THostProcess&) = delete;
  THostProcess& operator=(const THostProcess&) = delete;

  // Starts the host with the test extension (or another) on 127.0.0.1 and
  // an ephemeral port, and waits until it listens. False (with the log) when
  // it does not.
  bool Start(const std::vector<std::string>& Options,
             const std::vector<std::pair<std::string, std::string>>& Environment = {},
             const std::string& Extension = TOLVANE_TEST_EXTENSION);
  // SIGTERM (or another signal) and the exit status, or nothing when the
  // host did not exit within the time-out.
  std::optional<int> Stop(int Signal = 15, std::chrono::milliseconds Timeout = std::chrono::seconds(20));

  bool Running() const { return FPid > 0; }
  int Pid() const { return FPid; }
  // The host's resident memory in KiB (VmRSS), or -1.
  long ResidentKiB() const;
  unsigned short Port() const { return FPort; }
  std::string Url(const std::string& Path) const;
  std::string Log() const;
  const tolvane::testing::TTempFolder& Dir() const { return FDir; }

 private:
  tolvane::testing::TTempFolder FDir;
  int FPid = -1;
  unsigned short FPort = 0;
};

// A plain TCP client on the loopback interface.
class TRawClient {
 public:
  explicit TRawClient(unsigned short Port);
  ~TRawClient();
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;
  bool Connected() const { return FSocket >= 0; }
  bool Send(const std::string& Data);
  // Reads until the peer closes or Timeout passes without data. Closed tells
  // which of the two happened.
  std::string ReadUntilClose(std::chrono::milliseconds Timeout, bool& Closed);
  // Reads until Data contains Needle (or the time-out or close).
  std::string ReadUntil(const std::string& Needle, std::chrono::milliseconds Timeout);
  void Close();
  // Closes with a reset instead of an orderly end.
  void Reset();

 private:
  int FSocket = -1;
};

}  // namespace tolvane::host::test
