#include "server.h"

#include "connection.h"
#include "control_block.h"
#include "network_threads.h"

#include <boost/asio/strand.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <thread>
#include <vector>

namespace tolvane::host {

namespace asio = boost::asio;

int THostServer::Listen(const TOptions& Options) {
  asio::io_context Io;
  asio::ip::tcp::acceptor Acceptor(Io);
  boost::system::error_code Error;
  const auto Address = asio::ip::make_address(Options.FListenAddress, Error);
  if (Error) throw EOptionError("--listen: '" + Options.FListenAddress + "' is not an IP address");
  const asio::ip::tcp::endpoint Endpoint(Address, Options.FListenPort);
  Acceptor.open(Endpoint.protocol(), Error);
  if (!Error) Acceptor.set_option(asio::socket_base::reuse_address(true), Error);
  if (!Error) Acceptor.bind(Endpoint, Error);
  if (!Error) Acceptor.listen(asio::socket_base::max_listen_connections, Error);
  if (Error) throw EOptionError("cannot listen on " + Options.FListenAddress + ":" +
                                std::to_string(Options.FListenPort) + ": " + Error.message());
  return Acceptor.release();
}

THostServer::THostServer(const TOptions& Options, TExtension& Extension, int ListenSocket)
    : FContext(Options, Extension),
      FAcceptor(FIo),
      FSignals(FIo, SIGINT, SIGTERM),
      FReopenSignal(FIo, SIGUSR1),
      FNetwork(std::make_unique<TNetworkThreads>(FIo)) {
  FContext.FNetwork = FNetwork.get();
  boost::system::error_code Error;
  const auto Address = asio::ip::make_address(Options.FListenAddress, Error);
  FAcceptor.assign(Address.is_v6() ? asio::ip::tcp::v6() : asio::ip::tcp::v4(), ListenSocket);
  TRequest::FCallbackHost = &FContext;
}

std::string THostServer::ListenText() const {
  boost::system::error_code Error;
  const auto Endpoint = FAcceptor.local_endpoint(Error);
  if (Endpoint.address().is_v6()) return "[" + Endpoint.address().to_string() + "]:" + std::to_string(Endpoint.port());
  return Endpoint.address().to_string() + ":" + std::to_string(Endpoint.port());
}

void THostServer::Accept() {
  // The peer's address comes with the accept itself, so it is known even for
  // a client that is already gone.
  FAcceptor.async_accept(asio::make_strand(FIo), FPeer, [this](boost::system::error_code Error,
                                                                    TConnection::TSocket Socket) {
    if (Error == asio::error::operation_aborted || !FAcceptor.is_open()) return;
    if (!Error) {
      auto Connection = std::make_shared<TConnection>(std::move(Socket), FPeer, FContext);
      // At the limit a connection that only waits for a further request
      // makes room before anyone is turned away.
      if (FContext.FConnections.load() < static_cast<int>(FContext.FOptions.FMaxConnections) || FContext.MakeRoom())
        Connection->Start();
      else
        Connection->Refuse();
    } else if (Error == asio::error::no_descriptors || Error == asio::error::no_buffer_space) {
      // Out of file descriptors: give the others a moment to close.
      auto Timer = std::make_shared<asio::steady_timer>(FIo, std::chrono::milliseconds(50));
      Timer->async_wait([this, Timer](boost::system::error_code) { Accept(); });
      return;
    }
    Accept();
  });
}

bool THostServer::Run() {
  std::mutex Lock;
  std::condition_variable Signalled;
  bool Stop = false;
  // SIGUSR1: the access log was moved away (log rotation); a new file
  // takes the lines from now on.
  std::function<void(boost::system::error_code, int)> Reopen = [&](boost::system::error_code Error, int) {
    if (Error) return;
    FContext.FAccessLog.Reopen();
    FReopenSignal.async_wait(Reopen);
  };
  FReopenSignal.async_wait(Reopen);
  FSignals.async_wait([&](boost::system::error_code Error, int) {
    if (Error) return;
    std::lock_guard Guard(Lock);
    Stop = true;
    Signalled.notify_all();
  });
  Accept();

  // The work guard keeps the threads running while no connection is open.
  auto Work = asio::make_work_guard(FIo);
  unsigned Threads = FContext.FOptions.FIoThreads;
  if (Threads == 0) Threads = std::max(1u, std::thread::hardware_concurrency());
  FNetwork->Start(Threads);

  {
    std::unique_lock Guard(Lock);
    Signalled.wait(Guard, [&] { return Stop; });
  }
  // A second signal gives up waiting for requests in flight.
  std::atomic<bool> Impatient{false};
  FSignals.async_wait([&](boost::system::error_code Error, int) {
    if (!Error) Impatient.store(true);
  });

  // No new connections; idle ones close now, busy ones after their response.
  FContext.FStopping.store(true);
  asio::post(FIo, [this] {
    boost::system::error_code Ignored;
    FAcceptor.close(Ignored);
  });
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FContext.FOptions.FDrainTimeoutMs);
  bool Drained = false;
  while (true) {
    {
      std::lock_guard Guard(FContext.FConnectionsLock);
      for (TConnection* Connection : FContext.FLiveConnections) Connection->CloseIfIdle();
    }
    if (FContext.FInFlight.load() == 0 && FContext.FConnections.load() == 0) {
      Drained = true;
      break;
    }
    if (Impatient.load() || std::chrono::steady_clock::now() >= Deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  boost::system::error_code Ignored;
  FReopenSignal.cancel(Ignored);
  Work.reset();
  FIo.stop();
  // Extensions run on the network threads too: one stuck in a request would
  // hold the join, and the process ends without waiting for it anyway.
  FNetwork->Finish(Drained);
  if (Drained) FContext.FCalls.join();
  return Drained;
}

}  // namespace tolvane::host
