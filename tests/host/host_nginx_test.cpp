// Two hosts behind nginx, configured with deploy/nginx-upstream.conf: both
// serve requests.
#include "host_process.h"

#include <arpa/inet.h>
#include <signal.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace tolvane::host::test {
namespace {

using namespace std::chrono_literals;

std::string NginxPath() {
  for (const char* Candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"})
    if (std::filesystem::exists(Candidate)) return Candidate;
  return {};
}

unsigned short FreePort() {
  const int Socket = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Size = sizeof Address;
  bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
  getsockname(Socket, reinterpret_cast<sockaddr*>(&Address), &Size);
  close(Socket);
  return ntohs(Address.sin_port);
}

void ReplaceAll(std::string& Text, const std::string& From, const std::string& To) {
  for (size_t At = Text.find(From); At != std::string::npos; At = Text.find(From, At + To.size()))
    Text.replace(At, From.size(), To);
}

TEST(HostBehindNginx, RequestsAreSpreadOverBothHosts) {
  const std::string Nginx = NginxPath();
  if (Nginx.empty()) GTEST_SKIP() << "nginx is not installed (scripts/install-deps.sh installs it)";
  THostProcess First, Second;
  ASSERT_TRUE(First.Start({})) << First.Log();
  ASSERT_TRUE(Second.Start({})) << Second.Log();

  std::ifstream In(TOLVANE_DEPLOY_DIR "/nginx-upstream.conf");
  std::stringstream Snippet;
  Snippet << In.rdbuf();
  std::string Upstream = Snippet.str();
  ASSERT_NE(Upstream.find("127.0.0.1:8081"), std::string::npos);
  const unsigned short Front = FreePort();
  ReplaceAll(Upstream, "127.0.0.1:8081", "127.0.0.1:" + std::to_string(First.Port()));
  ReplaceAll(Upstream, "127.0.0.1:8082", "127.0.0.1:" + std::to_string(Second.Port()));
  ReplaceAll(Upstream, "listen 127.0.0.1:8080", "listen 127.0.0.1:" + std::to_string(Front));

  tolvane::testing::TTempFolder Dir;
  const std::string Config = Dir.File("nginx.conf");
  std::ofstream(Config) << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                        << "pid " << Dir.File("nginx.pid") << ";\nerror_log " << Dir.File("error.log") << ";\n"
                        << "events { worker_connections 128; }\nhttp {\naccess_log off;\n"
                        << "client_body_temp_path " << Dir.File("body") << ";\nproxy_temp_path " << Dir.File("proxy")
                        << ";\nfastcgi_temp_path " << Dir.File("fastcgi") << ";\nuwsgi_temp_path " << Dir.File("uwsgi")
                        << ";\nscgi_temp_path " << Dir.File("scgi") << ";\n"
                        << Upstream << "}\n";

  // nginx runs in the foreground of a shell that the test stops by its pid.
  const std::string PidFile = Dir.File("shell.pid");
  const std::string Start = "echo $$ > " + PidFile + "; exec " + Nginx + " -p " + Dir.Path().string() + " -c " + Config;
  std::thread Runner([&] { RunCommand({"sh", "-c", Start}); });
  const std::string Url = "http://127.0.0.1:" + std::to_string(Front) + "/vars?SERVER_PORT";
  std::set<std::string> Ports;
  bool Up = false;
  for (int Attempt = 0; Attempt < 100 && !Up; ++Attempt) {
    std::this_thread::sleep_for(50ms);
    Up = RunCommand({"curl", "-sS", "--max-time", "5", Url}).ExitCode == 0;
  }
  if (Up) {
    for (int I = 0; I < 10; ++I) {
      const auto Result = RunCommand({"curl", "-sS", "--max-time", "10", Url});
      EXPECT_EQ(Result.ExitCode, 0) << Result.Err;
      Ports.insert(Result.Out);
    }
  }
  std::ifstream PidIn(PidFile);
  int Pid = 0;
  PidIn >> Pid;
  if (Pid > 0) kill(Pid, SIGQUIT);
  Runner.join();
  ASSERT_TRUE(Up) << "nginx did not come up";
  EXPECT_EQ(Ports, (std::set<std::string>{"SERVER_PORT=" + std::to_string(First.Port()) + "\n",
                                         "SERVER_PORT=" + std::to_string(Second.Port()) + "\n"}));
  EXPECT_EQ(First.Stop(), 0) << First.Log();
  EXPECT_EQ(Second.Stop(), 0) << Second.Log();
}

}  // namespace
}  // namespace tolvane::host::test
