#include "host_context.h"

#include "connection.h"

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

TAccessLog::TAccessLog(const std::string& Target) {
  if (Target.empty()) return;
  if (Target == "-") {
    FFile = stdout;
    return;
  }
  FFile = std::fopen(Target.c_str(), "a");
  if (!FFile) throw EOptionError("--access-log: cannot open '" + Target + "'");
  FOwned = true;
}

TAccessLog::~TAccessLog() {
  if (FOwned) std::fclose(FFile);
}

void TAccessLog::Write(const std::string& Line) {
  if (!FFile) return;
  std::lock_guard Guard(FLock);
  std::fwrite(Line.data(), 1, Line.size(), FFile);
  std::fflush(FFile);
}

THostContext::THostContext(const TOptions& Options, TExtension& Extension)
    : FOptions(Options), FExtension(Extension), FCalls(Options.FRequestThreads), FAccessLog(Options.FAccessLog) {}

}  // namespace tolvane::host
