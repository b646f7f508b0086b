#include <tolvane/webapp/web_application.h>

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <vector>

#include "pool_fixtures.h"
#include <tolvane/platform/rw_lock.h>
#include <tolvane/runtime/application_hook.h>

namespace tolvane::test {
namespace {

// Freeing it raises what the test chooses, once.
class TRaisingApplication : public TWebApplication {
 public:
  using TWebApplication::TWebApplication;
  enum TRaise { rsNothing, rsException, rsOther };
  void BeforeDestruction() override {
    TWebApplication::BeforeDestruction();
    if (Raise == rsException) throw EConvertError(u"cannot stop");
    if (Raise == rsOther) throw std::runtime_error("not ours");
  }
  TRaise Raise = rsNothing;
};

// A module whose destruction fails once it has begun (under the name-space lock).
class TStubbornModule : public TDataModule {
  TV_DECLARE_CLASS(TStubbornModule)
 public:
  explicit TStubbornModule(TComponent* AOwner) : TDataModule(AOwner) { ++Live; }
  ~TStubbornModule() override { --Live; }
  void BeforeDestruction() override {
    TDataModule::BeforeDestruction();
    throw EConvertError(u"module cannot stop");
  }
  static inline int Live = 0;
};
TV_DEFINE_CLASS(TStubbornModule, TDataModule, CreateComponent<TStubbornModule>);

std::vector<int> PreviousCalls;
void PreviousDllProc(int Reason) { PreviousCalls.push_back(Reason); }

std::vector<String> ShutdownCalls;
bool HookSetDuringShutdown = false;
bool ApplicationSetDuringShutdown = false;
void RecordShutdown(const Exception& E) {
  ShutdownCalls.push_back(E.ClassName() + u": " + E.Message());
  HookSetDuringShutdown = bool(ApplicationHandleException);
  ApplicationSetDuringShutdown = Application != nullptr;
}

int InitCalls = 0;
void CountInit() { ++InitCalls; }

// Saves and restores the process-wide variables the application object writes.
class WebApplication : public ::testing::Test {
 protected:
  WebApplication() {
    DllProc = &PreviousDllProc;
    PreviousCalls.clear();
    ShutdownCalls.clear();
    InitCalls = 0;
  }
  ~WebApplication() override {
    if (Application) Application->Free();
    Application = nullptr;
    DllProc = nullptr;
    OldDllProc = nullptr;
    InitProc = nullptr;
    HandleShutdownException = nullptr;
    WebRequestHandlerProc = nullptr;
    ApplicationHandleException = TNotifyEvent();
  }
};

TEST_F(WebApplication, CreatingItInstallsItsHooksAndDestroyingItClearsTheExceptionHook) {
  auto* app = NewComponent<TWebApplication>(nullptr);
  EXPECT_EQ(WebRequestHandlerProc, &WebRequestHandler);
  EXPECT_EQ(ApplicationHandleException.Data(), app);
  EXPECT_EQ(DllProc, &DLLExitProc);
  EXPECT_EQ(OldDllProc, &PreviousDllProc);
  EXPECT_EQ(app->MaxConnections(), 32);
  EXPECT_TRUE(app->CacheConnections());
  EXPECT_EQ(app->Title(), u"");
  Application = app;
  EXPECT_EQ(WebRequestHandler(), app);
  app->Free();
  Application = nullptr;
  EXPECT_FALSE(ApplicationHandleException);
  // The unload wiring stays: the unload callback still runs, finding nothing.
  EXPECT_EQ(DllProc, &DLLExitProc);
  EXPECT_EQ(WebRequestHandler(), nullptr);
}

TEST_F(WebApplication, CreateFormNamesOneModuleClassOnly) {
  auto* app = NewComponent<TWebApplication>(nullptr);
  Application = app;
  TComponent* reference = nullptr;
  app->CreateForm(TPoolTestModule::StaticClass(), reference);
  app->CreateForm(TPoolTestModule::StaticClass(), reference);
  EXPECT_EQ(app->WebModuleClass(), TPoolTestModule::StaticClass());
  EXPECT_EQ(reference, nullptr);
  EXPECT_EQ(TPoolTestModule::Live, 0);
  try {
    app->CreateForm(TPlainModule::StaticClass(), reference);
    ADD_FAILURE() << "a second class was accepted";
  } catch (const Exception& E) {
    EXPECT_EQ(E.ClassType(), Exception::StaticClass());
    EXPECT_EQ(E.Message(), u"Only one data module per application");
  }
  EXPECT_EQ(app->WebModuleClass(), TPoolTestModule::StaticClass());
  // The property itself checks nothing.
  app->SetWebModuleClass(TPlainModule::StaticClass());
  EXPECT_EQ(app->WebModuleClass(), TPlainModule::StaticClass());
}

TEST_F(WebApplication, InitializeCallsTheInitializationHookWhenSetAndRunDoesNothing) {
  auto* app = NewComponent<TWebApplication>(nullptr);
  Application = app;
  app->Initialize();
  InitProc = &CountInit;
  app->Initialize();
  app->Run();
  EXPECT_EQ(InitCalls, 1);
  EXPECT_EQ(app->ActiveCount() + app->InactiveCount(), 0);
}

TEST_F(WebApplication, ServesRequestsAndUnloadingFreesEverything) {
  auto* app = NewComponent<TWebApplication>(nullptr);
  Application = app;
  TComponent* reference = nullptr;
  app->CreateForm(TPoolTestModule::StaticClass(), reference);
  TExchange ok = MakeExchange("GET", "/");
  EXPECT_TRUE(WebRequestHandler()->HandleRequest(ok.Request.get(), ok.Response.get()));
  EXPECT_EQ(ok.Response->SentContent, PoolTestPage);
  // The application's own hook hands an action's exception to the dispatcher.
  TExchange failed = MakeExchange("GET", "/fail");
  EXPECT_FALSE(app->HandleRequest(failed.Request.get(), failed.Response.get()));
  EXPECT_EQ(failed.Response->StatusCode(), 500);
  EXPECT_EQ(TPoolTestModule::Live, 1);
  DLLExitProc(kDllProcessDetach);
  EXPECT_EQ(Application, nullptr);
  EXPECT_EQ(TPoolTestModule::Live, 0);
  EXPECT_FALSE(ApplicationHandleException);
}

TEST_F(WebApplication, OnlyProcessDetachFreesTheApplicationAndEveryReasonIsPassedOn) {
  struct {
    int Reason;
    bool Freed;
  } cases[] = {{kDllThreadAttach, false}, {kDllThreadDetach, false}, {kDllProcessDetach, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Reason);
    if (!Application) Application = NewComponent<TWebApplication>(nullptr);
    PreviousCalls.clear();
    DLLExitProc(c.Reason);
    EXPECT_EQ(Application == nullptr, c.Freed);
    EXPECT_EQ(PreviousCalls, std::vector<int>{c.Reason});
  }
  // Without a previous callback nothing else is called.
  OldDllProc = nullptr;
  PreviousCalls.clear();
  DLLExitProc(kDllProcessDetach);
  EXPECT_TRUE(PreviousCalls.empty());
}

TEST_F(WebApplication, AnExceptionWhileFreeingAtUnloadIsReportedOrDroppedAndTheObjectIsGone) {
  struct {
    const char* Name;
    TRaisingApplication::TRaise Raise;
    bool Reporter;
    bool Leaves;
    size_t Reports;
  } cases[] = {
      {"nothing raised", TRaisingApplication::rsNothing, true, false, 0},
      {"reported", TRaisingApplication::rsException, true, false, 1},
      {"dropped", TRaisingApplication::rsException, false, false, 0},
      {"not an Exception", TRaisingApplication::rsOther, true, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ShutdownCalls.clear();
    auto* app = NewComponent<TRaisingApplication>(nullptr);
    app->SetWebModuleClass(TPoolTestModule::StaticClass());
    TExchange e = MakeExchange("GET", "/");
    EXPECT_TRUE(app->HandleRequest(e.Request.get(), e.Response.get()));
    app->Raise = c.Raise;
    Application = app;
    HandleShutdownException = c.Reporter ? &RecordShutdown : nullptr;
    bool left = false;
    try {
      DoneLumoApplication();
    } catch (const std::runtime_error&) {
      left = true;
    }
    EXPECT_EQ(left, c.Leaves);
    EXPECT_EQ(Application, nullptr);
    EXPECT_EQ(TPoolTestModule::Live, 0);
    ASSERT_EQ(ShutdownCalls.size(), c.Reports);
    if (c.Reports) {
      EXPECT_EQ(ShutdownCalls[0], u"EConvertError: cannot stop");
      EXPECT_FALSE(HookSetDuringShutdown);
      EXPECT_FALSE(ApplicationSetDuringShutdown);
    }
  }
}

TEST_F(WebApplication, ASecondApplicationObjectChainsToTheCallbackBeforeTheFirst) {
  auto* first = NewComponent<TWebApplication>(nullptr);
  auto* second = NewComponent<TWebApplication>(nullptr);
  EXPECT_EQ(DllProc, &DLLExitProc);
  // Chaining to DLLExitProc itself would recurse without end.
  ASSERT_EQ(OldDllProc, &PreviousDllProc);
  first->Free();
  // The first one's going leaves the second one's hook alone.
  EXPECT_EQ(ApplicationHandleException.Data(), second);
  Application = second;
  DLLExitProc(kDllThreadAttach);
  DLLExitProc(kDllProcessDetach);
  EXPECT_EQ(Application, nullptr);
  EXPECT_EQ(PreviousCalls, (std::vector<int>{kDllThreadAttach, kDllProcessDetach}));
}

// Modules that fail to stop, idle and serving, do not stop the unload: every
// module goes, the name-space lock is free again, and the first failure is
// reported.
TEST_F(WebApplication, AModuleFailingToStopAtUnloadIsReportedAndEverythingIsFreed) {
  auto* app = NewComponent<TWebApplication>(nullptr);
  app->AddWebModuleFactory(std::make_unique<TTestFactory>(TStubbornModule::StaticClass(), u"Stubborn", crAlways));
  TWebModuleList* idle = app->ActivateWebModules();
  TWebModuleList* serving = app->ActivateWebModules();
  idle->AutoCreateModules();
  serving->AutoCreateModules();
  app->DeactivateWebModules(idle);
  ASSERT_EQ(TStubbornModule::Live, 2);
  Application = app;
  HandleShutdownException = &RecordShutdown;
  DLLExitProc(kDllProcessDetach);
  EXPECT_EQ(Application, nullptr);
  EXPECT_EQ(TStubbornModule::Live, 0);
  EXPECT_EQ(ShutdownCalls, std::vector<String>{u"EConvertError: module cannot stop"});
  EXPECT_EQ(PreviousCalls, std::vector<int>{kDllProcessDetach});
  ASSERT_FALSE(GlobalNameSpace().WrittenByMe());
  // Another thread can build a module again.
  auto other = std::async(std::launch::async, [] {
    platform::TWriteLock nameSpace(GlobalNameSpace());
    return true;
  });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

}  // namespace
}  // namespace tolvane::test
