#include "host_context.h"

#include "connection.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tolvane::host {

void TRequestRegistry::Add(std::uint64_t Id, std::shared_ptr<TRequest> Request) {
  std::lock_guard Guard(FLock);
  FRequests.emplace(Id, std::move(Request));
}

std::shared_ptr<TRequest> TRequestRegistry::Find(std::uint64_t Id) {
  std::lock_guard Guard(FLock);
  const auto Found = FRequests.find(Id);
  return Found == FRequests.end() ? nullptr : Found->second;
}

void TRequestRegistry::Remove(std::uint64_t Id) {
  std::shared_ptr<TRequest> Last;  // freed outside the lock
  std::lock_guard Guard(FLock);
  const auto Found = FRequests.find(Id);
  if (Found == FRequests.end()) return;
  Last = std::move(Found->second);
  FRequests.erase(Found);
}

TAccessLog::TAccessLog(const std::string& Target) : FTarget(Target) {
  if (Target.empty()) return;
  if (Target == "-") {
    FFile = stdout;
    FEnabled = true;
    return;
  }
  FFile = std::fopen(Target.c_str(), "a");
  if (!FFile) throw EOptionError("--access-log: cannot open '" + Target + "'");
  FOwned = true;
  FEnabled = true;
}

TAccessLog::~TAccessLog() {
  if (FOwned) std::fclose(FFile);
}

void TAccessLog::Write(const std::string& Line) {
  if (!FEnabled) return;
  std::lock_guard Guard(FLock);
  std::fwrite(Line.data(), 1, Line.size(), FFile);
  std::fflush(FFile);
}

void TAccessLog::Reopen() {
  if (!FOwned) return;
  std::FILE* Fresh = std::fopen(FTarget.c_str(), "a");
  if (!Fresh) {
    std::fprintf(stderr, "tolvane-host: cannot reopen the access log '%s': %s\n", FTarget.c_str(),
                 std::strerror(errno));
    return;
  }
  std::lock_guard Guard(FLock);
  std::fclose(FFile);
  FFile = Fresh;
}

THostContext::THostContext(const TOptions& Options, TExtension& Extension)
    : FOptions(Options), FExtension(Extension), FCalls(Options.FRequestThreads), FAccessLog(Options.FAccessLog) {}

}  // namespace tolvane::host
