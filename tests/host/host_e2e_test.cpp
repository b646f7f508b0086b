// End to end: tolvane-host with the test extension on a loopback port, driven
// by curl.
#include "host_process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::host::test {
namespace {

std::string Fnv(const std::string& Data) {
  std::uint64_t Hash = 14695981039346656037ull;
  for (const unsigned char C : Data) Hash = (Hash ^ C) * 1099511628211ull;
  char Text[20];
  std::snprintf(Text, sizeof Text, "%016llx", static_cast<unsigned long long>(Hash));
  return Text;
}

std::string BodyOf(const std::string& Response) {
  const size_t End = Response.find("\r\n\r\n");
  return End == std::string::npos ? std::string() : Response.substr(End + 4);
}

class HostEndToEnd : public ::testing::Test {
 protected:
  void StartHost(std::vector<std::string> Options = {}) {
    Options.insert(Options.end(), {"--root", Root.Path().string(), "--access-log", Root.File("access.log")});
    ASSERT_TRUE(Host.Start(Options)) << Host.Log();
  }
  void TearDown() override {
    if (!Host.Running()) return;
    const auto Status = Host.Stop();
    EXPECT_EQ(Status, 0) << Host.Log();
  }

  tolvane::testing::TTempFolder Root;
  THostProcess Host;
};

TEST_F(HostEndToEnd, AnswersWithStatusHeadersAndBody) {
  StartHost();
  const auto Result = Curl({"-i", Host.Url("/hello")});
  ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
  EXPECT_EQ(Result.Out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << Result.Out;
  EXPECT_NE(Result.Out.find("\r\nContent-Length: 6\r\n"), std::string::npos) << Result.Out;
  EXPECT_NE(Result.Out.find("\r\nContent-Type: text/plain\r\n"), std::string::npos) << Result.Out;
  EXPECT_TRUE(std::regex_search(Result.Out, std::regex("\r\nDate: [A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} "
                                                       "\\d\\d:\\d\\d:\\d\\d GMT\r\n")))
      << Result.Out;
  EXPECT_NE(Result.Out.find("\r\nServer: tolvane-host/1.0\r\n"), std::string::npos) << Result.Out;
  EXPECT_EQ(BodyOf(Result.Out), "hello\n");
}

TEST_F(HostEndToEnd, HeadAndPipelinedRequestsShareOneConnection) {
  StartHost();
  TRawClient Client(Host.Port());
  ASSERT_TRUE(Client.Connected());
  // A body after the HEAD answer would be read as the start of the next one.
  ASSERT_TRUE(Client.Send("HEAD /hello HTTP/1.1\r\nHost: t\r\n\r\n"
                          "GET /vars?REQUEST_METHOD HTTP/1.1\r\nHost: t\r\n\r\n"
                          "GET /hello HTTP/1.1\r\nHost: t\r\n\r\n"));
  const std::string Data = Client.ReadUntil("hello\n", std::chrono::seconds(10));
  const std::regex Response("HTTP/1\\.1 200 OK\r\n(?:[^\r]+\r\n)*\r\n");
  auto Begin = std::sregex_iterator(Data.begin(), Data.end(), Response);
  std::vector<size_t> Starts;
  for (auto It = Begin; It != std::sregex_iterator(); ++It) Starts.push_back(static_cast<size_t>(It->position()));
  ASSERT_EQ(Starts.size(), 3u) << Data;
  const std::string First = Data.substr(0, Starts[1]);
  EXPECT_NE(First.find("Content-Length: 6\r\n"), std::string::npos) << First;
  EXPECT_EQ(BodyOf(First), "") << "HEAD answered with a body";
  EXPECT_EQ(BodyOf(Data.substr(Starts[1], Starts[2] - Starts[1])), "REQUEST_METHOD=GET\n");
  EXPECT_EQ(BodyOf(Data.substr(Starts[2])), "hello\n");
  bool Closed = false;
  Client.ReadUntilClose(std::chrono::milliseconds(200), Closed);
  EXPECT_FALSE(Closed) << "a persistent connection was closed";
}

TEST_F(HostEndToEnd, ExtensionReadsTheWholeBody) {
  StartHost();
  std::string Large(3 * 1024 * 1024 + 17, '\0');
  for (size_t I = 0; I < Large.size(); ++I) Large[I] = static_cast<char>((I * 7919) >> 3);
  struct TCase {
    const char* Name;
    std::string Body;
    bool Chunked;
    std::string Total;
    std::string Available;
  } Cases[] = {
      {"small", std::string(100, 'a'), false, "100", "100"},
      {"small chunked", std::string(1000, 'c'), true, "4294967295", "1000"},
      {"exactly the read-ahead", std::string(49152, 'e'), false, "49152", "49152"},
      {"one byte past the read-ahead", std::string(49153, 'o'), false, "49153", "49152"},
      {"large", Large, false, std::to_string(Large.size()), "49152"},
      {"large chunked", Large, true, "4294967295", "49152"},
  };
  for (const auto& Case : Cases) {
    const std::string File = Root.File("body");
    std::ofstream(File, std::ios::binary) << Case.Body;
    std::vector<std::string> Arguments = {"--data-binary", "@" + File, "-H", "Content-Type: application/octet-stream"};
    if (Case.Chunked) Arguments.insert(Arguments.end(), {"-H", "Transfer-Encoding: chunked"});
    Arguments.push_back(Host.Url("/echo"));
    const auto Result = Curl(Arguments);
    ASSERT_EQ(Result.ExitCode, 0) << Case.Name << ": " << Result.Err;
    EXPECT_EQ(Result.Out, "total=" + Case.Total + " avail=" + Case.Available + " bytes=" +
                              std::to_string(Case.Body.size()) + " fnv=" + Fnv(Case.Body) + "\n")
        << Case.Name;
  }
}

TEST_F(HostEndToEnd, RedirectAndUrlMapping) {
  StartHost();
  const auto Redirect = Curl({"-i", Host.Url("/redirect?http://example.test/next")});
  ASSERT_EQ(Redirect.ExitCode, 0) << Redirect.Err;
  EXPECT_EQ(Redirect.Out.rfind("HTTP/1.1 302 Found\r\n", 0), 0u) << Redirect.Out;
  EXPECT_NE(Redirect.Out.find("\r\nLocation: http://example.test/next\r\n"), std::string::npos) << Redirect.Out;

  const std::string RootPath = std::filesystem::canonical(Root.Path()).string();
  struct TCase {
    const char* Url;
    std::string Expected;
  } Cases[] = {
      {"/docs/a.txt", RootPath + "/docs/a.txt\n"},
      {"/docs/../b.txt", RootPath + "/b.txt\n"},
      {"/../etc/passwd", "refused\n"},
      {"/docs/../../x", "refused\n"},
  };
  for (const auto& Case : Cases) {
    const auto Result = Curl({"--path-as-is", Host.Url(std::string("/map?") + Case.Url)});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
    EXPECT_EQ(Result.Out, Case.Expected) << Case.Url;
  }
}

TEST_F(HostEndToEnd, ResponseWithoutLengthIsChunkedOrCloseDelimited) {
  StartHost();
  const auto Raw = Curl({"-i", "--raw", Host.Url("/chunked?3")});
  ASSERT_EQ(Raw.ExitCode, 0) << Raw.Err;
  EXPECT_NE(Raw.Out.find("\r\nTransfer-Encoding: chunked\r\n"), std::string::npos) << Raw.Out;
  EXPECT_EQ(Raw.Out.find("Content-Length"), std::string::npos) << Raw.Out;
  EXPECT_EQ(BodyOf(Raw.Out), "18\r\npiece 0\npiece 1\npiece 2\n\r\n0\r\n\r\n");

  const auto Http10 = Curl({"-0", "-i", Host.Url("/chunked?2")});
  ASSERT_EQ(Http10.ExitCode, 0) << Http10.Err;
  EXPECT_EQ(Http10.Out.find("Transfer-Encoding"), std::string::npos) << Http10.Out;
  EXPECT_NE(Http10.Out.find("\r\nConnection: close\r\n"), std::string::npos) << Http10.Out;
  EXPECT_EQ(BodyOf(Http10.Out), "piece 0\npiece 1\n");

  // Many small writes and a total far above the write buffer.
  const auto Many = Curl({Host.Url("/chunked?20000")});
  ASSERT_EQ(Many.ExitCode, 0) << Many.Err;
  std::string Expected;
  for (int I = 0; I < 20000; ++I) Expected += "piece " + std::to_string(I) + "\n";
  EXPECT_EQ(Many.Out, Expected);
}

TEST_F(HostEndToEnd, PendingRequestFinishedFromAnotherThread) {
  StartHost();
  for (const char* Path : {"/pending", "/pending-early-done"}) {
    // Several at once, and a keep-alive request after each on the same connection.
    std::vector<std::string> Arguments;
    for (int I = 0; I < 4; ++I) Arguments.insert(Arguments.end(), {Host.Url(Path), Host.Url("/hello")});
    const auto Result = Curl(Arguments);
    ASSERT_EQ(Result.ExitCode, 0) << Path << ": " << Result.Err;
    std::string Expected;
    for (int I = 0; I < 4; ++I) Expected += "finished on another thread\nhello\n";
    EXPECT_EQ(Result.Out, Expected) << Path;
  }
}

TEST_F(HostEndToEnd, ErrorsAndBrokenLengthsNeverCorruptTheConnection) {
  StartHost();
  for (const char* Path : {"/error", "/throw"}) {
    const auto Result = Curl({"-i", Host.Url(Path)});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
    EXPECT_EQ(Result.Out.rfind("HTTP/1.1 500 Internal Server Error\r\n", 0), 0u) << Path << Result.Out;
    EXPECT_EQ(BodyOf(Result.Out), "500 Internal Server Error\n") << Path;
  }
  // Fewer bytes than declared: the client learns the body is incomplete.
  const auto Short = Curl({Host.Url("/length-short")});
  EXPECT_EQ(Short.ExitCode, 18) << Short.Out;

  // More bytes than declared: exactly the declared bytes, then the connection
  // closes, so the surplus cannot pose as the next response.
  for (const char* Path : {"/length-long", "/length-short"}) {
    TRawClient Client(Host.Port());
    ASSERT_TRUE(Client.Connected());
    ASSERT_TRUE(Client.Send(std::string("GET ") + Path + " HTTP/1.1\r\nHost: t\r\n\r\nGET /hello HTTP/1.1\r\nHost: t\r\n\r\n"));
    bool Closed = false;
    const std::string Data = Client.ReadUntilClose(std::chrono::seconds(10), Closed);
    EXPECT_TRUE(Closed) << Path;
    EXPECT_EQ(BodyOf(Data), "01234") << Path;
  }
}

TEST_F(HostEndToEnd, ServerVariablesBelowAMount) {
  StartHost({"--mount", "/app"});
  const std::string Names =
      "URL,SCRIPT_NAME,HTTP_URL,PATH_INFO,QUERY_STRING,SERVER_PROTOCOL,REQUEST_METHOD,HTTP_X_CUSTOM_NAME,"
      "X_CUSTOM_NAME,REMOTE_ADDR,SERVER_PORT,SERVER_NAME,CONTENT_LENGTH,CONTENT_TYPE,HTTPS,NO_SUCH_VARIABLE,ALL_RAW";
  const auto Result = Curl({"-H", "X-Custom-Name: v1", "-H", "Host: example.test:81",
                            Host.Url("/app/vars/some%20dir/x?" + Names)});
  ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
  const std::string Port = std::to_string(Host.Port());
  const std::string Expected =
      "URL=/app\nSCRIPT_NAME=/app\nHTTP_URL=/app/vars/some%20dir/x?" + Names +
      "\nPATH_INFO=/vars/some dir/x\nQUERY_STRING=" + Names +
      "\nSERVER_PROTOCOL=HTTP/1.1\nREQUEST_METHOD=GET\nHTTP_X_CUSTOM_NAME=v1\nX_CUSTOM_NAME!\n"
      "REMOTE_ADDR=127.0.0.1\nSERVER_PORT=" + Port +
      "\nSERVER_NAME=example.test\nCONTENT_LENGTH!\nCONTENT_TYPE=\nHTTPS=off\nNO_SUCH_VARIABLE!\n"
      "ALL_RAW=Host: example.test:81\r\nUser-Agent: ";
  EXPECT_EQ(Result.Out.substr(0, Expected.size()), Expected) << Result.Out;

  const auto Outside = Curl({"-i", Host.Url("/application")});
  EXPECT_EQ(Outside.Out.rfind("HTTP/1.1 404 Not Found\r\n", 0), 0u) << Outside.Out;
}

TEST_F(HostEndToEnd, ServerVariablesJoinRepeatedHeadersAndTakeTheNameFromHost) {
  StartHost();
  struct {
    std::vector<std::string> Headers;
    std::string Names;
    std::string Expected;
  } Cases[] = {
      {{"Cookie: a=1", "Cookie: b=2", "X-Multi: one", "X-Multi: two"},
       "HTTP_COOKIE,HTTP_X_MULTI,http_x-multi,request_method,HTTP_X_MULTIPLE",
       "HTTP_COOKIE=a=1; b=2\nHTTP_X_MULTI=one, two\nhttp_x-multi=one, two\nrequest_method=GET\n"
       "HTTP_X_MULTIPLE!\n"},
      {{"Host: [::1]:8080"}, "SERVER_NAME", "SERVER_NAME=[::1]\n"},
      {{"Host: [::1]"}, "SERVER_NAME", "SERVER_NAME=[::1]\n"},
      {{"Host: example.test"}, "SERVER_NAME,server_name", "SERVER_NAME=example.test\nserver_name=example.test\n"},
  };
  for (const auto& Case : Cases) {
    std::vector<std::string> Arguments;
    for (const auto& Header : Case.Headers) Arguments.insert(Arguments.end(), {"-H", Header});
    Arguments.push_back(Host.Url("/vars?" + Case.Names));
    const auto Result = Curl(Arguments);
    ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
    EXPECT_EQ(Result.Out, Case.Expected) << Case.Names;
  }
}

TEST_F(HostEndToEnd, CallbacksNamingAFinishedRequestAreRefused) {
  StartHost();
  const auto First = Curl({Host.Url("/stale")});
  ASSERT_EQ(First.ExitCode, 0) << First.Err;
  ASSERT_EQ(First.Out, "first\n");
  for (int Round = 0; Round < 2; ++Round) {
    const auto Later = Curl({Host.Url("/stale")});
    ASSERT_EQ(Later.ExitCode, 0) << Later.Err;
    EXPECT_EQ(Later.Out, "- - -\n") << Round;
  }
}

TEST_F(HostEndToEnd, LongHeaderValuesArriveWhole) {
  StartHost({"--max-header-bytes", "65536"});
  for (const size_t Size : {size_t(5000), size_t(40000)}) {
    std::string Value;
    for (size_t I = 0; I < Size; ++I) Value += static_cast<char>('a' + I % 26);
    const auto Header = Curl({"-H", "X-Long: " + Value, Host.Url("/header?X_LONG")});
    ASSERT_EQ(Header.ExitCode, 0) << Header.Err;
    EXPECT_EQ(Header.Out, "needed=" + std::to_string(Size + 1) + " length=" + std::to_string(Size) +
                              " fnv=" + Fnv(Value) + "\n");
    const auto Cookie = Curl({"-H", "Cookie: big=" + Value, Host.Url("/header?COOKIE")});
    ASSERT_EQ(Cookie.ExitCode, 0) << Cookie.Err;
    EXPECT_EQ(Cookie.Out, "needed=" + std::to_string(Size + 5) + " length=" + std::to_string(Size + 4) +
                              " fnv=" + Fnv("big=" + Value) + "\n");
  }
}

TEST_F(HostEndToEnd, StatusTextsAndHeaderBlocksAreChecked) {
  StartHost();
  struct TCase {
    const char* Path;
    const char* StatusLine;
    const char* Body;
  } Cases[] = {
      {"/status?404+Not+Found", "HTTP/1.1 404 Not Found\r\n", "status sent\n"},
      {"/status?503", "HTTP/1.1 503 Service Unavailable\r\n", "status sent\n"},
      {"/status?abc", "HTTP/1.1 200 OK\r\n", "refused\n"},
      {"/inject", "HTTP/1.1 200 OK\r\n", "refused\n"},
      {"/raw-write", "HTTP/1.1 200 OK\r\n", "no header sent\n"},
      {"/status?204", "HTTP/1.1 204 No Content\r\n", ""},
  };
  for (const auto& Case : Cases) {
    const auto Result = Curl({"-i", Host.Url(Case.Path)});
    ASSERT_EQ(Result.ExitCode, 0) << Case.Path << ": " << Result.Err;
    EXPECT_EQ(Result.Out.rfind(Case.StatusLine, 0), 0u) << Case.Path << "\n" << Result.Out;
    EXPECT_EQ(Result.Out.find("X-Injected"), std::string::npos) << Result.Out;
    EXPECT_EQ(BodyOf(Result.Out), Case.Body) << Case.Path;
  }
}

TEST_F(HostEndToEnd, AccessLogUsesCommonLogFormat) {
  StartHost();
  ASSERT_EQ(Curl({Host.Url("/hello?a=1")}).ExitCode, 0);
  ASSERT_EQ(Curl({Host.Url("/error")}).ExitCode, 0);
  ASSERT_EQ(Host.Stop(), 0);
  std::ifstream Log(Root.File("access.log"));
  std::string First, Second;
  std::getline(Log, First);
  std::getline(Log, Second);
  const std::regex Line(R"re(127\.0\.0\.1 - - \[\d\d/[A-Z][a-z]{2}/\d{4}:\d\d:\d\d:\d\d \+0000\] "([^"]*)" (\d+) (\S+))re");
  std::smatch Match;
  ASSERT_TRUE(std::regex_match(First, Match, Line)) << First;
  EXPECT_EQ(Match[1], "GET /hello?a=1 HTTP/1.1");
  EXPECT_EQ(Match[2], "200");
  EXPECT_EQ(Match[3], "6");
  ASSERT_TRUE(std::regex_match(Second, Match, Line)) << Second;
  EXPECT_EQ(Match[2], "500");
}

}  // namespace
}  // namespace tolvane::host::test
