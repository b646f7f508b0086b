#include "options.h"

#include "url_path.h"

#include <charconv>
#include <filesystem>
#include <limits>

namespace tolvane::host {

namespace {

template <typename T>
T ParseNumber(const std::string& Option, const std::string& Text, T Min, T Max) {
  T Value{};
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  if (Text.empty() || Error != std::errc() || End != Text.data() + Text.size() || Value < Min || Value > Max)
    throw EOptionError(Option + ": '" + Text + "' is not a number from " + std::to_string(Min) + " to " +
                       std::to_string(Max));
  return Value;
}

unsigned ParseSeconds(const std::string& Option, const std::string& Text) {
  // Fractions down to a millisecond, so tests can use short time-outs.
  const size_t Dot = Text.find('.');
  const std::string Whole = Text.substr(0, Dot);
  unsigned Ms = ParseNumber<unsigned>(Option, Whole.empty() ? "0" : Whole, 0, 86400) * 1000;
  if (Dot != std::string::npos) {
    std::string Fraction = Text.substr(Dot + 1);
    if (Fraction.empty() || Fraction.size() > 3 || Fraction.find_first_not_of("0123456789") != std::string::npos)
      throw EOptionError(Option + ": '" + Text + "' is not a number of seconds");
    Fraction.resize(3, '0');
    Ms += ParseNumber<unsigned>(Option, Fraction, 0, 999);
  }
  if (Ms == 0) throw EOptionError(Option + ": the time-out must be above 0");
  return Ms;
}

void ParseListen(const std::string& Text, TOptions& Options) {
  std::string Host;
  std::string Port;
  if (!Text.empty() && Text.front() == '[') {
    const size_t Close = Text.find("]:");
    if (Close == std::string::npos) throw EOptionError("--listen: '" + Text + "' is not ADDR:PORT");
    Host = Text.substr(1, Close - 1);
    Port = Text.substr(Close + 2);
  } else {
    const size_t Colon = Text.rfind(':');
    if (Colon == std::string::npos || Text.find(':') != Colon)
      throw EOptionError("--listen: '" + Text + "' is not ADDR:PORT");
    Host = Text.substr(0, Colon);
    Port = Text.substr(Colon + 1);
  }
  if (Host.empty()) throw EOptionError("--listen: '" + Text + "' has no address");
  Options.FListenAddress = Host;
  Options.FListenPort = ParseNumber<unsigned short>("--listen", Port, 0, 65535);
}

}  // namespace

TOptions ParseOptions(const std::vector<std::string>& Arguments) {
  TOptions Options;
  std::string Root = ".";
  for (size_t I = 0; I < Arguments.size(); ++I) {
    std::string Name = Arguments[I];
    std::string Value;
    bool HasValue = false;
    if (Name.rfind("--", 0) == 0) {
      const size_t Equals = Name.find('=');
      if (Equals != std::string::npos) {
        Value = Name.substr(Equals + 1);
        Name.resize(Equals);
        HasValue = true;
      }
    } else if (!Name.empty() && Name.front() == '-' && Name != "-h") {
      throw EOptionError("unknown option '" + Name + "'");
    }
    auto Take = [&]() -> const std::string& {
      if (!HasValue) {
        if (I + 1 >= Arguments.size()) throw EOptionError(Name + " needs a value");
        Value = Arguments[++I];
        HasValue = true;
      }
      return Value;
    };
    if (Name == "--help" || Name == "-h") {
      Options.FHelp = true;
    } else if (Name == "--version") {
      Options.FVersion = true;
    } else if (Name == "--listen") {
      ParseListen(Take(), Options);
    } else if (Name == "--mount") {
      const auto Mount = NormalizeMount(Take());
      if (!Mount) throw EOptionError("--mount: '" + Value + "' is not an absolute URL path");
      Options.FMount = *Mount;
    } else if (Name == "--root") {
      Root = Take();
    } else if (Name == "--io-threads") {
      Options.FIoThreads = ParseNumber<unsigned>(Name, Take(), 1, 256);
    } else if (Name == "--request-threads") {
      Options.FRequestThreads = ParseNumber<unsigned>(Name, Take(), 1, 1024);
    } else if (Name == "--direct-calls") {
      const std::string& Mode = Take();
      if (Mode != "on" && Mode != "off") throw EOptionError("--direct-calls: '" + Mode + "' is neither on nor off");
      Options.FDirectCalls = Mode == "on";
    } else if (Name == "--access-log") {
      Options.FAccessLog = Take();
      if (Options.FAccessLog.empty()) throw EOptionError("--access-log needs a file name or -");
    } else if (Name == "--max-connections") {
      Options.FMaxConnections = ParseNumber<unsigned>(Name, Take(), 1, 1000000);
    } else if (Name == "--max-header-bytes") {
      Options.FMaxHeaderBytes = ParseNumber<std::uint32_t>(Name, Take(), 1024, 16u * 1024 * 1024);
    } else if (Name == "--max-body-bytes") {
      // cbTotalBytes is 32 bits wide and its top value means "unknown".
      Options.FMaxBodyBytes = ParseNumber<std::uint64_t>(Name, Take(), 0, 0xFFFFFFFEull);
    } else if (Name == "--header-timeout") {
      Options.FHeaderTimeoutMs = ParseSeconds(Name, Take());
    } else if (Name == "--keepalive-timeout") {
      Options.FKeepAliveTimeoutMs = ParseSeconds(Name, Take());
    } else if (Name == "--io-timeout") {
      Options.FIoTimeoutMs = ParseSeconds(Name, Take());
    } else if (Name == "--drain-timeout") {
      Options.FDrainTimeoutMs = ParseSeconds(Name, Take());
    } else if (Name == "--user") {
      const std::string& Text = Take();
      const size_t Colon = Text.find(':');
      Options.FUser = Text.substr(0, Colon);
      Options.FGroup = Colon == std::string::npos ? std::string() : Text.substr(Colon + 1);
      if (Options.FUser.empty() || (Colon != std::string::npos && Options.FGroup.empty()))
        throw EOptionError("--user: '" + Text + "' is not NAME or NAME:GROUP");
    } else if (Name.rfind("--", 0) == 0) {
      throw EOptionError("unknown option '" + Name + "'");
    } else {
      if (!Options.FExtension.empty()) throw EOptionError("more than one extension given ('" + Name + "')");
      Options.FExtension = Name;
      continue;
    }
    if (HasValue && (Name == "--help" || Name == "-h" || Name == "--version"))
      throw EOptionError(Name + " takes no value");
  }
  if (Options.FHelp || Options.FVersion) return Options;
  if (Options.FExtension.empty()) throw EOptionError("no extension given (tolvane-host [options] EXTENSION.so)");
  std::error_code Error;
  const auto RootPath = std::filesystem::canonical(Root, Error);
  if (Error || !std::filesystem::is_directory(RootPath, Error))
    throw EOptionError("--root: '" + Root + "' is not a directory");
  Options.FRoot = RootPath.string();
  while (!Options.FRoot.empty() && Options.FRoot.back() == '/') Options.FRoot.pop_back();
  return Options;
}

std::string UsageText() {
  return "usage: tolvane-host [options] EXTENSION.so\n"
         "Serves an ISAPI extension over HTTP/1.1.\n"
         "\n"
         "  --listen ADDR:PORT        address to listen on (default 127.0.0.1:8080; [::1]:PORT for IPv6)\n"
         "  --mount PATH              URL path the extension answers under (default /, every path)\n"
         "  --root DIR                document root for URL-to-path mapping (default: current directory)\n"
         "  --io-threads N            network threads (default: one per processor)\n"
         "  --request-threads N       threads calling the extension for requests whose body\n"
         "                            is still arriving (default 16)\n"
         "  --direct-calls on|off     call the extension on the network thread when the whole\n"
         "                            body is in (default on); off for extensions that work\n"
         "                            long inside HttpExtensionProc\n"
         "  --access-log FILE|-       Common Log Format access log (- for standard output)\n"
         "  --max-connections N       open connections at once (default 1024); more get 503\n"
         "  --max-header-bytes N      request head size limit (default 32768); more gets 431\n"
         "  --max-body-bytes N        request body size limit (default 67108864); more gets 413\n"
         "  --header-timeout SEC      time to receive a request head (default 10)\n"
         "  --keepalive-timeout SEC   time a kept-alive connection waits for its next request (default 10)\n"
         "  --io-timeout SEC          time for each body read or response write (default 30)\n"
         "  --drain-timeout SEC       wait for requests in flight at shutdown (default 10)\n"
         "  --user NAME[:GROUP]       after binding the listening socket, and before loading\n"
         "                            the extension, run as this user (its groups, or GROUP)\n"
         "  --help                    this text\n"
         "  --version                 the host's version\n"
         "\n"
         "Started as root without --user, the host warns that it serves as root.\n"
         "SIGUSR1 reopens the access log (after a log rotation).\n"
         "SIGINT or SIGTERM stops the host: no new connections, requests in flight finish,\n"
         "then TerminateExtension and unload, exit status 0. A second signal, or requests\n"
         "still running after the drain time-out, end it with status 1. Exit status 2 for a\n"
         "bad option, an extension that cannot be loaded or a --user the host cannot take.\n";
}

}  // namespace tolvane::host
