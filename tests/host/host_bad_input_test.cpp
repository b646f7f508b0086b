// Hostile and broken clients, limits, shutdown and bad command lines: the
// host answers or drops the offender and keeps serving everyone else.
#include "host_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::host::test {
namespace {

using namespace std::chrono_literals;

void ExpectStillServing(const THostProcess& Host) {
  const auto Result = Curl({Host.Url("/hello")});
  EXPECT_EQ(Result.ExitCode, 0) << Result.Err;
  EXPECT_EQ(Result.Out, "hello\n");
}

class HostBadInput : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!Host.Running()) return;
    EXPECT_EQ(Host.Stop(), 0) << Host.Log();
  }
  THostProcess Host;
};

TEST_F(HostBadInput, MalformedRequestsGetAnErrorAndTheConnectionCloses) {
  ASSERT_TRUE(Host.Start({"--max-header-bytes", "4096", "--max-body-bytes", "1000"})) << Host.Log();
  const std::string LongHeader = "X-Big: " + std::string(8000, 'h') + "\r\n";
  struct TCase {
    const char* Name;
    std::string Request;
    const char* StatusLine;
  } Cases[] = {
      {"garbage request line", "GARBAGE\r\n\r\n", "HTTP/1.1 400 "},
      {"target not a path", "GET noslash HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 400 "},
      {"bad escape", "GET /a%zz HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 400 "},
      {"escaped zero byte", "GET /a%00b HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 400 "},
      {"raw zero byte", std::string("GET /a\0b HTTP/1.1\r\nHost: t\r\n\r\n", sizeof "GET /a\0b HTTP/1.1\r\nHost: t\r\n\r\n" - 1), "HTTP/1.1 400 "},
      {"above the top", "GET /../x HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 400 "},
      {"no Host in 1.1", "GET /hello HTTP/1.1\r\n\r\n", "HTTP/1.1 400 "},
      {"bad Content-Length", "POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: abc\r\n\r\n", "HTTP/1.1 400 "},
      {"bad chunk", "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", "HTTP/1.1 400 "},
      {"unknown version", "GET /hello HTTP/1.7\r\nHost: t\r\n\r\n", "HTTP/1.1 505 "},
      {"oversized head", "GET /hello HTTP/1.1\r\nHost: t\r\n" + LongHeader + "\r\n", "HTTP/1.1 431 "},
      {"declared body too large", "POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: 1000000000\r\n\r\n",
       "HTTP/1.1 413 "},
      {"chunked body too large",
       "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n800\r\n" + std::string(2048, 'b') +
           "\r\n0\r\n\r\n",
       "HTTP/1.1 413 "},
      {"unsupported expectation", "GET /hello HTTP/1.1\r\nHost: t\r\nExpect: magic\r\n\r\n", "HTTP/1.1 417 "},
  };
  for (const auto& Case : Cases) {
    TRawClient Client(Host.Port());
    ASSERT_TRUE(Client.Connected());
    ASSERT_TRUE(Client.Send(Case.Request)) << Case.Name;
    bool Closed = false;
    const std::string Data = Client.ReadUntilClose(5s, Closed);
    EXPECT_EQ(Data.rfind(Case.StatusLine, 0), 0u) << Case.Name << ":\n" << Data;
    EXPECT_TRUE(Closed) << Case.Name;
  }
  ExpectStillServing(Host);
}

TEST_F(HostBadInput, SlowAndIdleClientsAreTimedOut) {
  ASSERT_TRUE(Host.Start({"--header-timeout", "0.5"})) << Host.Log();
  TRawClient Slow(Host.Port());
  TRawClient Idle(Host.Port());
  ASSERT_TRUE(Slow.Connected() && Idle.Connected());
  ASSERT_TRUE(Slow.Send("GET /hello HTTP/1.1\r\nHo"));
  // Others are served while the slow one dawdles.
  ExpectStillServing(Host);
  bool SlowClosed = false;
  bool IdleClosed = false;
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Slow.ReadUntilClose(5s, SlowClosed), "");
  Idle.ReadUntilClose(5s, IdleClosed);
  EXPECT_TRUE(SlowClosed);
  EXPECT_TRUE(IdleClosed);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 4s);

  // A client that trickles a head in byte by byte does not get longer.
  TRawClient Trickle(Host.Port());
  ASSERT_TRUE(Trickle.Connected());
  const std::string Request = "GET /hello HTTP/1.1\r\nHost: t\r\nX-Pad: " + std::string(40, 'p') + "\r\n\r\n";
  bool Refused = false;
  for (size_t I = 0; I < Request.size() && !Refused; ++I) {
    Refused = !Trickle.Send(Request.substr(I, 1));
    std::this_thread::sleep_for(25ms);
  }
  bool TrickleClosed = false;
  const std::string Answer = Trickle.ReadUntilClose(3s, TrickleClosed);
  EXPECT_TRUE(Refused || TrickleClosed);
  EXPECT_EQ(Answer.find("hello"), std::string::npos) << Answer;
}

TEST_F(HostBadInput, ClientDisconnectingMidResponse) {
  ASSERT_TRUE(Host.Start({})) << Host.Log();
  {
    TRawClient Client(Host.Port());
    ASSERT_TRUE(Client.Connected());
    ASSERT_TRUE(Client.Send("GET /big?2000000000 HTTP/1.1\r\nHost: t\r\n\r\n"));
    const std::string Start = Client.ReadUntil("xxxx", 10s);
    ASSERT_NE(Start.find("HTTP/1.1 200 OK"), std::string::npos);
  }
  // The extension's write fails instead of blocking forever.
  std::string Stats;
  for (int Attempt = 0; Attempt < 100 && Stats != "write-failures=1\n"; ++Attempt) {
    std::this_thread::sleep_for(50ms);
    Stats = Curl({Host.Url("/stats")}).Out;
  }
  EXPECT_EQ(Stats, "write-failures=1\n");
  ExpectStillServing(Host);
}

TEST_F(HostBadInput, ConnectionCountIsBounded) {
  ASSERT_TRUE(Host.Start({"--max-connections", "2"})) << Host.Log();
  auto First = std::make_unique<TRawClient>(Host.Port());
  TRawClient Second(Host.Port());
  ASSERT_TRUE(First->Connected() && Second.Connected());
  // Both are counted once the host has accepted them: a request on each
  // proves it. Each then begins another, so neither is an idle connection
  // that could make room.
  for (TRawClient* Client : {First.get(), &Second}) {
    ASSERT_TRUE(Client->Send("GET /hello HTTP/1.1\r\nHost: t\r\n\r\n"));
    EXPECT_NE(Client->ReadUntil("hello\n", 5s).find("hello\n"), std::string::npos);
    ASSERT_TRUE(Client->Send("GET /hello HTTP/1.1\r\n"));
  }
  std::this_thread::sleep_for(200ms);  // until the host has seen those bytes
  TRawClient Third(Host.Port());
  ASSERT_TRUE(Third.Connected());
  Third.Send("GET /hello HTTP/1.1\r\nHost: t\r\n\r\n");
  bool Closed = false;
  const std::string Refused = Third.ReadUntilClose(5s, Closed);
  EXPECT_EQ(Refused.rfind("HTTP/1.1 503 ", 0), 0u) << Refused;
  EXPECT_TRUE(Closed);
  First.reset();
  std::string Served;
  for (int Attempt = 0; Attempt < 50 && Served != "hello\n"; ++Attempt) {
    std::this_thread::sleep_for(20ms);
    Served = Curl({Host.Url("/hello")}).Out;
  }
  EXPECT_EQ(Served, "hello\n");
}

TEST_F(HostBadInput, ShutdownDrainsRequestsInFlightAndTerminatesTheExtension) {
  tolvane::testing::TTempFolder Dir;
  const std::string Marker = Dir.File("terminated");
  ASSERT_TRUE(Host.Start({}, {{"TOLVANE_TEST_TERMINATE_MARKER", Marker}})) << Host.Log();
  TRawClient Idle(Host.Port());
  TRawClient Busy(Host.Port());
  ASSERT_TRUE(Idle.Connected() && Busy.Connected());
  ASSERT_TRUE(Busy.Send("GET /sleep?800 HTTP/1.1\r\nHost: t\r\n\r\n"));
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(std::filesystem::exists(Marker));
  const auto Start = std::chrono::steady_clock::now();
  std::optional<int> Status;
  std::thread Stopper([&] { Status = Host.Stop(15, 10s); });
  bool Closed = false;
  const std::string Answer = Busy.ReadUntilClose(10s, Closed);
  Stopper.join();
  EXPECT_EQ(Status, 0) << Host.Log();
  EXPECT_NE(Answer.find("Connection: close\r\n"), std::string::npos) << Answer;
  EXPECT_NE(Answer.find("\r\n\r\nslept\n"), std::string::npos) << Answer;
  EXPECT_TRUE(Closed);
  Idle.ReadUntilClose(1s, Closed);
  EXPECT_TRUE(Closed) << "an idle connection kept the host alive";
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 5s);
  EXPECT_TRUE(std::filesystem::exists(Marker)) << "TerminateExtension was not called";
  EXPECT_NE(Host.Log().find("stopped"), std::string::npos) << Host.Log();
}

TEST(HostShutdown, StuckRequestDoesNotHoldShutdownForever) {
  // Either the drain time-out passes or a second signal cuts it short.
  struct TCase {
    const char* Name;
    std::vector<std::string> Options;
    int Signals;
  } Cases[] = {
      {"drain time-out", {"--drain-timeout", "0.3"}, 1},
      {"second signal", {"--drain-timeout", "60"}, 2},
  };
  for (const auto& Case : Cases) {
    THostProcess Host;
    ASSERT_TRUE(Host.Start(Case.Options)) << Host.Log();
    TRawClient Busy(Host.Port());
    ASSERT_TRUE(Busy.Connected());
    ASSERT_TRUE(Busy.Send("GET /sleep?3000 HTTP/1.1\r\nHost: t\r\n\r\n"));
    std::this_thread::sleep_for(200ms);
    const auto Start = std::chrono::steady_clock::now();
    std::optional<int> Status;
    if (Case.Signals == 2) {
      EXPECT_EQ(Host.Stop(2, 200ms), std::nullopt) << Case.Name << ": did not wait for the request";
      Status = Host.Stop(2, 10s);
    } else {
      Status = Host.Stop(2, 10s);
    }
    EXPECT_EQ(Status, 1) << Case.Name << "\n" << Host.Log();
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 2s) << Case.Name;
    EXPECT_NE(Host.Log().find("still in flight"), std::string::npos) << Host.Log();
  }
}

TEST(HostCommandLine, BadOptionsAndExtensionsExitWithStatus2) {
  const std::vector<std::vector<std::string>> Cases = {
      {"--frobnicate", TOLVANE_TEST_EXTENSION},
      {"--listen", "nowhere", TOLVANE_TEST_EXTENSION},
      {"--listen", "256.1.1.1:0", TOLVANE_TEST_EXTENSION},
      {"--listen", "127.0.0.1:0"},
      {"--listen", "127.0.0.1:0", "/nonexistent/extension.so"},
      {"--listen", "127.0.0.1:0", TOLVANE_MISSING_ENTRY_EXTENSION},
  };
  for (auto Arguments : Cases) {
    Arguments.insert(Arguments.begin(), TOLVANE_HOST_EXE);
    const auto Result = RunCommand(Arguments);
    EXPECT_EQ(Result.ExitCode, 2) << Arguments[1];
    EXPECT_EQ(Result.Err.rfind("tolvane-host: ", 0), 0u) << Result.Err;
    EXPECT_EQ(Result.Err.find('\n'), Result.Err.size() - 1) << "not one line: " << Result.Err;
  }
  const auto Help = RunCommand({TOLVANE_HOST_EXE, "--help"});
  EXPECT_EQ(Help.ExitCode, 0);
  EXPECT_NE(Help.Out.find("--max-body-bytes"), std::string::npos);
  const auto Version = RunCommand({TOLVANE_HOST_EXE, "--version"});
  EXPECT_EQ(Version.ExitCode, 0);
  EXPECT_EQ(Version.Out, "tolvane-host 1.0.0\n");
}

}  // namespace
}  // namespace tolvane::host::test
