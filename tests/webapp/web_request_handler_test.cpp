#include <tolvane/webapp/web_request_handler.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <tolvane/platform/resource.h>
#include <tolvane/platform/rw_lock.h>
#include "pool_fixtures.h"
#include <tolvane/runtime/application_hook.h>

namespace tolvane::test {
namespace {

const char16_t* const TooMany = u"Maximum number of concurrent connections exceeded.  Please try again later";

// Records each call of the process-wide exception hook: the sender and the
// current exception's message. With Rethrow it raises the exception again,
// as the host's hook does for an exception no dispatcher handled.
class THookLog : public TObject {
 public:
  explicit THookLog(bool ARethrow = false) : Rethrow(ARethrow) {
    ApplicationHandleException = TNotifyEvent::Of<&THookLog::Hook>(this);
  }
  ~THookLog() override { ApplicationHandleException = TNotifyEvent(); }
  void Hook(TObject* Sender) {
    Senders.push_back(Sender);
    try {
      throw;
    } catch (const Exception& E) {
      Messages.push_back(E.Message());
    } catch (...) {
      Messages.push_back(u"?");
    }
    if (Rethrow) throw;
  }
  bool Rethrow;
  std::vector<TObject*> Senders;
  std::vector<String> Messages;
};

// Installs the handler's own hook while it lives.
class THandlerHook {
 public:
  explicit THandlerHook(TWebRequestHandler& H) {
    ApplicationHandleException = TNotifyEvent::Of<&TWebRequestHandler::HandleException>(&H);
  }
  ~THandlerHook() { ApplicationHandleException = TNotifyEvent(); }
};

String ThrownMessage(const std::function<void()>& Call) {
  try {
    Call();
  } catch (const ECorvelException& E) {
    return u"ECorvelException: " + E.Message();
  } catch (const Exception& E) {
    return E.ClassName() + u": " + E.Message();
  }
  return u"(nothing raised)";
}

class RequestHandler : public ::testing::Test {
 protected:
  RequestHandler() : Handler(NewComponent<TWebRequestHandler>(nullptr)) {}
  ~RequestHandler() override { Handler.reset(); }

  // A handler for the pool test module through the default factory.
  void UsePoolModule() { Handler->SetWebModuleClass(TPoolTestModule::StaticClass()); }
  TTestFactory* AddFactory(TClass AClass, TWebModuleCreateMode ACreate, TWebModuleCacheMode ACache) {
    auto f = std::make_unique<TTestFactory>(AClass, String(AClass->Name).substr(1), ACreate, ACache);
    TTestFactory* result = f.get();
    Handler->AddWebModuleFactory(std::move(f));
    return result;
  }
  bool Serve(const AnsiString& Path, testing::TTestWebResponse** Out = nullptr) {
    Last = MakeExchange("GET", Path);
    if (Out) *Out = Last.Response.get();
    return Handler->HandleRequest(Last.Request.get(), Last.Response.get());
  }
  // Runs one request per path on threads of their own; they wait at the gate.
  void StartHeld(int Count) {
    for (int i = 0; i < Count; ++i)
      Threads.emplace_back([this] {
        TExchange e = MakeExchange("GET", "/hold");
        bool handled = Handler->HandleRequest(e.Request.get(), e.Response.get());
        if (handled && e.Response->SentContent == PoolTestPage) ++HeldServed;
      });
    HoldGate().AwaitArrivals(Count);
  }
  void JoinHeld() {
    HoldGate().Release();
    for (std::thread& t : Threads) t.join();
    Threads.clear();
  }

  TComponentPtr<TWebRequestHandler> Handler;
  TExchange Last;
  std::vector<std::thread> Threads;
  std::atomic<int> HeldServed{0};
};

TEST(RequestHandlerResource, TheTestResourceHoldsTheTestDefinition) {
  auto data = platform::FindRCData(u"TPoolTestModule");
  ASSERT_TRUE(data);
  EXPECT_EQ(std::vector<std::uint8_t>(data->begin(), data->end()), PoolTestModuleDefinition());
}

TEST_F(RequestHandler, AnswersEveryMethodAndPathWithThePageFromOneReusedModule) {
  UsePoolModule();
  EXPECT_EQ(Handler->WebModuleFactoryCount(), 0);
  struct {
    AnsiString Method, Path;
  } cases[] = {{"GET", "/"}, {"POST", "/a/longer/path"}, {"HEAD", ""}, {"PUT", "/x"}};
  int served = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Method + " " + c.Path);
    TExchange e = MakeExchange(c.Method, c.Path);
    EXPECT_TRUE(Handler->HandleRequest(e.Request.get(), e.Response.get()));
    EXPECT_EQ(e.Response->SendCount, 1);
    EXPECT_EQ(e.Response->StatusCode(), 200);
    EXPECT_EQ(e.Response->SentContent, PoolTestPage);
    ++served;
    EXPECT_EQ(Handler->WebModuleFactoryCount(), 1);
    EXPECT_EQ(Handler->ActiveCount(), 0);
    EXPECT_EQ(Handler->InactiveCount(), 1);
    EXPECT_EQ(TPoolTestModule::Live, 1);
  }
  // The same module served every request: its field kept the count.
  TWebModuleList* set = Handler->ActivateWebModules();
  ASSERT_EQ(set->GetItemCount(), 1);
  auto* module = dynamic_cast<TPoolTestModule*>(set->GetItem(0));
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->Hits, served);
  EXPECT_EQ(module->Name(), u"PoolTestModule");
  Handler->DeactivateWebModules(set);
}

TEST_F(RequestHandler, WithoutCachingEveryRequestBuildsAndFreesItsModule) {
  UsePoolModule();
  Handler->SetCacheConnections(false);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(Serve("/"));
    EXPECT_EQ(Last.Response->SentContent, PoolTestPage);
    EXPECT_EQ(TPoolTestModule::Live, 0);
    EXPECT_EQ(Handler->InactiveCount(), 0);
    EXPECT_EQ(Handler->ActiveCount(), 0);
  }
}

TEST_F(RequestHandler, TwoConcurrentRequestsAreServedByTwoSetsThenBothKept) {
  UsePoolModule();
  TGateScope gate;
  StartHeld(2);
  EXPECT_EQ(Handler->ActiveCount(), 2);
  EXPECT_EQ(TPoolTestModule::Live, 2);
  JoinHeld();
  EXPECT_EQ(HeldServed, 2);
  EXPECT_EQ(Handler->ActiveCount(), 0);
  EXPECT_EQ(Handler->InactiveCount(), 2);
}

TEST_F(RequestHandler, SwitchingCachingOffFreesIdleSetsAtOnceAndActiveOnesOnReturn) {
  UsePoolModule();
  {
    TGateScope gate;
    StartHeld(2);
    JoinHeld();
  }
  ASSERT_EQ(Handler->InactiveCount(), 2);
  {
    TGateScope gate;
    StartHeld(1);
    Handler->SetCacheConnections(false);
    EXPECT_EQ(Handler->InactiveCount(), 0);
    EXPECT_EQ(Handler->ActiveCount(), 1);
    EXPECT_EQ(TPoolTestModule::Live, 1);
    JoinHeld();
  }
  EXPECT_EQ(HeldServed, 3);
  EXPECT_EQ(TPoolTestModule::Live, 0);
  EXPECT_EQ(Handler->InactiveCount(), 0);
  // Back on: nothing is freed, and sets are kept again.
  Handler->SetCacheConnections(true);
  EXPECT_TRUE(Serve("/"));
  Handler->SetCacheConnections(true);
  EXPECT_EQ(Handler->InactiveCount(), 1);
  EXPECT_EQ(TPoolTestModule::Live, 1);
}

TEST_F(RequestHandler, TheSetReturnedFirstIsHandedOutFirst) {
  UsePoolModule();
  TWebModuleList* a = Handler->ActivateWebModules();
  TWebModuleList* b = Handler->ActivateWebModules();
  ASSERT_NE(a, b);
  a->AutoCreateModules();
  b->AutoCreateModules();
  Handler->DeactivateWebModules(b);
  Handler->DeactivateWebModules(a);
  EXPECT_EQ(Handler->ActivateWebModules(), b);
  EXPECT_EQ(Handler->ActivateWebModules(), a);
  EXPECT_EQ(Handler->ActiveCount(), 2);
  EXPECT_EQ(Handler->InactiveCount(), 0);
}

TEST_F(RequestHandler, TheConnectionLimitRefusesOneMoreRequestWhileTheOthersAreHeld) {
  UsePoolModule();
  struct {
    int Limit;
    int Held;
    bool Refused;
  } cases[] = {{TWebRequestHandler::DefaultMaxConnections, 32, true}, {3, 3, true}, {0, 40, false}, {-1, 40, false}};
  EXPECT_EQ(Handler->MaxConnections(), 32);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Limit);
    Handler->SetMaxConnections(c.Limit);
    HeldServed = 0;
    TGateScope gate;
    StartHeld(c.Held);
    int idleBefore = Handler->InactiveCount();
    if (c.Refused) {
      EXPECT_EQ(ThrownMessage([&] { Serve("/"); }), String(u"ECorvelException: ") + TooMany);
      EXPECT_EQ(Last.Response->SendCount, 0);
      // The pools are as they were.
      EXPECT_EQ(Handler->InactiveCount(), idleBefore);
    } else {
      EXPECT_TRUE(Serve("/"));
    }
    EXPECT_EQ(Handler->ActiveCount(), c.Held);
    JoinHeld();
    EXPECT_EQ(HeldServed, c.Held);
    // Once the held requests are done, the next one is served again.
    EXPECT_TRUE(Serve("/"));
  }
}

TEST_F(RequestHandler, FailuresBeforeDispatchLeaveUnchangedWithoutTheHookAndKeepNothing) {
  struct {
    const char* Name;
    TClass ModuleClass;  // for the default factory
    TClass FactoryClass;  // for a registered factory, made when asked only
    String Raised;
  } cases[] = {
      {"no factory, no class", nullptr, nullptr, u"ECorvelException: No data modules registered"},
      {"no module made", nullptr, TPoolTestModule::StaticClass(),
       u"ECorvelException: No automatically activated data modules"},
      {"module fails after its definition", TPoolFailingModule::StaticClass(), nullptr, u"Exception: module failed"},
      {"module fails in its constructor", TBrokenModule::StaticClass(), nullptr, u"EComponentError: Broken on purpose"},
      {"not a component class", TWebModuleFactoryList::StaticClass(), nullptr,
       u"EComponentError: Cannot create a module of class TWebModuleFactoryList"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Handler.reset(NewComponent<TWebRequestHandler>(nullptr));
    Handler->SetWebModuleClass(c.ModuleClass);
    if (c.FactoryClass) AddFactory(c.FactoryClass, crOnDemand, caCache);
    THookLog hook;
    EXPECT_EQ(ThrownMessage([&] { Serve("/"); }), c.Raised);
    EXPECT_TRUE(hook.Senders.empty());
    EXPECT_EQ(Handler->ActiveCount(), 0);
    EXPECT_EQ(Handler->InactiveCount(), 0);
    EXPECT_EQ(TPoolTestModule::Live, 0);
    EXPECT_EQ(Last.Response->SendCount, 0);
  }
}

TEST_F(RequestHandler, ADestroyModeFactoryHasItsModuleFreedAfterEveryRequest) {
  TTestFactory* destroyed = AddFactory(TPoolTestModule::StaticClass(), crAlways, caDestroy);
  EXPECT_TRUE(Serve("/"));
  EXPECT_EQ(Last.Response->SentContent, PoolTestPage);
  // The set is left empty, so it is freed rather than kept.
  EXPECT_EQ(TPoolTestModule::Live, 0);
  EXPECT_EQ(Handler->InactiveCount(), 0);

  // Beside a kept module, the set is kept and the other module made anew.
  TTestFactory* kept = AddFactory(TPlainModule::StaticClass(), crAlways, caCache);
  EXPECT_TRUE(Serve("/"));
  EXPECT_TRUE(Serve("/"));
  EXPECT_EQ(Last.Response->SentContent, PoolTestPage);
  EXPECT_EQ(destroyed->Made, 3);
  EXPECT_EQ(kept->Made, 1);
  EXPECT_EQ(TPoolTestModule::Live, 0);
  EXPECT_EQ(TPlainModule::Live, 1);
  EXPECT_EQ(Handler->InactiveCount(), 1);
}

TEST_F(RequestHandler, DestroyingTheHandlerFreesEverySetModuleAndFactory) {
  bool factoryGone = false;
  AddFactory(TPoolTestModule::StaticClass(), crAlways, caCache)->Destroyed = &factoryGone;
  {
    TGateScope gate;
    StartHeld(2);
    JoinHeld();
  }
  EXPECT_TRUE(Serve("/"));
  EXPECT_EQ(TPoolTestModule::Live, 2);
  Handler.reset();
  EXPECT_EQ(TPoolTestModule::Live, 0);
  EXPECT_TRUE(factoryGone);
}

TEST_F(RequestHandler, FreeModulesEmptiesBothPools) {
  UsePoolModule();
  TWebModuleList* active = Handler->ActivateWebModules();
  active->AutoCreateModules();
  EXPECT_TRUE(Serve("/"));
  ASSERT_EQ(TPoolTestModule::Live, 2);
  Handler->FreeModules();
  EXPECT_EQ(Handler->ActiveCount(), 0);
  EXPECT_EQ(Handler->InactiveCount(), 0);
  EXPECT_EQ(TPoolTestModule::Live, 0);
}

TEST_F(RequestHandler, AnExceptionInAnActionEndsInTheDispatchersErrorPage) {
  UsePoolModule();
  THandlerHook hook(*Handler);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Serve("/fail"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(Last.Response->SendCount, 1);
  EXPECT_EQ(Last.Response->StatusCode(), 500);
  EXPECT_NE(Last.Response->SentContent.find("Internal Application Error"), AnsiString::npos);
  EXPECT_NE(Last.Response->SentContent.find("action failed"), AnsiString::npos);
  // The set is given back and serves the next request.
  EXPECT_TRUE(Serve("/"));
  EXPECT_EQ(Handler->InactiveCount(), 1);
  EXPECT_EQ(TPoolTestModule::Live, 1);
}

TEST_F(RequestHandler, WithoutADispatcherTheHandlersHookReportsAndTheRequestIsUnhandled) {
  AddFactory(TPlainModule::StaticClass(), crAlways, caCache);
  THandlerHook hook(*Handler);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Serve("/"));
  std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("Exception ECorvelException in module "), std::string::npos) << report;
  EXPECT_NE(report.find("No dispatcher component found on data module.\r\n"), std::string::npos) << report;
  EXPECT_EQ(Last.Response->SendCount, 0);
  EXPECT_EQ(Handler->InactiveCount(), 1);
}

TEST_F(RequestHandler, AHookThatRaisesAgainSeesTheExceptionInBothGuardsThenItLeaves) {
  AddFactory(TPlainModule::StaticClass(), crAlways, caCache);
  THookLog hook(/*Rethrow=*/true);
  EXPECT_EQ(ThrownMessage([&] { Serve("/"); }), u"ECorvelException: No dispatcher component found on data module");
  EXPECT_EQ(hook.Senders, (std::vector<TObject*>{nullptr, nullptr}));
  EXPECT_EQ(Handler->ActiveCount(), 0);
  EXPECT_EQ(Handler->InactiveCount(), 1);
}

// Services found on the module: what the handler calls, sends and answers.
TEST_F(RequestHandler, ServicesOfTheModuleAreUsedThroughTheGuards) {
  struct {
    const char* Name;
    bool Provider;  // handed out by the module rather than owned by it
    bool Result, Sends, Raises, Rethrow;
    bool Answer;
    int SendCount;
    int HookCalls;
    bool Leaves;
  } cases[] = {
      {"handled", false, true, false, false, false, true, 1, 0, false},
      {"handled, sent by the services", false, true, true, false, false, true, 1, 0, false},
      {"not handled", false, false, false, false, false, false, 0, 0, false},
      {"raises, hook settles", false, true, false, true, false, false, 0, 1, false},
      {"raises, hook raises again", false, true, false, true, true, false, 0, 2, true},
      {"provided, handled", true, true, false, false, false, true, 1, 0, false},
      {"provided, raises", true, true, false, true, false, false, 0, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Handler.reset(NewComponent<TWebRequestHandler>(nullptr));
    AddFactory(c.Provider ? TServicesProviderModule::StaticClass() : TServicesOwnerModule::StaticClass(), crAlways,
               caCache);
    // Built before the request so that the test can set the services up.
    TWebModuleList* set = Handler->ActivateWebModules();
    set->AutoCreateModules();
    Handler->DeactivateWebModules(set);
    TServicesRecorder* services =
        c.Provider ? TServicesProviderModule::Last->Provided.get() : TServicesOwnerModule::Last->Services;
    services->Result = c.Result;
    services->Sends = c.Sends;
    services->Raises = c.Raises;
    TObject marker;
    services->ExceptionHandler = &marker;
    THookLog hook(c.Rethrow);
    bool answer = false;
    String raised = ThrownMessage([&] { answer = Serve("/"); });
    EXPECT_EQ(raised, c.Leaves ? u"Exception: services failed" : u"(nothing raised)");
    EXPECT_EQ(answer, c.Answer);
    EXPECT_EQ(Last.Response->SendCount, c.SendCount);
    EXPECT_EQ(int(hook.Senders.size()), c.HookCalls);
    for (TObject* sender : hook.Senders) EXPECT_EQ(sender, &marker);
    EXPECT_EQ(services->Log, (std::vector<std::string>{"Init", "Handle", "Finish"}));
    EXPECT_EQ(Handler->ActiveCount(), 0);
  }
}

TEST_F(RequestHandler, AModuleFailingToHandOutServicesLeavesUnchangedWithoutTheHook) {
  AddFactory(TServicesProviderModule::StaticClass(), crAlways, caCache);
  TServicesProviderModule::AskRaises = true;
  THookLog hook;
  String raised = ThrownMessage([&] { Serve("/"); });
  TServicesProviderModule::AskRaises = false;
  EXPECT_EQ(raised, u"Exception: no services");
  EXPECT_TRUE(hook.Senders.empty());
  EXPECT_EQ(Handler->ActiveCount(), 0);
  EXPECT_EQ(Handler->InactiveCount(), 1);
}

TEST_F(RequestHandler, InactiveServicesOfTheModuleAreSkippedForTheDefaultOnes) {
  AddFactory(TServicesOwnerModule::StaticClass(), crAlways, caCache);
  TWebModuleList* set = Handler->ActivateWebModules();
  set->AutoCreateModules();
  Handler->DeactivateWebModules(set);
  TServicesOwnerModule::Last->Services->Active = false;
  THookLog hook(true);
  // The default services look for a dispatcher, and this module has none.
  EXPECT_EQ(ThrownMessage([&] { Serve("/"); }), u"ECorvelException: No dispatcher component found on data module");
  EXPECT_TRUE(TServicesOwnerModule::Last->Services->Log.empty());
}

// An exception handler whose answer the test chooses.
class TTestExceptionHandler : public TObject, public IWebExceptionHandler {
 public:
  void HandleException(const Exception& E, bool& Handled) override {
    Seen.push_back(E.Message());
    if (Raises) throw EConvertError(u"handler failed");
    Handled = Handles;
  }
  bool Handles = false;
  bool Raises = false;
  std::vector<String> Seen;
};

TEST_F(RequestHandler, TheHooksHandlerAsksTheSenderOrWritesTheDefaultReport) {
  struct {
    const char* Name;
    bool Sender, Handles, Raises, StdException;
    int SenderCalls;
    std::string Report;  // the class and message line, or "" for no report
  } cases[] = {
      {"handled by the sender", true, true, false, false, 1, ""},
      {"left unhandled by the sender", true, false, false, false, 1, "Exception ECorvelException.*\r\nfailed here.\r\n"},
      {"the sender raises", true, false, true, false, 1, "Exception EConvertError.*\r\nhandler failed.\r\n"},
      {"no sender", false, false, false, false, 0, "Exception ECorvelException.*\r\nfailed here.\r\n"},
      {"not an Exception", true, true, false, true, 0, "Exception .*runtime_error.*\r\nplain failure.\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTestExceptionHandler sender;
    sender.Handles = c.Handles;
    sender.Raises = c.Raises;
    ::testing::internal::CaptureStderr();
    try {
      if (c.StdException) throw std::runtime_error("plain failure");
      throw ECorvelException(u"failed here.");
    } catch (...) {
      Handler->HandleException(c.Sender ? &sender : nullptr);
    }
    std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(int(sender.Seen.size()), c.SenderCalls);
    if (c.Report.empty()) {
      EXPECT_EQ(report, "");
    } else {
      std::regex expected("Application Error\r\n" + c.Report);
      EXPECT_TRUE(std::regex_search(report, expected)) << report;
    }
  }
}

TEST(DefaultExceptionReport, NamesClassFileAddressAndEndsTheMessageWithOneFullStop) {
  struct {
    String Message;
    String Ending;
  } cases[] = {{u"No luck", u"No luck.\r\n"}, {u"Done.", u"Done.\r\n"}, {u"", u"\r\n.\r\n"}};
  for (const auto& c : cases) {
    String report;
    try {
      throw EConvertError(c.Message);
    } catch (...) {
      report = DefaultExceptionReport();
    }
    std::regex shape("^Exception EConvertError in module [^/\\\\ ]+ at [0-9A-F]{8,16}\\.\r\n.*\r\n$");
    EXPECT_TRUE(std::regex_match(AnsiOf(report), shape)) << AnsiOf(report);
    EXPECT_TRUE(report.ends_with(c.Ending)) << AnsiOf(report);
  }
}

// Many threads at once through one handler, with caching on and off: the
// pools stay consistent (run under ThreadSanitizer too).
// A request served by a set that already holds its modules takes no
// process-wide lock: building or destroying a module elsewhere does not hold
// it up.
TEST_F(RequestHandler, ARequestOnACachedSetCompletesWhileAnotherThreadHoldsTheNameSpace) {
  UsePoolModule();
  ASSERT_TRUE(Serve("/"));
  std::mutex lock;
  std::condition_variable changed;
  bool held = false, done = false;
  std::thread holder([&] {
    platform::TWriteLock nameSpace(GlobalNameSpace());
    std::unique_lock l(lock);
    held = true;
    changed.notify_all();
    // Held until the request is over, or long enough to show it waits.
    changed.wait_for(l, std::chrono::seconds(20), [&] { return done; });
  });
  {
    std::unique_lock l(lock);
    changed.wait(l, [&] { return held; });
  }
  auto request = std::async(std::launch::async, [this] { return Serve("/"); });
  bool finished = request.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  {
    std::lock_guard l(lock);
    done = true;
    changed.notify_all();
  }
  holder.join();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(request.get());
  EXPECT_EQ(TPoolTestModule::Live, 1);
}

// A set freed while its request runs (FreeModules) cannot be taken for a
// later set at the same address: the later request keeps its set, and the
// first request's return frees what is left of its own.
TEST_F(RequestHandler, ASetFreedWhileActiveIsNotConfusedWithALaterOne) {
  UsePoolModule();
  TWebModuleList* first = Handler->ActivateWebModules();
  first->AutoCreateModules();
  Handler->FreeModules();
  EXPECT_EQ(TPoolTestModule::Live, 0);
  EXPECT_EQ(Handler->ActiveCount(), 0);
  TWebModuleList* second = Handler->ActivateWebModules();
  second->AutoCreateModules();
  EXPECT_NE(first, second);
  Handler->DeactivateWebModules(first);
  EXPECT_EQ(Handler->ActiveCount(), 1);
  Handler->DeactivateWebModules(second);
  EXPECT_EQ(Handler->ActiveCount(), 0);
  EXPECT_EQ(Handler->InactiveCount(), 1);
  EXPECT_EQ(TPoolTestModule::Live, 1);
}

TEST_F(RequestHandler, ManyThreadsAtOnceKeepThePoolsConsistent) {
  for (bool caching : {true, false}) {
    SCOPED_TRACE(caching);
    Handler.reset(NewComponent<TWebRequestHandler>(nullptr));
    UsePoolModule();
    Handler->SetCacheConnections(caching);
    THandlerHook hook(*Handler);
    constexpr int threads = 8, requests = 150;
    std::atomic<int> pages{0}, errorPages{0}, wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
      workers.emplace_back([&, t] {
        for (int i = 0; i < requests; ++i) {
          bool fail = (i + t) % 5 == 0;
          TExchange e = MakeExchange("GET", fail ? "/fail" : "/page");
          bool handled = Handler->HandleRequest(e.Request.get(), e.Response.get());
          if (!fail && handled && e.Response->SentContent == PoolTestPage) ++pages;
          else if (fail && !handled && e.Response->StatusCode() == 500) ++errorPages;
          else ++wrong;
        }
      });
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(pages + errorPages, threads * requests);
    EXPECT_EQ(Handler->ActiveCount(), 0);
    int idle = Handler->InactiveCount();
    if (caching) {
      EXPECT_GE(idle, 1);
      EXPECT_LE(idle, threads);
    } else {
      EXPECT_EQ(idle, 0);
    }
    EXPECT_EQ(TPoolTestModule::Live, idle);
  }
}

}  // namespace
}  // namespace tolvane::test
