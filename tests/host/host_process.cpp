#include "host_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace tolvane::host::test {

namespace {

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

int Spawn(const std::vector<std::string>& Argv, const std::string& OutFile, const std::string& ErrFile,
          const std::vector<std::string>& Environment) {
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&Actions, 1, OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&Actions, 2, ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> Args;
  for (const auto& Arg : Argv) Args.push_back(const_cast<char*>(Arg.c_str()));
  Args.push_back(nullptr);
  std::vector<char*> Env;
  for (char** Entry = environ; *Entry; ++Entry) Env.push_back(*Entry);
  for (const auto& Entry : Environment) Env.push_back(const_cast<char*>(Entry.c_str()));
  Env.push_back(nullptr);
  pid_t Pid = -1;
  const int Error = posix_spawnp(&Pid, Args[0], &Actions, nullptr, Args.data(), Env.data());
  posix_spawn_file_actions_destroy(&Actions);
  return Error == 0 ? Pid : -1;
}

}  // namespace

TCommandResult RunCommand(const std::vector<std::string>& Argv) {
  tolvane::testing::TTempFolder Dir;
  TCommandResult Result;
  const int Pid = Spawn(Argv, Dir.File("out"), Dir.File("err"), {});
  if (Pid < 0) return Result;
  int Status = 0;
  waitpid(Pid, &Status, 0);
  Result.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  Result.Out = ReadFile(Dir.File("out"));
  Result.Err = ReadFile(Dir.File("err"));
  return Result;
}

TCommandResult Curl(std::vector<std::string> Arguments) {
  Arguments.insert(Arguments.begin(), {"curl", "-sS", "--max-time", "30"});
  return RunCommand(Arguments);
}

THostProcess::~THostProcess() {
  if (FPid > 0) {
    kill(FPid, SIGKILL);
    waitpid(FPid, nullptr, 0);
  }
}

bool THostProcess::Start(const std::vector<std::string>& Options,
                         const std::vector<std::pair<std::string, std::string>>& Environment,
                         const std::string& Extension) {
  std::vector<std::string> Argv = {TOLVANE_HOST_EXE, "--listen", "127.0.0.1:0"};
  Argv.insert(Argv.end(), Options.begin(), Options.end());
  Argv.push_back(Extension);
  std::vector<std::string> Env;
  for (const auto& [Name, Value] : Environment) Env.push_back(Name + "=" + Value);
  FPid = Spawn(Argv, FDir.File("stdout"), FDir.File("stderr"), Env);
  if (FPid < 0) return false;
  const std::string Marker = "listening on http://127.0.0.1:";
  for (int Attempt = 0; Attempt < 500; ++Attempt) {
    const std::string Text = ReadFile(FDir.File("stderr"));
    const size_t Found = Text.find(Marker);
    if (Found != std::string::npos && Text.find('\n', Found) != std::string::npos) {
      FPort = static_cast<unsigned short>(std::atoi(Text.c_str() + Found + Marker.size()));
      return FPort != 0;
    }
    if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
      FPid = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::optional<int> THostProcess::Stop(int Signal, std::chrono::milliseconds Timeout) {
  if (FPid <= 0) return std::nullopt;
  kill(FPid, Signal);
  const auto Deadline = std::chrono::steady_clock::now() + Timeout;
  while (std::chrono::steady_clock::now() < Deadline) {
    int Status = 0;
    if (waitpid(FPid, &Status, WNOHANG) == FPid) {
      FPid = -1;
      return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::nullopt;
}

std::string THostProcess::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(FPort) + Path;
}

long THostProcess::ResidentKiB() const {
  std::ifstream Status("/proc/" + std::to_string(FPid) + "/status");
  std::string Line;
  while (std::getline(Status, Line))
    if (Line.rfind("VmRSS:", 0) == 0) return std::atol(Line.c_str() + 6);
  return -1;
}

std::string THostProcess::Log() const { return ReadFile(FDir.File("stderr")); }

TRawClient::TRawClient(unsigned short Port) {
  FSocket = socket(AF_INET, SOCK_STREAM, 0);
  if (FSocket < 0) return;
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_port = htons(Port);
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(FSocket, reinterpret_cast<sockaddr*>(&Address), sizeof Address) != 0) Close();
}

TRawClient::~TRawClient() { Close(); }

void TRawClient::Reset() {
  if (FSocket < 0) return;
  linger Linger{1, 0};
  setsockopt(FSocket, SOL_SOCKET, SO_LINGER, &Linger, sizeof Linger);
  Close();
}

void TRawClient::Close() {
  if (FSocket >= 0) close(FSocket);
  FSocket = -1;
}

bool TRawClient::Send(const std::string& Data) {
  size_t Sent = 0;
  while (Sent < Data.size()) {
    const ssize_t N = send(FSocket, Data.data() + Sent, Data.size() - Sent, MSG_NOSIGNAL);
    if (N <= 0) return false;
    Sent += static_cast<size_t>(N);
  }
  return true;
}

std::string TRawClient::ReadUntilClose(std::chrono::milliseconds Timeout, bool& Closed) {
  std::string Data;
  Closed = false;
  char Buffer[65536];
  while (true) {
    pollfd Poll{FSocket, POLLIN, 0};
    if (poll(&Poll, 1, static_cast<int>(Timeout.count())) <= 0) return Data;
    const ssize_t N = recv(FSocket, Buffer, sizeof Buffer, 0);
    if (N <= 0) {
      Closed = true;
      return Data;
    }
    Data.append(Buffer, static_cast<size_t>(N));
  }
}

std::string TRawClient::ReadUntil(const std::string& Needle, std::chrono::milliseconds Timeout) {
  std::string Data;
  char Buffer[65536];
  const auto Deadline = std::chrono::steady_clock::now() + Timeout;
  while (Data.find(Needle) == std::string::npos) {
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
    if (Left.count() <= 0) break;
    pollfd Poll{FSocket, POLLIN, 0};
    if (poll(&Poll, 1, static_cast<int>(Left.count())) <= 0) break;
    const ssize_t N = recv(FSocket, Buffer, sizeof Buffer, 0);
    if (N <= 0) break;
    Data.append(Buffer, static_cast<size_t>(N));
  }
  return Data;
}

}  // namespace tolvane::host::test
