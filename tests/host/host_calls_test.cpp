// Where the extension's calls run and where its writes leave from: on the
// network thread when the body came whole, on the extension's own threads
// for pending requests, and what happens when the client reads slowly.
#include "host_process.h"
#include "support/application_page.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::host::test {
namespace {

using namespace std::chrono_literals;

const std::string& Page = tolvane::testing::kApplicationPage;

// Splits one response off the front of Stream (Content-Length framing only).
bool TakeResponse(std::string& Stream, std::string& Head, std::string& Body) {
  const size_t End = Stream.find("\r\n\r\n");
  if (End == std::string::npos) return false;
  Head = Stream.substr(0, End + 2);
  const size_t Field = Head.find("Content-Length: ");
  if (Field == std::string::npos) return false;
  const size_t Length = std::strtoull(Head.c_str() + Field + 16, nullptr, 10);
  if (Stream.size() < End + 4 + Length) return false;
  Body = Stream.substr(End + 4, Length);
  Stream.erase(0, End + 4 + Length);
  return true;
}

TEST(HostCalls, LargeResponsesReachASlowReaderWholeAndKeepTheConnection) {
  // The client reads nothing until the host's writes have long filled the
  // socket; then every byte must arrive in order, and the pipelined request
  // behind it must still be answered on the same connection.
  std::string Letters(20 * 1024 * 1024 + 123, '\0');
  for (size_t I = 0; I < Letters.size(); ++I) Letters[I] = static_cast<char>('a' + I % 26);
  struct TCase {
    const char* Name;
    const char* Extension;
    std::vector<std::string> Options;
    std::string Target;
    std::string Body;
    std::string Next;      // the pipelined request after it
    std::string NextBody;  // and its answer
  } Cases[] = {
      {"64 KiB writes on the network thread", TOLVANE_TEST_EXTENSION, {}, "/big?" + std::to_string(320 * 65536),
       std::string(320 * 65536, 'x'), "/hello", "hello\n"},
      {"64 KiB writes on a request thread", TOLVANE_TEST_EXTENSION, {"--direct-calls", "off"},
       "/big?" + std::to_string(320 * 65536), std::string(320 * 65536, 'x'), "/hello", "hello\n"},
      {"1000-byte writes from the extension's threads", TOLVANE_POOLED_EXTENSION, {},
       "/big?" + std::to_string(Letters.size()), Letters, "/page", Page},
  };
  for (const auto& Case : Cases) {
    THostProcess Host;
    std::vector<std::string> Options = {"--io-threads", "1"};
    Options.insert(Options.end(), Case.Options.begin(), Case.Options.end());
    ASSERT_TRUE(Host.Start(Options, {}, Case.Extension)) << Host.Log();
    TRawClient Client(Host.Port());
    ASSERT_TRUE(Client.Connected());
    ASSERT_TRUE(Client.Send("GET " + Case.Target + " HTTP/1.1\r\nHost: t\r\n\r\nGET " + Case.Next +
                            " HTTP/1.1\r\nHost: t\r\n\r\n"));
    std::this_thread::sleep_for(500ms);
    std::string Stream = Client.ReadUntil("\r\n\r\n" + Case.NextBody, 20s);
    std::string Head;
    std::string Body;
    ASSERT_TRUE(TakeResponse(Stream, Head, Body)) << Case.Name << ": " << Stream.substr(0, 200);
    EXPECT_EQ(Head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << Case.Name << ": " << Head;
    EXPECT_EQ(Body.size(), Case.Body.size()) << Case.Name;
    EXPECT_TRUE(Body == Case.Body) << Case.Name << ": the body arrived changed";
    ASSERT_TRUE(TakeResponse(Stream, Head, Body)) << Case.Name << ": no answer to the pipelined request";
    EXPECT_EQ(Body, Case.NextBody) << Case.Name;
    EXPECT_EQ(Stream, "") << Case.Name;
    Client.Close();
    EXPECT_EQ(Host.Stop(), 0) << Case.Name << "\n" << Host.Log();
  }
}

TEST(HostCalls, StalledReaderIsTimedOutAndTheNetworkThreadServesAgain) {
  // With one network thread, an extension writing on it to a client that
  // never reads must give up after the I/O time-out, not hold it forever.
  THostProcess Host;
  ASSERT_TRUE(Host.Start({"--io-threads", "1", "--io-timeout", "1"})) << Host.Log();
  TRawClient Stalled(Host.Port());
  ASSERT_TRUE(Stalled.Connected());
  ASSERT_TRUE(Stalled.Send("GET /big?2000000000 HTTP/1.1\r\nHost: t\r\n\r\n"));
  std::this_thread::sleep_for(200ms);
  const auto Start = std::chrono::steady_clock::now();
  const auto Hello = RunCommand({"curl", "-sS", "--max-time", "20", Host.Url("/hello")});
  EXPECT_EQ(Hello.Out, "hello\n") << Hello.Err;
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 10s);
  std::string Stats;
  for (int Attempt = 0; Attempt < 100 && Stats != "write-failures=1\n"; ++Attempt) {
    Stats = RunCommand({"curl", "-sS", "--max-time", "20", Host.Url("/stats")}).Out;
    if (Stats != "write-failures=1\n") std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(Stats, "write-failures=1\n");
  EXPECT_EQ(Host.Stop(), 0) << Host.Log();
}

TEST(HostCalls, PendingRequestsFinishedByAnExtensionPoolUnderConcurrency) {
  // Every request goes back and forth between the network threads and the
  // extension's threads; pipelined requests on several connections at once
  // must each get exactly their answer, in order.
  THostProcess Host;
  ASSERT_TRUE(Host.Start({}, {}, TOLVANE_POOLED_EXTENSION)) << Host.Log();
  constexpr int Connections = 8;
  constexpr int PerConnection = 200;
  std::vector<std::string> Streams(Connections);
  std::vector<std::thread> Clients;
  for (int C = 0; C < Connections; ++C) {
    Clients.emplace_back([&, C] {
      TRawClient Client(Host.Port());
      std::string Requests;
      for (int I = 0; I < PerConnection; ++I) Requests += "GET /page?" + std::to_string(I) + " HTTP/1.1\r\nHost: t\r\n\r\n";
      Requests += "GET /page HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n";
      if (!Client.Send(Requests)) return;
      bool Closed = false;
      Streams[C] = Client.ReadUntilClose(20s, Closed);
    });
  }
  for (auto& Client : Clients) Client.join();
  for (int C = 0; C < Connections; ++C) {
    int Answers = 0;
    std::string Head;
    std::string Body;
    while (TakeResponse(Streams[C], Head, Body)) {
      EXPECT_EQ(Head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << Head;
      EXPECT_NE(Head.find("Content-Type: text/html\r\n"), std::string::npos) << Head;
      EXPECT_EQ(Body, Page);
      ++Answers;
    }
    EXPECT_EQ(Answers, PerConnection + 1) << "connection " << C;
    EXPECT_EQ(Streams[C], "") << "connection " << C;
  }
  EXPECT_EQ(Host.Stop(), 0) << Host.Log();
}

}  // namespace
}  // namespace tolvane::host::test
