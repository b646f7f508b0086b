// Clients that attack the flow of a connection rather than its head: endless
// or malformed chunk framing, slow readers of large answers, idle keep-alive
// connections at the limit, and answers that must reach the access log.
#include "host_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::host::test {
namespace {

using namespace std::chrono_literals;

const std::string ChunkedPost = "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::string Hello = "GET /hello HTTP/1.1\r\nHost: t\r\n\r\n";

TEST(HostFlow, BrokenChunkFramingIsAnsweredAtOnceWithFlatMemory) {
  THostProcess Host;
  // The I/O time-out is far above the bound each case must meet, so an
  // answer that only comes with it fails the case.
  ASSERT_TRUE(Host.Start({"--io-timeout", "30"})) << Host.Log();
  struct TCase {
    const char* Name;
    std::string Start;
    char Endless;  // streamed after Start until the host stops reading; 0: none
  } Cases[] = {
      {"endless chunk extension", ChunkedPost + "5;a=", 'a'},
      {"endless chunk-size line", ChunkedPost + "5", '0'},
      {"endless trailer field", ChunkedPost + "5\r\nhello\r\n0\r\nX-Trailer: ", 't'},
      {"endless trailer section", ChunkedPost + "0\r\n", 0},
      {"bare LF after the chunk size", ChunkedPost + "5\nhello\n0\n\n", 0},
      {"bare LF after chunk data", ChunkedPost + "5\r\nhello\n0\r\n\r\n", 0},
      {"bare LF in the trailer", ChunkedPost + "0\r\nX-T: 1\n\r\n", 0},
  };
  const long Before = Host.ResidentKiB();
  for (const auto& Case : Cases) {
    TRawClient Client(Host.Port());
    ASSERT_TRUE(Client.Connected());
    const auto Start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Client.Send(Case.Start)) << Case.Name;
    std::atomic<bool> Stop{false};
    std::thread Flood;
    if (Case.Endless != 0) {
      // Up to 64 MiB: what the host holds of it must stay bounded.
      Flood = std::thread([&] {
        const std::string Block(64 * 1024, Case.Endless);
        for (int I = 0; I < 1024 && !Stop.load(); ++I)
          if (!Client.Send(Block)) break;
      });
    } else if (std::string(Case.Name) == "endless trailer section") {
      Flood = std::thread([&] {
        for (int I = 0; I < 100000 && !Stop.load(); ++I)
          if (!Client.Send("X-Field-" + std::to_string(I) + ": some value\r\n")) break;
      });
    }
    const std::string Answer = Client.ReadUntil("\r\n\r\n", 10s);
    Stop.store(true);
    if (Flood.joinable()) Flood.join();
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 5s) << Case.Name;
    EXPECT_TRUE(Answer.rfind("HTTP/1.1 400 ", 0) == 0 || Answer.rfind("HTTP/1.1 431 ", 0) == 0)
        << Case.Name << ":\n" << Answer;
    EXPECT_NE(Answer.find("Connection: close\r\n"), std::string::npos) << Case.Name;
    // Whatever follows on the same connection is not served.
    Client.Send(Hello);
    bool Closed = false;
    const std::string After = Client.ReadUntilClose(5s, Closed);
    EXPECT_EQ(After.find("hello"), std::string::npos) << Case.Name << ":\n" << After;
    EXPECT_TRUE(Closed) << Case.Name;
  }
  const long After = Host.ResidentKiB();
  ASSERT_GT(Before, 0);
  EXPECT_LT(After - Before, 32 * 1024) << "resident memory grew from " << Before << " KiB to " << After << " KiB";

  // A well-formed chunked body with extensions and a trailer still arrives.
  TRawClient Client(Host.Port());
  ASSERT_TRUE(Client.Send(ChunkedPost + "5;name=value\r\nhello\r\n0\r\nX-Trailer: 1\r\n\r\n"));
  const std::string Echo = Client.ReadUntil("fnv=", 5s);
  EXPECT_NE(Echo.find("HTTP/1.1 200 OK"), std::string::npos) << Echo;
  EXPECT_NE(Echo.find("bytes=5 "), std::string::npos) << Echo;
}

TEST(HostFlow, SlowReadersCostTheirOwnConnectionOnly) {
  // The extension writes its large answer on the network thread (direct
  // calls) or on a request thread; either way two clients that never read
  // must not hold up a third.
  const std::vector<std::vector<std::string>> Cases = {
      {"--io-threads", "2"},
      {"--io-threads", "2", "--direct-calls", "off"},
  };
  for (const auto& Options : Cases) {
    const std::string Name = Options.size() > 2 ? "request threads" : "direct calls";
    THostProcess Host;
    ASSERT_TRUE(Host.Start(Options)) << Host.Log();
    std::vector<std::unique_ptr<TRawClient>> Slow;
    for (int I = 0; I < 2; ++I) {
      Slow.push_back(std::make_unique<TRawClient>(Host.Port()));
      ASSERT_TRUE(Slow.back()->Send("GET /big?1000000000 HTTP/1.1\r\nHost: t\r\n\r\n"));
    }
    // Time for both answers to fill their sockets.
    std::this_thread::sleep_for(500ms);
    TRawClient Normal(Host.Port());
    ASSERT_TRUE(Normal.Connected());
    auto Worst = std::chrono::steady_clock::duration::zero();
    for (int I = 0; I < 20; ++I) {
      const auto Start = std::chrono::steady_clock::now();
      ASSERT_TRUE(Normal.Send(Hello));
      const std::string Answer = Normal.ReadUntil("hello\n", 10s);
      Worst = std::max(Worst, std::chrono::steady_clock::now() - Start);
      ASSERT_NE(Answer.find("hello\n"), std::string::npos) << Name << ": request " << I;
    }
    EXPECT_LT(Worst, 500ms) << Name << ": worst "
                            << std::chrono::duration_cast<std::chrono::milliseconds>(Worst).count() << " ms";
    Slow.clear();
    EXPECT_EQ(Host.Stop(), 0) << Host.Log();
  }
}

TEST(HostFlow, IdleKeepAliveConnectionsMakeRoomOldestFirst) {
  THostProcess Host;
  ASSERT_TRUE(Host.Start({"--max-connections", "3"})) << Host.Log();
  std::vector<std::unique_ptr<TRawClient>> Kept;
  for (int I = 0; I < 3; ++I) {
    Kept.push_back(std::make_unique<TRawClient>(Host.Port()));
    ASSERT_TRUE(Kept.back()->Send(Hello));
    ASSERT_NE(Kept.back()->ReadUntil("hello\n", 5s).find("hello\n"), std::string::npos);
    // The answer can reach the client a moment before the host begins
    // waiting for the next request, which is what orders the waiters.
    std::this_thread::sleep_for(100ms);
  }
  // Each newcomer is served (and stays), and the connection that has waited
  // longest for a further request is the one closed for it.
  for (int I = 0; I < 2; ++I) {
    Kept.push_back(std::make_unique<TRawClient>(Host.Port()));
    ASSERT_TRUE(Kept.back()->Send(Hello));
    const std::string Answer = Kept.back()->ReadUntil("hello\n", 5s);
    EXPECT_EQ(Answer.rfind("HTTP/1.1 200 ", 0), 0u) << Answer;
    std::this_thread::sleep_for(100ms);
    bool Closed = false;
    EXPECT_EQ(Kept[I]->ReadUntilClose(2s, Closed), "");
    EXPECT_TRUE(Closed) << "connection " << I << " was not closed";
  }
  // The others still serve.
  for (int I = 2; I < 5; ++I) {
    ASSERT_TRUE(Kept[I]->Send(Hello));
    EXPECT_NE(Kept[I]->ReadUntil("hello\n", 5s).find("hello\n"), std::string::npos) << "connection " << I;
  }
}

TEST(HostFlow, KeepAliveWaitHasItsOwnTimeOut) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Options;
    bool ClosedSoon;
  } Cases[] = {
      {"short keep-alive wait", {"--keepalive-timeout", "0.5", "--header-timeout", "20"}, true},
      {"short head time-out", {"--keepalive-timeout", "20", "--header-timeout", "0.5"}, false},
  };
  for (const auto& Case : Cases) {
    THostProcess Host;
    ASSERT_TRUE(Host.Start(Case.Options)) << Host.Log();
    TRawClient Client(Host.Port());
    ASSERT_TRUE(Client.Send(Hello));
    ASSERT_NE(Client.ReadUntil("hello\n", 5s).find("hello\n"), std::string::npos) << Case.Name;
    bool Closed = false;
    Client.ReadUntilClose(2s, Closed);
    EXPECT_EQ(Closed, Case.ClosedSoon) << Case.Name;
    if (!Closed) {
      ASSERT_TRUE(Client.Send(Hello));
      EXPECT_NE(Client.ReadUntil("hello\n", 5s).find("hello\n"), std::string::npos) << Case.Name;
    }
  }
}

TEST(HostFlow, EveryAnswerIsLogged) {
  THostProcess Host;
  tolvane::testing::TTempFolder Dir;
  const std::string LogFile = Dir.File("access.log");
  ASSERT_TRUE(Host.Start({"--max-connections", "2", "--max-header-bytes", "4096", "--max-body-bytes", "100",
                          "--access-log", LogFile}))
      << Host.Log();
  std::vector<std::string> Statuses;
  {
    // At the limit with every connection busy: refused, and logged, even
    // for a client that has reset before the host got to it.
    TRawClient Busy1(Host.Port());
    TRawClient Busy2(Host.Port());
    ASSERT_TRUE(Busy1.Send("GET /hello HTTP/1.1\r\n") && Busy2.Send("GET /hello HTTP/1.1\r\n"));
    TRawClient Refused(Host.Port());
    Refused.Send(Hello);
    bool Closed = false;
    EXPECT_EQ(Refused.ReadUntilClose(5s, Closed).rfind("HTTP/1.1 503 ", 0), 0u);
    TRawClient Gone(Host.Port());
    Gone.Reset();
    Statuses = {"503", "503"};
    std::this_thread::sleep_for(300ms);
  }
  std::this_thread::sleep_for(300ms);  // the busy ones' places free up
  const struct {
    std::string Request;
    const char* Status;
  } Cases[] = {
      {Hello, "200"},
      {"GARBAGE\r\n\r\n", "400"},
      {"GET /hello HTTP/1.1\r\nHost: t\r\nX-Big: " + std::string(5000, 'b') + "\r\n\r\n", "431"},
      {"POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: 1000\r\n\r\n", "413"},
      {ChunkedPost + "5\nhello\n0\n\n", "400"},
      {"GET /hello HTTP/1.1\r\nHost: t\r\nExpect: magic\r\n\r\n", "417"},
  };
  for (const auto& Case : Cases) {
    TRawClient Client(Host.Port());
    ASSERT_TRUE(Client.Send(Case.Request));
    Client.ReadUntil(std::string(" ") + Case.Status + " ", 5s);
    Client.Close();
    Statuses.push_back(Case.Status);
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(Host.Stop(), 0) << Host.Log();
  std::ifstream Log(LogFile);
  std::vector<std::string> Logged;
  std::string Line;
  while (std::getline(Log, Line)) {
    EXPECT_EQ(Line.rfind("127.0.0.1 - - [", 0), 0u) << Line;
    std::istringstream Fields(Line.substr(Line.rfind('"') + 1));
    std::string Status;
    Fields >> Status;
    Logged.push_back(Status);
  }
  EXPECT_EQ(Logged, Statuses);
}

}  // namespace
}  // namespace tolvane::host::test
