// End to end: tolvane-host serving the real extension library over HTTP,
// driven by curl.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "host_process.h"
#include "support/application_page.h"

namespace tolvane::host::test {
namespace {

const std::string& Page = tolvane::testing::kApplicationPage;

class HostWithLibrary : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Host.Start({}, {}, TOLVANE_LIBRARY)) << Host.Log(); }
  void TearDown() override {
    if (Host.Running()) {
      EXPECT_EQ(Host.Stop(), 0) << Host.Log();
    }
  }
  // Status line, the two content headers and the page, whatever the request.
  static void ExpectPage(const TCommandResult& Result, bool WithBody = true) {
    ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
    EXPECT_EQ(Result.Out.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << Result.Out;
    EXPECT_NE(Result.Out.find("\r\nContent-Type: text/html\r\n"), std::string::npos) << Result.Out;
    EXPECT_NE(Result.Out.find("\r\nContent-Length: 60\r\n"), std::string::npos) << Result.Out;
    const auto End = Result.Out.find("\r\n\r\n");
    ASSERT_NE(End, std::string::npos);
    EXPECT_EQ(Result.Out.substr(End + 4), WithBody ? Page : "");
  }

  THostProcess Host;
};

TEST_F(HostWithLibrary, EveryMethodAndPathGetsThePage) {
  for (const std::string Path : {"/", "/some/longer/path?x=1&y=%41", "/index.html"}) {
    ExpectPage(Curl({"-i", Host.Url(Path)}));
    ExpectPage(Curl({"-i", "-X", "DELETE", Host.Url(Path)}));
    ExpectPage(Curl({"-i", "--data-binary", "a=1&b=" + std::string(70000, 'x'), Host.Url(Path)}));
  }
  ExpectPage(Curl({"-i", "--head", Host.Url("/")}), false);
}

TEST_F(HostWithLibrary, ConcurrentClientsAreAllServedByThePool) {
  std::vector<std::thread> Clients;
  std::vector<TCommandResult> Results(8);
  for (std::size_t i = 0; i < Results.size(); ++i)
    Clients.emplace_back([&, i] {
      // One connection per client, twenty requests on it.
      std::vector<std::string> Arguments{"curl", "-sS", "--max-time", "60", "-w", "%{http_code}\n"};
      for (int r = 0; r < 20; ++r) Arguments.insert(Arguments.end(), {"-o", "/dev/null", Host.Url("/r" + std::to_string(r))});
      Results[i] = RunCommand(Arguments);
    });
  for (auto& Client : Clients) Client.join();
  for (const auto& Result : Results) {
    ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
    std::string Expected;
    for (int r = 0; r < 20; ++r) Expected += "200\n";
    EXPECT_EQ(Result.Out, Expected);
  }
}

}  // namespace
}  // namespace tolvane::host::test
