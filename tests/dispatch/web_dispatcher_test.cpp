#include <gtest/gtest.h>

#include <functional>

#include <tolvane/dispatch/web_dispatcher.h>
#include <tolvane/dispatch/web_module_list.h>
#include <tolvane/runtime/exception.h>
#include "test_web_module.h"

using namespace tolvane;
using namespace tolvane::test;
using tolvane::testing::TTestWebRequest;
using tolvane::testing::TTestWebResponse;

namespace {

using TLog = std::vector<String>;

// A dispatcher built in code whose events and items log into one recorder.
struct TFixture {
  TComponentPtr<TCustomWebDispatcher> Dispatcher{NewComponent<TCustomWebDispatcher>(nullptr)};
  TRecorder Recorder;
  std::unique_ptr<TTestWebRequest> Request = MakeRequest("GET", "/x");
  std::unique_ptr<TTestWebResponse> Response = std::make_unique<TTestWebResponse>(Request.get());

  TFixture() {
    Dispatcher->SetBeforeDispatch(THTTPMethodEvent::Of<&TRecorder::Before>(&Recorder));
    Dispatcher->SetAfterDispatch(THTTPMethodEvent::Of<&TRecorder::After>(&Recorder));
    Recorder.ExceptionResponse = Response.get();
  }
  TWebActionItem* AddItem(const String& Name, const String& PathInfo) {
    TWebActionItem* item = Dispatcher->Actions()->Add();
    item->SetDisplayName(Name);
    item->SetPathInfo(PathInfo);
    item->SetOnAction(Recorder.ActionEvent());
    return item;
  }
  void SetOnException() {
    Dispatcher->SetOnException(TWebExceptionEvent::Of<&TRecorder::OnException>(&Recorder));
  }
  bool Dispatch() { return Dispatcher->DispatchAction(Request.get(), Response.get()); }
};

// A module set over modules the test owns.
class TTestModuleList : public TAbstractWebModuleList {
 public:
  std::vector<TComponent*> Modules;
  TComponent* GetItem(int I) override { return Modules.at(std::size_t(I)); }
  int GetItemCount() override { return int(Modules.size()); }
  TModuleAddedProc GetOnModuleAdded() override { return {}; }
  void SetOnModuleAdded(TModuleAddedProc) override {}
  int GetFactoryCount() override { return 0; }
  TAbstractWebModuleFactory* GetFactory(int) override { return nullptr; }
  TComponent* FindModuleClass(TClass) override { return nullptr; }
  TComponent* FindModuleName(const String&) override { return nullptr; }
  TComponent* AddModuleClass(TClass) override { return nullptr; }
  TComponent* AddModuleName(const String&) override { return nullptr; }
};

// What HandleException does for the exception E raised while serving the
// fixture's request.
bool HandleException(TFixture& F, const Exception& E) {
  bool handled = true;
  F.Dispatcher->HandleException(E, handled);
  return handled;
}

}  // namespace

TEST(WebDispatcher, DispatchRunsEventsItemsAndTheDefaultInOrder) {
  struct TCase {
    const char* Name;
    std::function<void(TFixture&)> Setup;
    bool Result;
    TLog Log;
  };
  const TCase cases[] = {
      {"a response already sent", [](TFixture& f) { f.AddItem(u"One", u"/x"); f.Response->SendResponse(); }, true, {}},
      {"BeforeDispatch handles",
       [](TFixture& f) {
         f.AddItem(u"One", u"/x")->SetDefault(true);
         f.Recorder.Behaviour.BeforeHandles = true;
       },
       true, {u"Before", u"After"}},
      {"BeforeDispatch handles, AfterDispatch clears",
       [](TFixture& f) {
         f.Recorder.Behaviour.BeforeHandles = true;
         f.Recorder.Behaviour.AfterClears = true;
       },
       false, {u"Before", u"After"}},
      {"BeforeDispatch sends without handling",
       [](TFixture& f) {
         f.AddItem(u"One", u"/x");
         f.Recorder.Behaviour.BeforeSends = true;
       },
       true, {u"Before"}},
      {"nothing to dispatch to", [](TFixture&) {}, false, {u"Before"}},
      {"no item fits", [](TFixture& f) { f.AddItem(u"One", u"/y"); }, false, {u"Before"}},
      {"the first fitting item answers",
       [](TFixture& f) {
         f.AddItem(u"One", u"/y");
         f.AddItem(u"Two", u"/x");
         f.AddItem(u"Three", u"/x");
       },
       true, {u"Before", u"Two", u"After"}},
      {"AfterDispatch clears Handled",
       [](TFixture& f) {
         f.AddItem(u"One", u"/x");
         f.Recorder.Behaviour.AfterClears = true;
       },
       false, {u"Before", u"One", u"After"}},
      {"the default, second of three, is offered again last",
       [](TFixture& f) {
         f.AddItem(u"One", u"/x");
         f.AddItem(u"Two", u"/x")->SetDefault(true);
         f.AddItem(u"Three", u"/x");
         f.Recorder.Behaviour.Declines = {u"One", u"Three"};
         f.Recorder.DeclineOnce = {u"Two"};
       },
       true, {u"Before", u"One", u"Two", u"Three", u"Two", u"After"}},
      {"a default that declines as the default",
       [](TFixture& f) {
         f.AddItem(u"One", u"/y")->SetDefault(true);
         f.Recorder.Behaviour.Declines = {u"One"};
       },
       false, {u"Before", u"One"}},
      // Handlers that free items: nothing freed is read or run afterwards.
      {"a handler that frees every item and handles",
       [](TFixture& f) {
         f.AddItem(u"One", u"/x")->SetDefault(true);
         f.AddItem(u"Two", u"/x");
         f.Recorder.Behaviour.ClearsActions = {u"One"};
       },
       true, {u"Before", u"One", u"After"}},
      {"a handler that frees its own item and declines",
       [](TFixture& f) {
         f.AddItem(u"Home", u"/y")->SetDefault(true);
         f.AddItem(u"One", u"/x");
         f.Recorder.Behaviour.FreesItself = {u"One"};
         f.Recorder.Behaviour.Declines = {u"One"};
       },
       true, {u"Before", u"One", u"Home", u"After"}},
      {"a later handler frees the default",
       [](TFixture& f) {
         f.AddItem(u"One", u"/y")->SetDefault(true);
         f.AddItem(u"Two", u"/x");
         f.Recorder.Behaviour.ClearsActions = {u"Two"};
         f.Recorder.Behaviour.Declines = {u"Two"};
       },
       false, {u"Before", u"Two"}},
      {"the default frees itself when offered as the default",
       [](TFixture& f) {
         f.AddItem(u"One", u"/y")->SetDefault(true);
         f.AddItem(u"Two", u"/x");
         f.Recorder.Behaviour.FreesItself = {u"One"};
         f.Recorder.Behaviour.Declines = {u"Two"};
       },
       true, {u"Before", u"Two", u"One", u"After"}},
      {"a disabled default still answers as the default",
       [](TFixture& f) {
         TWebActionItem* item = f.AddItem(u"One", u"/x");
         item->SetDefault(true);
         item->SetEnabled(false);
       },
       true, {u"Before", u"One", u"After"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFixture f;
    c.Setup(f);
    EXPECT_EQ(f.Dispatch(), c.Result);
    EXPECT_EQ(f.Recorder.Log, c.Log);
  }
}

// Components that dispatch themselves, after the items and before the default.
TEST(WebDispatcher, ComponentsAreOfferedRequestsByTheirOwnRules) {
  struct TCase {
    bool Enabled;
    TMethodType Method;
    const char16_t* Mask;  // null: the component has no mask
    const char* RequestMethod;
    const char* Path;
    bool Claimed;
  };
  const TCase cases[] = {
      {true, TMethodType::mtAny, u"/c/*", "GET", "/c/1", true},
      {false, TMethodType::mtAny, u"/c/*", "GET", "/c/1", false},
      {true, TMethodType::mtPost, u"/c/*", "GET", "/c/1", false},
      {true, TMethodType::mtPost, u"/c/*", "POST", "/c/1", true},
      {true, TMethodType::mtAny, u"/d/*", "GET", "/c/1", false},
      // "/" is matched as it is, not as the empty path.
      {true, TMethodType::mtAny, u"", "GET", "/", false},
      {true, TMethodType::mtAny, u"/", "GET", "/", true},
      {true, TMethodType::mtAny, u"", "GET", "", true},
      // A component without a mask matches nothing.
      {true, TMethodType::mtAny, nullptr, "GET", "/c/1", false},
      {true, TMethodType::mtAny, nullptr, "GET", "", false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(AnsiOf(c.Mask ? c.Mask : u"(no mask)") + " " + c.RequestMethod + " " + c.Path);
    TFixture f;
    f.AddItem(u"Fallback", u"/none")->SetDefault(true);
    auto* claimer = NewComponent<TTestClaimer>(f.Dispatcher.get());
    claimer->SetName(u"Claimer");
    claimer->Enabled = c.Enabled;
    claimer->MethodType = c.Method;
    if (c.Mask) claimer->SetMaskText(c.Mask);
    else claimer->DropMask();
    claimer->Log = &f.Recorder.Log;
    f.Request = MakeRequest(c.RequestMethod, c.Path);
    f.Response = std::make_unique<TTestWebResponse>(f.Request.get());
    EXPECT_TRUE(f.Dispatch());
    TLog expected{u"Before", c.Claimed ? u"Claimer:" + StringOf(c.Path) : String(u"Fallback"), u"After"};
    EXPECT_EQ(f.Recorder.Log, expected);
  }
}

TEST(WebDispatcher, TheErrorPageIsExactAndEscapesWhatCameFromOutside) {
  struct TCase {
    const char16_t* Message;
    const char* Path;
    const char* Page;
  };
  const TCase cases[] = {
      {u"Plain failure", "/orders/12",
       "<html><body><h1>Internal Application Error</h1>\r\n<p>Plain failure\r\n"
       "<p><hr width=\"100%\"><i>/orders/12</i></body></html>"},
      {u"Bad", "/<script>alert(1)</script>",
       "<html><body><h1>Internal Application Error</h1>\r\n<p>Bad\r\n"
       "<p><hr width=\"100%\"><i>/&lt;script&gt;alert(1)&lt;/script&gt;</i></body></html>"},
      {u"a&b <i>\"q\" 'r'", "/p\"'&",
       "<html><body><h1>Internal Application Error</h1>\r\n<p>a&amp;b &lt;i&gt;&quot;q&quot; &#39;r&#39;\r\n"
       "<p><hr width=\"100%\"><i>/p&quot;&#39;&amp;</i></body></html>"},
      {u"100% sure %s", "", 
       "<html><body><h1>Internal Application Error</h1>\r\n<p>100% sure %s\r\n"
       "<p><hr width=\"100%\"><i></i></body></html>"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    TFixture f;
    f.Request = MakeRequest("GET", c.Path);
    f.Response = std::make_unique<TTestWebResponse>(f.Request.get());
    f.Dispatch();
    EXPECT_TRUE(HandleException(f, Exception(c.Message)));
    EXPECT_EQ(f.Response->SendCount, 1);
    EXPECT_EQ(f.Response->StatusCode(), 500);
    EXPECT_EQ(f.Response->SentContent, c.Page);
  }
}

TEST(WebDispatcher, HandleExceptionWithAndWithoutOnException) {
  struct TCase {
    const char* Name;
    bool OnException;
    bool Clears;
    bool SendsItself;
    bool AlreadySent;
    bool Page;     // the error page became the content
    int Sends;     // SendResponse calls in all
    TLog Log;
  };
  const TCase cases[] = {
      {"no handler", false, false, false, false, true, 1, {}},
      {"no handler, response already sent", false, false, false, true, true, 1, {}},
      {"a handler that leaves Handled", true, false, false, false, false, 1, {u"OnException M"}},
      {"a handler that clears Handled", true, true, false, false, true, 1, {u"OnException M"}},
      {"a handler that sends itself", true, false, true, false, false, 1, {u"OnException M"}},
      {"a handler that sends itself and clears Handled", true, true, true, false, true, 1, {u"OnException M"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFixture f;
    if (c.OnException) f.SetOnException();
    f.Recorder.Behaviour.ExceptionClears = c.Clears;
    f.Recorder.Behaviour.ExceptionSends = c.SendsItself;
    f.Dispatch();
    f.Recorder.Log.clear();
    if (c.AlreadySent) f.Response->SendResponse();
    EXPECT_TRUE(HandleException(f, Exception(u"M")));
    EXPECT_EQ(f.Recorder.Log, c.Log);
    EXPECT_EQ(f.Recorder.ExceptionStatus, c.OnException ? 500 : 0);
    EXPECT_EQ(f.Response->SendCount, c.Sends);
    EXPECT_EQ(f.Response->Content().find(u"Internal Application Error") != String::npos, c.Page);
    EXPECT_EQ(f.Response->StatusCode(), c.AlreadySent ? 200 : 500);
  }
}

TEST(WebDispatcher, HandleExceptionWithoutAResponse) {
  for (bool onException : {false, true}) {
    SCOPED_TRACE(onException);
    TFixture f;
    if (onException) f.SetOnException();
    // Never served a request: only the handler can take the exception.
    EXPECT_EQ(HandleException(f, Exception(u"M")), onException);
    EXPECT_EQ(f.Recorder.Log.size(), onException ? 1u : 0u);
  }
}

// The request's objects are gone by the time a module is freed; an OnDestroy
// that raises reaches HandleException through the hook, which must not touch
// them.
TEST(WebDispatcher, AnExceptionWhileTheModuleIsFreedFindsNoStaleResponse) {
  for (bool oldOrder : {false, true}) {
    SCOPED_TRACE(oldOrder);
    TFixture f;
    f.AddItem(u"One", u"/x");
    ASSERT_TRUE(f.Dispatch());
    f.Response.reset();
    f.Request.reset();
    f.Dispatcher->SetOldCreateOrder(oldOrder);
    f.Dispatcher->SetOnDestroy(TNotifyEvent::Of<&TRecorder::Destroying>(&f.Recorder));
    THookRecorder hook;
    hook.Handler = f.Dispatcher.get();
    hook.LastHandled = true;
    f.Dispatcher.reset();
    ASSERT_EQ(hook.Calls.size(), 1u);
    EXPECT_EQ(hook.Calls[0].Exception, u"Exception: destroy failed");
    EXPECT_FALSE(hook.LastHandled);
  }
}

TEST(WebDispatcher, OnlyOneDispatcherPerOwner) {
  {
    TComponentPtr<TCustomWebDispatcher> owner(NewComponent<TCustomWebDispatcher>(nullptr));
    EXPECT_THROW(NewComponent<TCustomWebDispatcher>(owner.get()), ECorvelException);
    EXPECT_EQ(owner->ComponentCount(), 0);
  }
  {
    TComponentPtr<TComponent> owner(NewComponent<TComponent>(nullptr));
    NewComponent<TComponent>(owner.get());
    auto* first = NewComponent<TCustomWebDispatcher>(owner.get());
    try {
      NewComponent<TCustomWebDispatcher>(owner.get());
      ADD_FAILURE() << "created";
    } catch (const ECorvelException& e) {
      EXPECT_EQ(e.Message(), u"Only one WebDispatcher per form/data module");
    }
    ASSERT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->Components(1), first);
  }
}

// A dispatcher made on an owner takes in the owner's components: producers
// learn of it, components that dispatch themselves are listed.
TEST(WebDispatcher, TakesInItsOwnersComponents) {
  TComponentPtr<TComponent> owner(NewComponent<TComponent>(nullptr));
  auto* producer = NewComponent<TTestProducer>(owner.get());
  auto* claimer = NewComponent<TTestClaimer>(owner.get());
  NewComponent<TComponent>(owner.get());
  auto* dispatcher = NewComponent<TCustomWebDispatcher>(owner.get());
  EXPECT_EQ(producer->GetAppDispatcher(), dispatcher);
  EXPECT_EQ(dispatcher->DispatchList(), std::vector<TComponent*>{claimer});
  // Components joining later are taken in the same way.
  auto* later = NewComponent<TTestClaimer>(dispatcher);
  auto* laterProducer = NewComponent<TTestProducer>(dispatcher);
  EXPECT_EQ(dispatcher->DispatchList(), (std::vector<TComponent*>{claimer, later}));
  EXPECT_EQ(laterProducer->GetAppDispatcher(), dispatcher);
  // InitModule lists those of another module, again if already there.
  dispatcher->InitModule(owner.get());
  EXPECT_EQ(dispatcher->DispatchList(), (std::vector<TComponent*>{claimer, later, claimer}));
  dispatcher->InitModule(nullptr);
  EXPECT_EQ(dispatcher->DispatchList().size(), 3u);
  // A listed component that goes leaves the list; a freed one must not be called.
  claimer->Free();
  EXPECT_EQ(dispatcher->DispatchList(), std::vector<TComponent*>{later});
}

TEST(WebDispatcher, ItemsForgetComponentsThatGo) {
  TFixture f;
  auto* producer = NewComponent<TTestProducer>(f.Dispatcher.get());
  auto* plain = NewComponent<TComponent>(f.Dispatcher.get());
  // A producer owned elsewhere is watched too.
  TComponentPtr<TTestProducer> outside(NewComponent<TTestProducer>(nullptr));
  TWebActionItem* a = f.AddItem(u"A", u"/a");
  TWebActionItem* b = f.AddItem(u"B", u"/b");
  TWebActionItem* c = f.AddItem(u"C", u"/c");
  a->SetProducer(producer);
  b->SetProducerContent(plain);
  c->SetProducer(outside.get());
  producer->Free();
  plain->Free();
  outside.reset();
  EXPECT_EQ(a->Producer(), nullptr);
  EXPECT_EQ(b->ProducerContent(), nullptr);
  EXPECT_EQ(c->Producer(), nullptr);
  // The items still answer through their handlers.
  f.Request = MakeRequest("GET", "/b");
  f.Response = std::make_unique<TTestWebResponse>(f.Request.get());
  EXPECT_TRUE(f.Dispatch());
}

TEST(WebDispatcher, SetActionsCopiesTheItemsIntoItsOwnCollection) {
  TFixture source;
  source.AddItem(u"Home", u"/")->SetDefault(true);
  source.AddItem(u"Post", u"/post")->SetMethodType(TMethodType::mtPost);
  TFixture target;
  target.AddItem(u"Old", u"/old");
  TWebActionItems* actions = target.Dispatcher->Actions();
  target.Dispatcher->SetActions(source.Dispatcher->Actions());
  ASSERT_EQ(target.Dispatcher->Actions(), actions);
  ASSERT_EQ(actions->Count(), 2);
  EXPECT_EQ(actions->GetActionItem(0)->GetDisplayName(), u"WebActionItem1");
  EXPECT_EQ(actions->GetActionItem(0)->GetPathInfo(), u"/");
  EXPECT_TRUE(actions->GetActionItem(0)->Default());
  EXPECT_EQ(actions->GetActionItem(1)->GetDisplayName(), u"WebActionItem2");
  EXPECT_EQ(actions->GetActionItem(1)->MethodType(), TMethodType::mtPost);
  EXPECT_FALSE(actions->GetActionItem(1)->OnAction());
  EXPECT_EQ(actions->GetOwner(), target.Dispatcher.get());
  // SetActionItem copies into the existing item.
  TWebActionItem* second = actions->GetActionItem(1);
  actions->SetActionItem(1, source.Dispatcher->GetAction(0));
  EXPECT_EQ(actions->GetActionItem(1), second);
  EXPECT_TRUE(second->Default());
  EXPECT_FALSE(actions->GetActionItem(0)->Default());
}

TEST(DefaultWebAppServices, FindsTheDispatcherOfTheModuleSet) {
  TComponentPtr<TComponent> plain(NewComponent<TComponent>(nullptr));
  TComponentPtr<TComponent> holder(NewComponent<TComponent>(nullptr));
  NewComponent<TComponent>(holder.get());
  auto* owned = NewComponent<TCustomWebDispatcher>(holder.get());
  TComponentPtr<TCustomWebDispatcher> module(NewComponent<TCustomWebDispatcher>(nullptr));
  struct TCase {
    std::vector<TComponent*> Modules;
    TComponent* Found;
  };
  const TCase cases[] = {
      {{}, nullptr},
      {{plain.get()}, nullptr},
      {{module.get()}, module.get()},
      {{holder.get()}, owned},
      {{plain.get(), module.get()}, module.get()},
      {{holder.get(), module.get()}, owned},
      {{module.get(), holder.get()}, module.get()},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Modules.size());
    TTestModuleList list;
    list.Modules = c.Modules;
    TDefaultWebAppServices services;
    EXPECT_EQ(services.FindWebDispatcher(), nullptr);
    services.InitContext(&list, nullptr, nullptr);
    EXPECT_EQ(services.FindWebDispatcher(), c.Found);
    EXPECT_EQ(services.GetExceptionHandler(), c.Found);
    EXPECT_TRUE(services.GetActive());
  }
}

TEST(DefaultWebAppServices, HandsTheRequestToTheDispatcherItFoundFirst) {
  TFixture f;
  f.AddItem(u"One", u"/x");
  TTestModuleList list;
  list.Modules = {f.Dispatcher.get()};
  auto services = std::make_shared<TDefaultWebAppServices>();
  std::shared_ptr<IWebAppServices> asServices = services;
  asServices->InitContext(&list, f.Request.get(), f.Response.get());
  EXPECT_TRUE(asServices->HandleRequest());
  EXPECT_EQ(f.Recorder.Log, (TLog{u"Before", u"One", u"After"}));
  EXPECT_EQ(f.Dispatcher->GetRequest(), f.Request.get());
  EXPECT_EQ(f.Dispatcher->GetResponse(), f.Response.get());
  // The handler is kept once found, whatever the set holds afterwards.
  list.Modules.clear();
  EXPECT_EQ(services->GetRequestHandler(), Supports<IWebRequestHandler>(f.Dispatcher.get()));
  EXPECT_TRUE(asServices->HandleRequest());
}

// The request and response are freed once the request is over, and the module
// goes back to the pool: finishing the context leaves nothing of them behind,
// also after an exception that the dispatcher answered.
TEST(DefaultWebAppServices, FinishingTheContextClearsTheDispatchersRequest) {
  struct TThrower : TObject {
    void Fail(TObject*, TWebRequest*, TWebResponse*, bool&) { throw Exception(u"Boom"); }
  };
  for (bool fails : {false, true}) {
    SCOPED_TRACE(fails);
    TFixture f;
    TThrower thrower;
    TWebActionItem* item = f.AddItem(u"One", u"/x");
    if (fails) item->SetOnAction(THTTPMethodEvent::Of<&TThrower::Fail>(&thrower));
    TTestModuleList list;
    list.Modules = {f.Dispatcher.get()};
    std::shared_ptr<IWebAppServices> services = std::make_shared<TDefaultWebAppServices>();
    services->InitContext(&list, f.Request.get(), f.Response.get());
    try {
      EXPECT_TRUE(services->HandleRequest());
      EXPECT_FALSE(fails);
    } catch (const Exception& e) {
      // What the exception hook does, before the context is finished.
      ASSERT_TRUE(fails);
      EXPECT_TRUE(HandleException(f, e));
      EXPECT_EQ(f.Response->StatusCode(), 500);
    }
    EXPECT_EQ(f.Dispatcher->GetResponse(), f.Response.get());
    services->FinishContext();
    EXPECT_EQ(f.Dispatcher->GetRequest(), nullptr);
    EXPECT_EQ(f.Dispatcher->GetResponse(), nullptr);
    EXPECT_EQ(f.Dispatcher->Request(), nullptr);
    EXPECT_EQ(f.Dispatcher->Response(), nullptr);
  }
}

// The module's own context ends the same way, for hosts that manage it.
TEST(WebDispatcher, FinishContextForgetsTheRequest) {
  TFixture f;
  IWebModuleContext* context = f.Dispatcher.get();
  context->InitContext(f.Request.get(), f.Response.get());
  EXPECT_EQ(f.Dispatcher->GetRequest(), f.Request.get());
  context->FinishContext();
  EXPECT_EQ(f.Dispatcher->GetRequest(), nullptr);
  EXPECT_EQ(f.Dispatcher->GetResponse(), nullptr);
}

TEST(DefaultWebAppServices, ASetWithoutADispatcherFails) {
  TComponentPtr<TComponent> plain(NewComponent<TComponent>(nullptr));
  TTestModuleList list;
  list.Modules = {plain.get()};
  TDefaultWebAppServices services;
  services.InitContext(&list, nullptr, nullptr);
  try {
    services.HandleRequest();
    ADD_FAILURE() << "handled";
  } catch (const ECorvelException& e) {
    EXPECT_EQ(e.Message(), u"No dispatcher component found on data module");
  }
  EXPECT_EQ(services.GetExceptionHandler(), nullptr);
}
