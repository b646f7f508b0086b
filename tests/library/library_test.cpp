// The built library loaded the way a host loads it: dlopen, the three
// exported entry points, dlclose. Requests come from the fake host; threads
// are counted from /proc/self/task.
#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <tolvane/isapi/isapi.h>
#include "support/extension_checks.h"
#include "support/fake_isapi_host.h"
#include "support/process_threads.h"
#include "support/temp_folder.h"

using namespace tolvane::testing;
using namespace std::chrono_literals;

namespace {

bool Loaded(const char* Path) {
  void* Handle = dlopen(Path, RTLD_NOW | RTLD_NOLOAD);
  if (Handle) dlclose(Handle);
  return Handle != nullptr;
}

// One load of the library, unloaded when it goes out of scope.
class TLibrary {
 public:
  explicit TLibrary(const char* Path = TOLVANE_LIBRARY) : FHandle(dlopen(Path, RTLD_NOW | RTLD_LOCAL)) {
    if (!FHandle) return;
    GetExtensionVersion = reinterpret_cast<PFN_GETEXTENSIONVERSION>(dlsym(FHandle, "GetExtensionVersion"));
    HttpExtensionProc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(dlsym(FHandle, "HttpExtensionProc"));
    TerminateExtension = reinterpret_cast<PFN_TERMINATEEXTENSION>(dlsym(FHandle, "TerminateExtension"));
  }
  ~TLibrary() { Close(); }
  void Close() {
    if (FHandle) dlclose(FHandle);
    FHandle = nullptr;
  }
  bool Ready() const { return FHandle && GetExtensionVersion && HttpExtensionProc && TerminateExtension; }

  PFN_GETEXTENSIONVERSION GetExtensionVersion = nullptr;
  PFN_HTTPEXTENSIONPROC HttpExtensionProc = nullptr;
  PFN_TERMINATEEXTENSION TerminateExtension = nullptr;

 private:
  void* FHandle;
};

// Starts a loaded library and has it serve one browser request through its
// workers.
void ExpectServedByAWorker(TLibrary& Library) {
  ASSERT_TRUE(Library.Ready()) << dlerror();
  StartUp(Library.GetExtensionVersion);
  TFakeIsapiConnection C;
  Browse(C);
  ASSERT_EQ(Library.HttpExtensionProc(C.ECB()), HSE_STATUS_PENDING);
  ASSERT_TRUE(C.WaitDone(10s));
  ExpectPage(C);
}

}  // namespace

TEST(LibraryExports, ExactlyTheThreeEntryPoints) {
  std::unique_ptr<FILE, int (*)(FILE*)> Pipe(
      popen((std::string("nm -D --defined-only ") + TOLVANE_LIBRARY + " 2>&1").c_str(), "r"), pclose);
  ASSERT_TRUE(Pipe);
  std::set<std::string> Names;
  char Line[1024];
  while (fgets(Line, sizeof Line, Pipe.get())) {
    std::string Text(Line);
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) Text.pop_back();
    const std::size_t Space = Text.rfind(' ');
    Names.insert(Space == std::string::npos ? Text : Text.substr(Space + 1));
  }
  EXPECT_EQ(Names, (std::set<std::string>{"GetExtensionVersion", "HttpExtensionProc", "TerminateExtension"}));
}

TEST(LibraryProcess, WorkersStartWithTheFirstRequestAndQueuedRequestsAreServedBeforeTerminate) {
  const std::size_t Before = ThreadCount();
  TLibrary Library;
  ASSERT_TRUE(Library.Ready()) << dlerror();
  HSE_VERSION_INFO Ver = StartUp(Library.GetExtensionVersion);
  EXPECT_EQ(Ver.dwExtensionVersion, 0x00020000u);
  EXPECT_STREQ(Ver.lpszExtensionDesc, "");
  EXPECT_EQ(ThreadCount(), Before);

  std::vector<std::unique_ptr<TFakeIsapiConnection>> Connections;
  for (int I = 0; I < 200; ++I) {
    Connections.push_back(std::make_unique<TFakeIsapiConnection>());
    Browse(*Connections.back());
    ASSERT_EQ(Library.HttpExtensionProc(Connections.back()->ECB()), HSE_STATUS_PENDING);
    if (I == 0) {
      EXPECT_TRUE(AwaitThreadCount(Before + 25)) << ThreadCount();
    }
  }
  EXPECT_EQ(Library.TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
  EXPECT_EQ(ThreadCount(), Before);
  for (auto& C : Connections) {
    EXPECT_EQ(C->DoneCount(), 1);
    ExpectPage(*C);
  }

  // After TerminateExtension: served on the calling thread.
  ExpectServedOnThisThread(Library.HttpExtensionProc);
  EXPECT_EQ(ThreadCount(), Before);
}

TEST(LibraryProcess, UnloadWithoutTerminateStopsTheWorkersAndUnmapsTheLibrary) {
  const std::size_t Before = ThreadCount();
  {
    TLibrary Library;
    ASSERT_TRUE(Library.Ready()) << dlerror();
    StartUp(Library.GetExtensionVersion);
    std::vector<std::unique_ptr<TFakeIsapiConnection>> Connections;
    for (int I = 0; I < 50; ++I) {
      Connections.push_back(std::make_unique<TFakeIsapiConnection>());
      Browse(*Connections.back());
      ASSERT_EQ(Library.HttpExtensionProc(Connections.back()->ECB()), HSE_STATUS_PENDING);
    }
    EXPECT_TRUE(AwaitThreadCount(Before + 25));
    Library.Close();
    EXPECT_FALSE(Loaded(TOLVANE_LIBRARY)) << "dlclose left the library mapped";
    EXPECT_EQ(ThreadCount(), Before);
    for (auto& C : Connections) {
      EXPECT_EQ(C->DoneCount(), 1);
      ExpectPage(*C);
    }
  }
  // And it loads and serves again.
  TLibrary Again;
  ExpectServedByAWorker(Again);
}

// Runs inside a copy of this program named HTTPD.EXE (started by the test
// below); skipped in the ordinary run.
TEST(LibraryProcess, HttpdHostServesOnTheCallingThreadChild) {
  if (!std::getenv("TOLVANE_AS_HTTPD")) GTEST_SKIP() << "runs inside the HTTPD.EXE copy";
  const std::size_t Before = ThreadCount();
  TLibrary Library;
  ASSERT_TRUE(Library.Ready()) << dlerror();
  StartUp(Library.GetExtensionVersion);
  for (int I = 0; I < 3; ++I) ExpectServedOnThisThread(Library.HttpExtensionProc);
  EXPECT_EQ(ThreadCount(), Before);
  EXPECT_EQ(Library.TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_TRUE);
}

TEST(LibraryProcess, ACopyNamedHttpdExeServesDirectly) {
  namespace fs = std::filesystem;
  const TTempFolder Folder("httpd");
  const fs::path& Dir = Folder.Path();
  const fs::path Copy = Dir / "HTTPD.EXE";
  fs::copy_file(fs::read_symlink("/proc/self/exe"), Copy, fs::copy_options::overwrite_existing);
  const std::string Command = "TOLVANE_AS_HTTPD=1 '" + Copy.string() +
                              "' --gtest_filter=LibraryProcess.HttpdHostServesOnTheCallingThreadChild"
                              " --gtest_brief=1 > '" + (Dir / "out.txt").string() + "' 2>&1";
  const int Status = std::system(Command.c_str());
  std::string Output;
  if (FILE* F = fopen((Dir / "out.txt").c_str(), "r")) {
    char Buffer[4096];
    std::size_t N;
    while ((N = fread(Buffer, 1, sizeof Buffer, F)) > 0) Output.append(Buffer, N);
    fclose(F);
  }
  ASSERT_TRUE(WIFEXITED(Status)) << Output;
  EXPECT_EQ(WEXITSTATUS(Status), 0) << Output;
  EXPECT_EQ(Output.find("SKIPPED"), std::string::npos) << Output;
}

// Runs in a child (started by the test below): the host serves a request and
// ends the process without TerminateExtension or dlclose.
TEST(LibraryProcess, ExitWithoutUnloadChild) {
  if (!std::getenv("TOLVANE_EXIT_CHILD")) GTEST_SKIP() << "runs in a child process";
  TLibrary* Library = new TLibrary;  // never closed: the process ends with it loaded
  ASSERT_TRUE(Library->Ready()) << dlerror();
  StartUp(Library->GetExtensionVersion);
  auto* C = new TFakeIsapiConnection;
  Browse(*C);
  ASSERT_EQ(Library->HttpExtensionProc(C->ECB()), HSE_STATUS_PENDING);
  ASSERT_TRUE(C->WaitDone(10s));
  std::exit(C->Written() == kApplicationPage ? 0 : 3);
}

TEST(LibraryProcess, AHostExitingWithTheLibraryLoadedEndsCleanly) {
  const std::string Command = "TOLVANE_EXIT_CHILD=1 '" + std::filesystem::read_symlink("/proc/self/exe").string() +
                              "' --gtest_filter=LibraryProcess.ExitWithoutUnloadChild > /dev/null 2>&1";
  const int Status = std::system(Command.c_str());
  ASSERT_TRUE(WIFEXITED(Status)) << "signal " << (WIFSIGNALED(Status) ? WTERMSIG(Status) : 0);
  EXPECT_EQ(WEXITSTATUS(Status), 0);
}

namespace {

// The effective user id each WriteClient ran under, read on the thread that
// made the call (the kernel keeps it per thread).
std::atomic<long> WriterUid{-1};
PFN_WRITECLIENT FakeWriteClient = nullptr;

BOOL RecordingWriteClient(HCONN ConnID, LPVOID Buffer, LPDWORD Bytes, DWORD Reserved) {
  WriterUid = syscall(SYS_geteuid);
  return FakeWriteClient(ConnID, Buffer, Bytes, Reserved);
}

bool SetThreadUid(long Uid) { return syscall(SYS_setresuid, -1L, Uid, -1L) == 0; }

}  // namespace

TEST(LibraryProcess, TheCallersIdentityIsCarriedToTheWorker) {
  if (geteuid() != 0) GTEST_SKIP() << "changing identities needs root";
  TLibrary Library;
  ASSERT_TRUE(Library.Ready()) << dlerror();
  StartUp(Library.GetExtensionVersion);
  struct TCase {
    long CallerUid;
  } Cases[] = {{4321}, {0}, {9876}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.CallerUid);
    TFakeIsapiConnection C;
    Browse(C);
    FakeWriteClient = C.ECB()->WriteClient;
    C.ECB()->WriteClient = &RecordingWriteClient;
    WriterUid = -1;
    // Only this thread changes: the raw system call, not the process-wide wrapper.
    ASSERT_TRUE(SetThreadUid(Case.CallerUid));
    const DWORD Status = Library.HttpExtensionProc(C.ECB());
    ASSERT_TRUE(SetThreadUid(0));
    ASSERT_EQ(Status, HSE_STATUS_PENDING);
    ASSERT_TRUE(C.WaitDone(10s));
    EXPECT_EQ(WriterUid.load(), Case.CallerUid);
    EXPECT_EQ(C.Written(), kApplicationPage);
  }
  EXPECT_EQ(Library.TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
}

namespace {

// What the process writes to its standard error while this lives.
class TStderrCapture {
 public:
  TStderrCapture() : FFile(std::tmpfile()) {
    std::fflush(stderr);
    FSaved = dup(2);
    dup2(fileno(FFile), 2);
  }
  ~TStderrCapture() {
    Restore();
    std::fclose(FFile);
  }
  std::string Text() {
    Restore();
    std::string Out;
    std::rewind(FFile);
    char Buffer[4096];
    std::size_t N;
    while ((N = std::fread(Buffer, 1, sizeof Buffer, FFile)) > 0) Out.append(Buffer, N);
    return Out;
  }

 private:
  void Restore() {
    if (FSaved < 0) return;
    std::fflush(stderr);
    dup2(FSaved, 2);
    close(FSaved);
    FSaved = -1;
  }
  FILE* FFile;
  int FSaved = -1;
};

// Starts the library and sends it a browser request whose writes the host
// holds: on return a worker is inside that request, half-way through it.
void StartHeldRequest(TLibrary& Library, TFakeIsapiConnection& C) {
  ASSERT_TRUE(Library.Ready()) << dlerror();
  StartUp(Library.GetExtensionVersion);
  Browse(C);
  C.HoldWrites();
  ASSERT_EQ(Library.HttpExtensionProc(C.ECB()), HSE_STATUS_PENDING);
  ASSERT_TRUE(C.AwaitHeldWrite(10s));
}

}  // namespace

// The library below stops its pool after 300 ms instead of two minutes.
TEST(LibraryUnload, AnUnloadThatARequestOutlivesWaitsForItBeforeFreeingWhatItUses) {
  TLibrary Library(TOLVANE_SHORT_WAIT_LIBRARY);
  TFakeIsapiConnection C;
  ASSERT_NO_FATAL_FAILURE(StartHeldRequest(Library, C));

  TStderrCapture Stderr;
  std::atomic<bool> Closed{false};
  std::thread Closer([&] {
    Library.Close();  // no TerminateExtension: the unload itself stops the pool
    Closed = true;
  });
  std::this_thread::sleep_for(1500ms);  // well past the stop wait
  EXPECT_FALSE(Closed) << "the library went away under a request";
  C.ReleaseWrites();
  Closer.join();
  ASSERT_TRUE(C.WaitDone(10s));
  ExpectPage(C);
  EXPECT_FALSE(Loaded(TOLVANE_SHORT_WAIT_LIBRARY)) << "once the request is done the library goes";
  const std::string Said = Stderr.Text();
  EXPECT_NE(Said.find("1 worker thread(s) still inside a request 300 ms after the stop"), std::string::npos) << Said;
  EXPECT_EQ(std::count(Said.begin(), Said.end(), '\n'), 1) << Said;
}

TEST(LibraryUnload, ARequestThatOutlivesTerminateExtensionKeepsTheLibraryLoaded) {
  {
    TLibrary Library(TOLVANE_SHORT_WAIT_LIBRARY);
    TFakeIsapiConnection C;
    ASSERT_NO_FATAL_FAILURE(StartHeldRequest(Library, C));

    TStderrCapture Stderr;
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(Library.TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 5s) << "TerminateExtension waited beyond its stop wait";
    Library.Close();
    EXPECT_TRUE(Loaded(TOLVANE_SHORT_WAIT_LIBRARY)) << "the library went away under a request";
    C.ReleaseWrites();
    ASSERT_TRUE(C.WaitDone(10s));
    ExpectPage(C);
    const std::string Said = Stderr.Text();
    EXPECT_NE(Said.find("still inside a request 300 ms after the stop; the library stays loaded"), std::string::npos)
        << Said;
  }
  // The host may load it again: it is the same, still working library.
  TLibrary Again(TOLVANE_SHORT_WAIT_LIBRARY);
  ASSERT_NO_FATAL_FAILURE(ExpectServedByAWorker(Again));
  EXPECT_EQ(Again.TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
}
