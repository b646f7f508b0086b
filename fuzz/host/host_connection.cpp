// A whole client connection: the input is what a client sends, over a
// socket pair, to a host connection serving a small in-process
// extension. Whatever the bytes, the connection ends by itself (no hang),
// gives at most one response per request and leaves nothing behind.
#include "connection.h"
#include "control_block.h"
#include "extension.h"
#include "host_context.h"
#include "options.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace {

namespace asio = boost::asio;
using namespace tolvane::host;

void Check(bool Condition, const char* What) {
  if (Condition) return;
  std::fprintf(stderr, "check failed: %s\n", What);
  std::abort();
}

BOOL Write(EXTENSION_CONTROL_BLOCK* ECB, std::string_view Text) {
  DWORD Size = static_cast<DWORD>(Text.size());
  return ECB->WriteClient(ECB->ConnID, const_cast<char*>(Text.data()), &Size, HSE_IO_SYNC);
}

// "/echo" reads the body and reports its size; "/stream" answers without a
// length (chunked); anything else gets a short fixed answer. The answers
// never contain a status line of their own.
DWORD ExtensionProc(EXTENSION_CONTROL_BLOCK* ECB) {
  const std::string_view Path = ECB->lpszPathInfo;
  if (Path == "/echo") {
    std::size_t Total = ECB->cbAvailable;
    char Buffer[4096];
    while (true) {
      DWORD Size = sizeof Buffer;
      if (!ECB->ReadClient(ECB->ConnID, Buffer, &Size) || Size == 0) break;
      Total += Size;
    }
    char Variable[256];
    DWORD VariableSize = sizeof Variable;
    ECB->GetServerVariable(ECB->ConnID, const_cast<char*>("ALL_RAW"), Variable, &VariableSize);
    return Write(ECB, "bytes=" + std::to_string(Total) + "\n") ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR;
  }
  if (Path == "/stream") {
    const char* Head = "Content-Type: text/plain\r\n\r\n";
    ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, const_cast<char*>("200 OK"), nullptr,
                               reinterpret_cast<LPDWORD>(const_cast<char*>(Head)));
    for (int I = 0; I < 3; ++I) Write(ECB, "piece\n");
    return HSE_STATUS_SUCCESS;
  }
  if (Path == "/error") return HSE_STATUS_ERROR;
  Write(ECB, "ok\n");
  return HSE_STATUS_SUCCESS;
}

BOOL Terminate(DWORD) { return ISAPI_TRUE; }

struct TFixture {
  TFixture() : Extension("fuzz extension", &ExtensionProc, &Terminate), Host(Options, Extension) {
    TRequest::FCallbackHost = &Host;
    Network = std::thread([this] { Io.run(); });
  }
  static TOptions MakeOptions() {
    TOptions Options;
    Options.FMaxHeaderBytes = 2048;
    Options.FMaxBodyBytes = 8192;
    Options.FHeaderTimeoutMs = 2000;
    Options.FKeepAliveTimeoutMs = 2000;
    Options.FIoTimeoutMs = 2000;
    Options.FRequestThreads = 2;
    return Options;
  }

  TOptions Options = MakeOptions();
  TExtension Extension;
  THostContext Host;
  asio::io_context Io;
  asio::executor_work_guard<asio::io_context::executor_type> Work = asio::make_work_guard(Io);
  std::thread Network;
};

std::size_t Count(std::string_view Text, std::string_view What) {
  std::size_t Found = 0;
  for (std::size_t At = Text.find(What); At != std::string_view::npos; At = Text.find(What, At + 1)) ++Found;
  return Found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static TFixture* Fixture = new TFixture;  // lives for the whole run
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);

  // A socket pair in memory stands in for the client's TCP connection: the
  // connection only reads and writes it, and no port is used up per input.
  int Pair[2];
  Check(::socketpair(AF_UNIX, SOCK_STREAM, 0, Pair) == 0, "socketpair");
  asio::ip::tcp::socket Client(Fixture->Io);
  Client.assign(asio::ip::tcp::v4(), Pair[0]);
  TConnection::TSocket Served(asio::make_strand(Fixture->Io));
  Served.assign(asio::ip::tcp::v4(), Pair[1]);
  const asio::ip::tcp::endpoint Peer(asio::ip::address_v4::loopback(), 40000);
  std::make_shared<TConnection>(std::move(Served), Peer, Fixture->Host)->Start();

  // The client writes everything, ends its side and reads until the host
  // closes; a host that neither answers nor closes is a hang.
  std::thread Writer([&] {
    boost::system::error_code Error;
    asio::write(Client, asio::buffer(Input.data(), Input.size()), Error);
    Client.shutdown(asio::ip::tcp::socket::shutdown_send, Error);
  });
  std::string Output;
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
  char Buffer[16384];
  while (true) {
    Check(std::chrono::steady_clock::now() < Deadline, "the connection neither answered nor closed");
    boost::system::error_code Error;
    const std::size_t Got = Client.read_some(asio::buffer(Buffer), Error);
    Output.append(Buffer, Got);
    if (Error) break;
    Check(Output.size() < 64 * 1024 * 1024, "unbounded output");
  }
  Writer.join();
  boost::system::error_code Ignored;
  Client.close(Ignored);

  // Every request needs a request line with a version; bytes that are no
  // request get at most the one error answer, after which the host closes.
  const std::size_t Requests = Count(Input, "HTTP/");
  std::size_t Responses = Count(Output, "\r\nHTTP/1.1 ") + (Output.rfind("HTTP/1.1 ", 0) == 0 ? 1 : 0);
  Responses -= Count(Output, "HTTP/1.1 100 Continue\r\n");
  Check(Responses <= Requests + 1, "more responses than requests");
  Check(Count(Output, "Connection: close\r\n") <= 1, "an answer after the connection was to close");
  Check(Output.empty() || Output.rfind("HTTP/1.1 ", 0) == 0, "bytes before the first status line");

  // The connection and its requests are gone before the next input.
  while (Fixture->Host.FConnections.load() != 0 || Fixture->Host.FInFlight.load() != 0) {
    Check(std::chrono::steady_clock::now() < Deadline + std::chrono::seconds(2), "a connection outlived its client");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}
