// The host as an operator runs it: giving up root for --user, the warning
// when it keeps root, the access log reopened on SIGUSR1, and the systemd
// unit shipped in deploy/.
#include "host_process.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::host::test {
namespace {

using namespace std::chrono_literals;

std::string ReadText(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

// The numbers after "Name:" in /proc/PID/status, e.g. Uid: real, effective,
// saved, file system.
std::vector<long> StatusNumbers(int Pid, const std::string& Name) {
  std::istringstream Lines(ReadText("/proc/" + std::to_string(Pid) + "/status"));
  std::string Line;
  std::vector<long> Numbers;
  while (std::getline(Lines, Line)) {
    if (Line.rfind(Name + ":", 0) != 0) continue;
    std::istringstream Fields(Line.substr(Name.size() + 1));
    long Value;
    while (Fields >> Value) Numbers.push_back(Value);
  }
  return Numbers;
}

std::size_t Count(const std::string& Text, const std::string& Needle) {
  std::size_t Found = 0;
  for (size_t At = Text.find(Needle); At != std::string::npos; At = Text.find(Needle, At + 1)) ++Found;
  return Found;
}

std::string Get(const THostProcess& Host, const std::string& Path) {
  return RunCommand({"curl", "-sS", "--max-time", "30", Host.Url(Path)}).Out;
}

const char* const RootWarning = "warning: running as root";

TEST(HostOperator, UserTakesTheWholeIdentityBeforeServing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* Nobody = getpwnam("nobody");
  const group* Daemon = getgrnam("daemon");
  ASSERT_TRUE(Nobody && Daemon);
  const long Uid = Nobody->pw_uid;
  // The extension where any user can read it, wherever the build lives.
  tolvane::testing::TTempFolder Shared;
  const std::string Extension = Shared.File("libtolvane_test_extension.so");
  std::filesystem::copy_file(TOLVANE_TEST_EXTENSION, Extension);
  std::filesystem::permissions(Shared.Path(), std::filesystem::perms(0755));
  std::filesystem::permissions(Extension, std::filesystem::perms(0755));
  struct TCase {
    std::string User;
    long Gid;
  } Cases[] = {{"nobody", static_cast<long>(Nobody->pw_gid)}, {"nobody:daemon", static_cast<long>(Daemon->gr_gid)}};
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.User);
    // The groups the system gives the user along with its group.
    std::vector<gid_t> Groups(64);
    int Size = static_cast<int>(Groups.size());
    ASSERT_GE(getgrouplist("nobody", static_cast<gid_t>(Case.Gid), Groups.data(), &Size), 0);
    std::vector<long> Expected(Groups.begin(), Groups.begin() + Size);
    std::sort(Expected.begin(), Expected.end());

    THostProcess Host;
    ASSERT_TRUE(Host.Start({"--user", Case.User}, {}, Extension)) << Host.Log();
    EXPECT_EQ(StatusNumbers(Host.Pid(), "Uid"), std::vector<long>(4, Uid));
    EXPECT_EQ(StatusNumbers(Host.Pid(), "Gid"), std::vector<long>(4, Case.Gid));
    auto Actual = StatusNumbers(Host.Pid(), "Groups");
    std::sort(Actual.begin(), Actual.end());
    EXPECT_EQ(Actual, Expected);
    EXPECT_EQ(Get(Host, "/hello"), "hello\n");
    EXPECT_EQ(Host.Log().find(RootWarning), std::string::npos) << Host.Log();
    EXPECT_EQ(Host.Stop(), 0) << Host.Log();
  }
}

TEST(HostOperator, UserThatCannotBeTakenEndsTheHostWithOneLine) {
  for (const char* User : {"no-such-user-here", "nobody:no-such-group-here", "nobody:", ":daemon"}) {
    SCOPED_TRACE(User);
    const auto Result =
        RunCommand({TOLVANE_HOST_EXE, "--listen", "127.0.0.1:0", "--user", User, TOLVANE_TEST_EXTENSION});
    EXPECT_EQ(Result.ExitCode, 2);
    EXPECT_EQ(Result.Err.rfind("tolvane-host: --user: ", 0), 0u) << Result.Err;
    EXPECT_EQ(Count(Result.Err, "\n"), 1u) << Result.Err;
    EXPECT_EQ(Result.Err.back(), '\n');
  }
  // Started as an ordinary user, the host may not become another.
  if (geteuid() != 0) return;
  const auto Result = RunCommand({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", TOLVANE_HOST_EXE,
                                  "--listen", "127.0.0.1:0", "--user", "daemon", TOLVANE_TEST_EXTENSION});
  EXPECT_EQ(Result.ExitCode, 2);
  EXPECT_EQ(Result.Err.rfind("tolvane-host: --user: ", 0), 0u) << Result.Err;
  EXPECT_NE(Result.Err.find("not permitted"), std::string::npos) << Result.Err;
  EXPECT_EQ(Count(Result.Err, "\n"), 1u) << Result.Err;
}

TEST(HostOperator, RootWithoutUserIsWarnedOnce) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  THostProcess Host;
  ASSERT_TRUE(Host.Start({})) << Host.Log();
  EXPECT_EQ(Get(Host, "/hello"), "hello\n");
  EXPECT_EQ(Count(Host.Log(), RootWarning), 1u) << Host.Log();
  EXPECT_EQ(StatusNumbers(Host.Pid(), "Uid"), std::vector<long>(4, 0));
  EXPECT_EQ(Host.Stop(), 0) << Host.Log();
}

TEST(HostOperator, Sigusr1ReopensTheAccessLog) {
  THostProcess Host;
  const std::string Log = Host.Dir().File("access.log");
  const std::string Rotated = Host.Dir().File("access.log.1");
  ASSERT_TRUE(Host.Start({"--access-log", Log})) << Host.Log();
  EXPECT_EQ(Get(Host, "/hello?before"), "hello\n");
  std::filesystem::rename(Log, Rotated);
  // Until the signal the moved file takes the lines.
  EXPECT_EQ(Get(Host, "/hello?moved"), "hello\n");
  ASSERT_EQ(kill(Host.Pid(), SIGUSR1), 0);
  for (int Attempt = 0; Attempt < 250 && !std::filesystem::exists(Log); ++Attempt) std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(std::filesystem::exists(Log)) << Host.Log();
  EXPECT_EQ(Get(Host, "/hello?after"), "hello\n");
  EXPECT_EQ(Host.Stop(), 0) << Host.Log();

  const std::string Old = ReadText(Rotated);
  const std::string New = ReadText(Log);
  EXPECT_EQ(Count(Old, "\n"), 2u) << Old;
  EXPECT_NE(Old.find("GET /hello?before "), std::string::npos) << Old;
  EXPECT_NE(Old.find("GET /hello?moved "), std::string::npos) << Old;
  EXPECT_EQ(Count(New, "\n"), 1u) << New;
  EXPECT_NE(New.find("GET /hello?after "), std::string::npos) << New;
}

TEST(HostOperator, SystemdUnitPasses) {
  // The unit names the installed host; the copy checked here names the one
  // just built, since the verifier wants the program to exist.
  std::string Unit = ReadText(std::string(TOLVANE_DEPLOY_DIR) + "/tolvane-host.service");
  ASSERT_FALSE(Unit.empty());
  const std::string Installed = "/usr/local/bin/tolvane-host";
  const size_t At = Unit.find("ExecStart=" + Installed);
  ASSERT_NE(At, std::string::npos);
  Unit.replace(At + 10, Installed.size(), TOLVANE_HOST_EXE);
  tolvane::testing::TTempFolder Dir;
  const std::string Copy = Dir.File("tolvane-host.service");
  std::ofstream(Copy) << Unit;
  const auto Result = RunCommand({"systemd-analyze", "verify", "--man=no", Copy});
  EXPECT_EQ(Result.ExitCode, 0) << Result.Out << Result.Err;
  EXPECT_EQ(Result.Err, "") << "the verifier has remarks";
}

}  // namespace
}  // namespace tolvane::host::test
