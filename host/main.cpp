// tolvane-host: serves one ISAPI extension over HTTP/1.1.
#include "extension.h"
#include "options.h"
#include "run_as.h"
#include "server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

using namespace tolvane::host;

namespace {

int Fail(const std::string& Message) {
  std::fprintf(stderr, "tolvane-host: %s\n", Message.c_str());
  return 2;
}

}  // namespace

int main(int Argc, char** Argv) {
  std::signal(SIGPIPE, SIG_IGN);
  TOptions Options;
  try {
    Options = ParseOptions(std::vector<std::string>(Argv + 1, Argv + Argc));
  } catch (const EOptionError& Error) {
    return Fail(std::string(Error.what()) + " (see --help)");
  }
  if (Options.FHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (Options.FVersion) {
    std::printf("tolvane-host 1.0.0\n");
    return 0;
  }

  // The port is bound first, with whatever privilege that takes; then the
  // host gives up root before any extension code or client byte runs.
  int ListenSocket = -1;
  try {
    ListenSocket = THostServer::Listen(Options);
    if (!Options.FUser.empty()) RunAs(Options.FUser, Options.FGroup);
  } catch (const EOptionError& Error) {
    return Fail(Error.what());
  }

  std::unique_ptr<TExtension> Extension;
  try {
    Extension = std::make_unique<TExtension>(Options.FExtension);
  } catch (const EExtensionError& Error) {
    return Fail(Error.what());
  }
  std::unique_ptr<THostServer> Server;
  try {
    Server = std::make_unique<THostServer>(Options, *Extension, ListenSocket);
  } catch (const EOptionError& Error) {
    Extension->Terminate(HSE_TERM_MUST_UNLOAD);
    return Fail(Error.what());
  }
  if (Options.FUser.empty() && RunningAsRoot())
    std::fprintf(stderr, "tolvane-host: warning: running as root; --user NAME serves as an unprivileged user\n");
  std::fprintf(stderr, "tolvane-host: loaded %s: version %u.%u, \"%s\"\n", Options.FExtension.c_str(),
               Extension->Version() >> 16, Extension->Version() & 0xFFFFu, Extension->Description().c_str());
  std::fprintf(stderr, "tolvane-host: listening on http://%s%s/\n", Server->ListenText().c_str(),
               Options.FMount.c_str());
  std::fflush(stderr);

  const bool Drained = Server->Run();
  if (!Drained) {
    std::fprintf(stderr, "tolvane-host: %d request(s) still in flight after the drain time-out\n",
                 Server->Context().FInFlight.load());
  }
  Extension->Terminate(HSE_TERM_MUST_UNLOAD);
  if (!Drained || Server->Context().FInsideCall.load() != 0) {
    // A thread may still run extension code or call back into the host:
    // neither the library nor the host's state may go away under it.
    std::fflush(nullptr);
    std::_Exit(1);
  }
  Server.reset();
  Extension.reset();
  std::fprintf(stderr, "tolvane-host: stopped\n");
  return 0;
}
