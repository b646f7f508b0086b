// The listening side of the host: network threads, the acceptor, the
// connection limit, the orderly stop on SIGINT or SIGTERM and the access
// log's reopening on SIGUSR1.
#pragma once

#include "host_context.h"
#include "network_threads.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>

#include <memory>
#include <string>

namespace tolvane::host {

class THostServer {
 public:
  // Binds the listening socket and hands it over (its descriptor); throws
  // EOptionError when it cannot. Apart from the server, so the host can
  // give up root between binding and loading the extension.
  static int Listen(const TOptions& Options);

  // Serves on the socket Listen bound.
  THostServer(const TOptions& Options, TExtension& Extension, int ListenSocket);

  // The address actually bound (the port is chosen by the system for port 0).
  std::string ListenText() const;

  // Serves until SIGINT or SIGTERM, then drains. True when every request in
  // flight finished within the drain time-out.
  bool Run();

  THostContext& Context() { return FContext; }

 private:
  void Accept();

  THostContext FContext;
  boost::asio::io_context FIo;
  boost::asio::ip::tcp::acceptor FAcceptor;
  boost::asio::ip::tcp::endpoint FPeer;  // of the connection being accepted
  boost::asio::signal_set FSignals;
  boost::asio::signal_set FReopenSignal;
  // Declared last: its threads stop before anything they use goes.
  std::unique_ptr<TNetworkThreads> FNetwork;
};

}  // namespace tolvane::host
