#include "host_context.h"

#include "connection.h"
#include "response_head.h"

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

void TAccessLog::Answer(std::string_view Remote, std::string_view RequestLine, unsigned Status,
                        std::uint64_t BodyBytes) {
  if (!FEnabled) return;
  std::string Line;
  Line.reserve(96 + RequestLine.size());
  Line.append(Remote.empty() ? std::string_view("-") : Remote);
  Line += " - - [";
  Line += LogDateNow();
  Line += "] \"";
  // Control bytes and quotes are escaped so a client cannot forge log lines.
  for (const char C : RequestLine.empty() ? std::string_view("-") : RequestLine) {
    const auto U = static_cast<unsigned char>(C);
    if (U < 0x20 || U == 0x7F || C == '"' || C == '\\') {
      char Escape[8];
      std::snprintf(Escape, sizeof Escape, "\\x%02X", U);
      Line += Escape;
    } else {
      Line += C;
    }
  }
  Line += "\" ";
  Line += std::to_string(Status);
  Line += ' ';
  Line += BodyBytes ? std::to_string(BodyBytes) : std::string("-");
  Line += '\n';
  Write(Line);
}

bool THostContext::MakeRoom() {
  std::shared_ptr<TConnection> Oldest;  // let go after the lock: its end takes the lock
  std::lock_guard Guard(FConnectionsLock);
  // An entry whose connection is on its way out is left to its destructor.
  for (auto& Entry : FKeptAlive) {
    Oldest = Entry.lock();
    if (!Oldest) continue;
    Oldest->Evict();
    return true;
  }
  return false;
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
