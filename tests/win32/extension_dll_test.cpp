// tolvane.dll loaded the way a Windows web server loads an ISAPI extension:
// LoadLibraryW, the three exported entry points, FreeLibrary. Requests come
// from the fake host; threads are counted from the system's thread list.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <tolvane/isapi/isapi.h>
#include "support/extension_checks.h"
#include "support/fake_isapi_host.h"
#include "support/process_threads.h"
#include "win32_library.h"

using namespace tolvane::testing;
using namespace std::chrono_literals;

namespace {

std::wstring Widen(const std::string& Text) { return std::wstring(Text.begin(), Text.end()); }

const std::wstring kDllName = Widen(TOLVANE_DLL_NAME);

std::wstring DllPath() { return OwnFolder() + kDllName; }

// One load of the extension with its entry points.
class TExtension {
 public:
  explicit TExtension(const std::wstring& Path = DllPath()) : FDll(Path) {
    GetExtensionVersion = reinterpret_cast<PFN_GETEXTENSIONVERSION>(FDll.Symbol("GetExtensionVersion"));
    HttpExtensionProc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(FDll.Symbol("HttpExtensionProc"));
    TerminateExtension = reinterpret_cast<PFN_TERMINATEEXTENSION>(FDll.Symbol("TerminateExtension"));
  }
  bool Ready() const { return GetExtensionVersion && HttpExtensionProc && TerminateExtension; }
  TDll& Dll() { return FDll; }
  void Free() { FDll.Free(); }

  PFN_GETEXTENSIONVERSION GetExtensionVersion;
  PFN_HTTPEXTENSIONPROC HttpExtensionProc;
  PFN_TERMINATEEXTENSION TerminateExtension;

 private:
  TDll FDll;
};

// Queues Count requests from Callers host threads at once; every call must
// answer pending.
std::vector<std::unique_ptr<TFakeIsapiConnection>> QueueRequests(TExtension& Extension, int Callers, int Count) {
  std::vector<std::unique_ptr<TFakeIsapiConnection>> Connections;
  for (int I = 0; I < Callers * Count; ++I) {
    Connections.push_back(std::make_unique<TFakeIsapiConnection>());
    Browse(*Connections.back());
  }
  // The statuses are checked here: an assertion on another thread would
  // start a watcher thread of the test framework's and upset the counts.
  std::vector<DWORD> Statuses(Connections.size());
  {
    std::vector<std::jthread> Hosts;
    for (int Caller = 0; Caller < Callers; ++Caller)
      Hosts.emplace_back([&, Caller] {
        for (int I = Caller * Count; I < (Caller + 1) * Count; ++I)
          Statuses[I] = Extension.HttpExtensionProc(Connections[I]->ECB());
      });
  }
  for (DWORD Status : Statuses) EXPECT_EQ(Status, HSE_STATUS_PENDING);
  return Connections;
}

// Served by a worker, answered with the page, the session ended once.
void ExpectServedByWorker(const TFakeIsapiConnection& C) {
  EXPECT_EQ(C.DoneCount(), 1);
  ExpectPage(C);
  for (const auto& Call : C.Calls()) EXPECT_NE(Call.Thread, std::this_thread::get_id());
}

// Runs this program again as a child, for the one test named, with the
// variable that lets that test run set; answers what it wrote.
std::string RunChild(const std::wstring& Program, const std::wstring& Test, const std::wstring& Variable) {
  const TProgramRun Run = RunProgram(Program, L"--gtest_filter=ExtensionDll." + Test, Variable);
  EXPECT_EQ(Run.ExitCode, 0u) << Run.Output;
  return Run.Output;
}

}  // namespace

TEST(ExtensionDll, ExportsExactlyTheEntryPointsAndCarriesItsResources) {
  TExtension Extension;
  ASSERT_TRUE(Extension.Dll().Loaded()) << "LoadLibraryW failed with " << Extension.Dll().LoadError();
  std::vector<std::string> Names = Extension.Dll().ExportedNames();
  std::sort(Names.begin(), Names.end());
  EXPECT_EQ(Names, (std::vector<std::string>{"GetExtensionVersion", "HttpExtensionProc", "TerminateExtension"}));

  // The stored module definition, byte for byte the one compiled for the POSIX build.
  std::ifstream File(TOLVANE_DEFINITION_FILE, std::ios::binary);
  ASSERT_TRUE(File) << "cannot read " << TOLVANE_DEFINITION_FILE;
  const std::string Definition((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
  ASSERT_EQ(Definition.size(), 159u);
  EXPECT_EQ(Extension.Dll().RCData(L"TWEBMODULE1"), Definition);
  EXPECT_EQ(Extension.Dll().RCData(L"twebmodule1"), Definition) << "resource names ignore case";

  const std::optional<TVersionInfo> Version = ReadVersionInfo(DllPath());
  ASSERT_TRUE(Version) << "no version resource";
  EXPECT_EQ(Version->FileVersionMS, 0x00010000u);
  EXPECT_EQ(Version->FileVersionLS, 0u);
  EXPECT_EQ(Version->ProductVersionMS, 0x00010000u);
  EXPECT_EQ(Version->ProductVersionLS, 0u);
  EXPECT_EQ(Version->Translations, (std::vector<std::pair<std::uint16_t, std::uint16_t>>{{0x0409, 0x04E4}}));
  EXPECT_EQ(Version->FileVersion, "1.0.0.0");
  EXPECT_EQ(Version->ProductVersion, "1.0.0.0");
}

TEST(ExtensionDll, TheFirstRequestStartsTheWorkersAndTerminateStopsThemAfterTheQueue) {
  const std::size_t Before = ThreadCount();
  TExtension Extension;
  ASSERT_TRUE(Extension.Ready()) << "LoadLibraryW failed with " << Extension.Dll().LoadError();
  const HSE_VERSION_INFO Ver = StartUp(Extension.GetExtensionVersion);
  EXPECT_EQ(Ver.dwExtensionVersion, 0x00020000u);
  EXPECT_STREQ(Ver.lpszExtensionDesc, "");
  EXPECT_EQ(ThreadCount(), Before) << "GetExtensionVersion alone must start no thread";

  TFakeIsapiConnection First;
  Browse(First);
  ASSERT_EQ(Extension.HttpExtensionProc(First.ECB()), HSE_STATUS_PENDING);
  ASSERT_TRUE(First.WaitDone(20s));
  ExpectServedByWorker(First);
  EXPECT_TRUE(AwaitThreadCount(Before + 25)) << ThreadCount() - Before << " workers";

  // Four host threads at once; TerminateExtension serves what is queued first.
  auto Connections = QueueRequests(Extension, 4, 50);
  EXPECT_EQ(ThreadCount(), Before + 25) << "later requests must reuse the workers";
  EXPECT_EQ(Extension.TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
  EXPECT_TRUE(AwaitThreadCount(Before)) << ThreadCount() - Before << " threads left";
  for (const auto& C : Connections) ExpectServedByWorker(*C);

  // Without a pool the request is served on the calling thread.
  ExpectServedOnThisThread(Extension.HttpExtensionProc);
  EXPECT_EQ(Extension.TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_TRUE);
}

TEST(ExtensionDll, FreeLibraryWithoutTerminateStopsTheWorkersAndTheDllLoadsAgain) {
  const std::size_t Before = ThreadCount();
  {
    TExtension Extension;
    ASSERT_TRUE(Extension.Ready()) << "LoadLibraryW failed with " << Extension.Dll().LoadError();
    StartUp(Extension.GetExtensionVersion);
    auto Connections = QueueRequests(Extension, 2, 25);
    EXPECT_TRUE(AwaitThreadCount(Before + 25));
    // The unload runs under the loader lock: it must neither hang nor leave
    // a worker running code that is no longer mapped.
    Extension.Free();
    EXPECT_FALSE(ModuleLoaded(kDllName)) << "FreeLibrary left the DLL loaded";
    // They finish exiting once the loader has let go.
    EXPECT_TRUE(AwaitThreadCount(Before)) << ThreadCount() - Before << " workers outlived the unload";
    for (const auto& C : Connections) ExpectServedByWorker(*C);
  }
  // Loaded again, and freed straight after the first request, while the
  // workers have only just started. (No SCOPED_TRACE: it starts a watcher
  // thread of the test framework's, which would upset the counts.)
  for (int Round = 0; Round < 5; ++Round) {
    TExtension Again;
    ASSERT_TRUE(Again.Ready());
    StartUp(Again.GetExtensionVersion);
    TFakeIsapiConnection C;
    Browse(C);
    ASSERT_EQ(Again.HttpExtensionProc(C.ECB()), HSE_STATUS_PENDING);
    Again.Free();
    ExpectServedByWorker(C);
    EXPECT_TRUE(AwaitThreadCount(Before)) << ThreadCount() - Before << " workers outlived unload " << Round;
  }
}

// Runs inside a copy of this program named HTTPD.EXE (started by the test
// below): such a host gets no pool.
TEST(ExtensionDll, AnHttpdHostIsServedOnItsCallingThreadsChild) {
  if (!std::getenv("TOLVANE_AS_HTTPD")) GTEST_SKIP() << "runs inside the HTTPD.EXE copy";
  const std::size_t Before = ThreadCount();
  TExtension Extension;
  ASSERT_TRUE(Extension.Ready()) << "LoadLibraryW failed with " << Extension.Dll().LoadError();
  StartUp(Extension.GetExtensionVersion);
  for (int I = 0; I < 3; ++I) ExpectServedOnThisThread(Extension.HttpExtensionProc);
  EXPECT_EQ(ThreadCount(), Before);
  EXPECT_EQ(Extension.TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
}

TEST(ExtensionDll, AnHttpdHostIsServedOnItsCallingThreads) {
  // Beside the DLL, so the copy finds it; the host check reads only the
  // last component of the program's name, in any letter case.
  const std::wstring Copy = OwnFolder() + L"HTTPD.EXE";
  ASSERT_TRUE(CopyFileTo(OwnFileName(), Copy));
  const std::string Output = RunChild(Copy, L"AnHttpdHostIsServedOnItsCallingThreadsChild", L"TOLVANE_AS_HTTPD");
  EXPECT_NE(Output.find("[  PASSED  ] 1 test."), std::string::npos) << Output;
  std::remove(std::string(Copy.begin(), Copy.end()).c_str());
}

// Runs in a child (started by the test below): the host serves a request and
// ends the process with the DLL loaded and its workers running.
TEST(ExtensionDll, AHostEndingWithTheDllLoadedExitsCleanlyChild) {
  if (!std::getenv("TOLVANE_EXIT_CHILD")) GTEST_SKIP() << "runs in a child process";
  auto* Extension = new TExtension;  // never freed: the process ends with it loaded
  ASSERT_TRUE(Extension->Ready());
  StartUp(Extension->GetExtensionVersion);
  auto* C = new TFakeIsapiConnection;
  Browse(*C);
  ASSERT_EQ(Extension->HttpExtensionProc(C->ECB()), HSE_STATUS_PENDING);
  ASSERT_TRUE(C->WaitDone(20s));
  if (C->Written() == kApplicationPage) std::printf("served the page\n");
  std::fflush(stdout);
  std::exit(0);
}

TEST(ExtensionDll, AHostEndingWithTheDllLoadedExitsCleanly) {
  const std::string Output = RunChild(OwnFileName(), L"AHostEndingWithTheDllLoadedExitsCleanlyChild", L"TOLVANE_EXIT_CHILD");
  EXPECT_NE(Output.find("served the page"), std::string::npos) << Output;
}

// The DLL below stops its pool after 300 ms instead of two minutes.
const std::wstring kShortWaitDllName = Widen(TOLVANE_SHORT_WAIT_DLL_NAME);

// Starts the extension and sends it a browser request whose writes the host
// holds: on return a worker is inside that request, half-way through it.
void StartHeldRequest(TExtension& Extension, TFakeIsapiConnection& C) {
  ASSERT_TRUE(Extension.Ready()) << "LoadLibraryW failed with " << Extension.Dll().LoadError();
  StartUp(Extension.GetExtensionVersion);
  Browse(C);
  C.HoldWrites();
  ASSERT_EQ(Extension.HttpExtensionProc(C.ECB()), HSE_STATUS_PENDING);
  ASSERT_TRUE(C.AwaitHeldWrite(20s));
}

TEST(ExtensionDll, AnUnloadThatARequestOutlivesWaitsForItBeforeFreeingWhatItUses) {
  TExtension Extension(OwnFolder() + kShortWaitDllName);
  TFakeIsapiConnection C;
  ASSERT_NO_FATAL_FAILURE(StartHeldRequest(Extension, C));
  std::atomic<bool> Freed{false};
  std::thread Unloader([&] {
    Extension.Free();  // no TerminateExtension: the unload itself stops the pool
    Freed = true;
  });
  std::this_thread::sleep_for(1500ms);  // well past the stop wait
  EXPECT_FALSE(Freed) << "the DLL went away under a request";
  C.ReleaseWrites();
  Unloader.join();
  ASSERT_TRUE(C.WaitDone(20s));
  ExpectPage(C);
  EXPECT_FALSE(ModuleLoaded(kShortWaitDllName)) << "once the request is done the DLL goes";
}

TEST(ExtensionDll, ARequestThatOutlivesTerminateExtensionKeepsTheDllLoaded) {
  {
    TExtension Extension(OwnFolder() + kShortWaitDllName);
    TFakeIsapiConnection C;
    ASSERT_NO_FATAL_FAILURE(StartHeldRequest(Extension, C));
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_EQ(Extension.TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 10s) << "TerminateExtension waited beyond its stop wait";
    Extension.Free();
    EXPECT_TRUE(ModuleLoaded(kShortWaitDllName)) << "the DLL went away under a request";
    C.ReleaseWrites();
    ASSERT_TRUE(C.WaitDone(20s));
    ExpectPage(C);
  }
  // The host may load it again: the same, still working DLL.
  TExtension Again(OwnFolder() + kShortWaitDllName);
  ASSERT_TRUE(Again.Ready());
  StartUp(Again.GetExtensionVersion);
  TFakeIsapiConnection C;
  Browse(C);
  ASSERT_EQ(Again.HttpExtensionProc(C.ECB()), HSE_STATUS_PENDING);
  ASSERT_TRUE(C.WaitDone(20s));
  ExpectPage(C);
  EXPECT_EQ(Again.TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
}
