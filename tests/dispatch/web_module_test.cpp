#include <gtest/gtest.h>

#include <tolvane/platform/resource.h>
#include <tolvane/runtime/exception.h>
#include "test_definitions.h"
#include "test_web_module.h"

using namespace tolvane;
using namespace tolvane::test;
using tolvane::testing::TTestWebResponse;

namespace {

using TLog = std::vector<String>;

TComponentPtr<TTestWebModule> LoadModule() { return TComponentPtr<TTestWebModule>(NewComponent<TTestWebModule>(nullptr)); }

}  // namespace

TEST(WebModule, TheTestResourceHoldsTheTestDefinition) {
  auto data = platform::FindRCData(u"TTestWebModule");
  ASSERT_TRUE(data);
  std::vector<std::uint8_t> expected = TestWebModuleDefinition();
  EXPECT_EQ(std::vector<std::uint8_t>(data->begin(), data->end()), expected);
}

TEST(WebModule, ReadsItsDefinitionIntoItemsEventsAndComponents) {
  auto m = LoadModule();
  EXPECT_EQ(m->Name(), u"TestWebModule");
  EXPECT_FALSE(m->OldCreateOrder());
  ASSERT_EQ(m->Actions()->Count(), 5);
  struct TItem {
    const char16_t* Name;
    const char16_t* PathInfo;
    TMethodType Method;
    bool Default;
  };
  const TItem expected[] = {
      {u"Items", u"/items/*", TMethodType::mtGet, false}, {u"Home", u"/", TMethodType::mtAny, true},
      {u"Page", u"/page", TMethodType::mtAny, false},     {u"Form", u"/form/sent", TMethodType::mtPost, false},
      {u"Fail", u"/fail", TMethodType::mtAny, false},
  };
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    TWebActionItem* item = m->GetAction(i);
    EXPECT_EQ(item->GetDisplayName(), expected[i].Name);
    EXPECT_EQ(item->GetPathInfo(), expected[i].PathInfo);
    EXPECT_EQ(item->MethodType(), expected[i].Method);
    EXPECT_EQ(item->Default(), expected[i].Default);
    EXPECT_TRUE(item->Enabled());
    EXPECT_EQ(item->OnAction().Assigned(), i != 2);
    if (item->OnAction()) {
      EXPECT_EQ(item->OnAction().Data(), m.get());
    }
  }
  ASSERT_TRUE(m->Producer1);
  ASSERT_TRUE(m->Claimer1);
  EXPECT_EQ(m->GetAction(2)->Producer(), m->Producer1);
  // Components joining the module were told of it or listed.
  EXPECT_EQ(m->Producer1->GetAppDispatcher(), m.get());
  EXPECT_EQ(m->DispatchList(), std::vector<TComponent*>{m->Claimer1});
  EXPECT_EQ(m->Claimer1->MaskText(), u"/claim/*");
  EXPECT_TRUE(m->BeforeDispatch());
  EXPECT_TRUE(m->AfterDispatch());
  EXPECT_TRUE(m->OnException());
}

// Every request runs through BeforeDispatch, the items in order, the
// components, the default item and AfterDispatch.
TEST(WebModule, DispatchesThroughEventsItemsComponentsAndTheDefault) {
  struct TCase {
    const char* Method;
    const char* Path;
    TLog Log;
    String Content;
  };
  const TCase cases[] = {
      {"GET", "/items/7", {u"Before", u"Items", u"After"}, u"Items"},
      {"GET", "/ITEMS/7", {u"Before", u"Items", u"After"}, u"Items"},
      // POST skips the GET-only item; nothing else fits, so the default runs.
      {"POST", "/items/7", {u"Before", u"Home", u"After"}, u"Home"},
      {"GET", "/", {u"Before", u"Home", u"After"}, u"Home"},
      {"GET", "", {u"Before", u"Home", u"After"}, u"Home"},
      {"GET", "/page", {u"Before", u"After"}, u"produced"},
      {"POST", "/form/sent", {u"Before", u"Form", u"After"}, u"Form"},
      {"GET", "/form/sent", {u"Before", u"Home", u"After"}, u"Home"},
      {"GET", "/claim/x", {u"Before", u"Claimer1:/claim/x", u"After"}, u""},
      {"HEAD", "/nothing/here", {u"Before", u"Home", u"After"}, u"Home"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Method) + " " + c.Path);
    auto m = LoadModule();
    m->Claimer1->Log = &m->Log;
    auto request = MakeRequest(c.Method, c.Path);
    TTestWebResponse response(request.get());
    EXPECT_TRUE(m->HandleRequest(request.get(), &response));
    EXPECT_EQ(m->Log, c.Log);
    EXPECT_EQ(response.Content(), c.Content);
    EXPECT_EQ(m->GetRequest(), request.get());
    EXPECT_EQ(m->GetResponse(), &response);
    EXPECT_EQ(response.SendCount, 0);
  }
}

TEST(WebModule, AClaimingComponentIsCalledWithTheModuleAsSender) {
  auto m = LoadModule();
  auto request = MakeRequest("GET", "/claim/a/b");
  TTestWebResponse response(request.get());
  ASSERT_TRUE(m->DispatchAction(request.get(), &response));
  EXPECT_EQ(m->Claimer1->LastSender, m.get());
  // A component that declines leaves the request to the default item.
  m->Log.clear();
  m->Claimer1->Result = false;
  ASSERT_TRUE(m->DispatchAction(request.get(), &response));
  EXPECT_EQ(m->Log, (TLog{u"Before", u"Home", u"After"}));
}

// The exception of an action reaches the hook; the module's OnException runs
// with status 500 set and the response is sent, or, when it declines, the
// module writes the error page.
TEST(WebModule, AnExceptionInAnActionGoesThroughOnExceptionOrThePage) {
  for (bool declines : {false, true}) {
    SCOPED_TRACE(declines);
    auto m = LoadModule();
    m->Behaviour.ExceptionClears = declines;
    auto request = MakeRequest("GET", "/fail");
    TTestWebResponse response(request.get());
    THookRecorder hook;
    hook.Handler = m.get();
    try {
      m->HandleRequest(request.get(), &response);
      ADD_FAILURE() << "no exception";
    } catch (...) {
      HandleApplicationException(m.get());
    }
    ASSERT_EQ(hook.Calls.size(), 1u);
    EXPECT_EQ(hook.Calls[0].Exception, u"Exception: Boom");
    EXPECT_TRUE(hook.LastHandled);
    EXPECT_EQ(m->Log, (TLog{u"Before", u"Fail", u"OnException Boom"}));
    EXPECT_EQ(m->ExceptionStatus, 500);
    EXPECT_EQ(response.SendCount, 1);
    EXPECT_EQ(response.SentStatus, "500 Internal Server Error");
    EXPECT_EQ(response.SentContent.find("Internal Application Error") != AnsiString::npos, declines);
  }
}

// A module class without any stored definition: "Resource %s not found"
// goes to the hook with no sender.
TEST(WebModule, WithoutADefinitionTheFailureGoesToTheHook) {
  {
    // No hook: the failure is dropped and the module is kept, without actions.
    ASSERT_FALSE(ApplicationHandleException);
    TComponentPtr<TWebModule> m(NewComponent<TWebModule>(nullptr));
    EXPECT_EQ(m->Actions()->Count(), 0);
  }
  {
    // A hook that returns: the same module, and the hook saw the failure.
    THookRecorder hook;
    TComponentPtr<TWebModule> m(NewComponent<TWebModule>(nullptr));
    ASSERT_EQ(hook.Calls.size(), 1u);
    EXPECT_EQ(hook.Calls[0].Sender, nullptr);
    EXPECT_EQ(hook.Calls[0].Exception, u"EResNotFound: Resource TWebModule not found");
  }
  {
    // A hook that raises again: the module is not created.
    THookRecorder hook(true);
    try {
      NewComponent<TWebModule>(nullptr);
      ADD_FAILURE() << "created";
    } catch (const EResNotFound& e) {
      EXPECT_EQ(e.Message(), u"Resource TWebModule not found");
    }
    ASSERT_EQ(hook.Calls.size(), 1u);
    EXPECT_EQ(hook.Calls[0].Sender, nullptr);
  }
}

// The class name the resource is found by is the module's own, even though
// the reading is done by its base.
TEST(WebModule, TheDefinitionIsFoundByTheMostDerivedClass) {
  THookRecorder hook(true);
  auto m = LoadModule();
  EXPECT_TRUE(hook.Calls.empty());
  EXPECT_EQ(m->ClassName(), u"TTestWebModule");
  EXPECT_EQ(m->Actions()->Count(), 5);
}

// Under the old creation order OnCreate runs inside construction, after both
// definitions were read, and its failure goes to the hook with no sender.
TEST(WebModule, OldCreateOrderRunsOnCreateInsideConstruction) {
  for (bool fails : {false, true}) {
    SCOPED_TRACE(fails);
    TTestOldOrderModule::CreateFails = fails;
    THookRecorder hook;
    TComponentPtr<TTestOldOrderModule> m(NewComponent<TTestOldOrderModule>(nullptr));
    TTestOldOrderModule::CreateFails = false;
    EXPECT_TRUE(m->OldCreateOrder());
    EXPECT_EQ(m->Log, TLog{u"Create"});
    EXPECT_EQ(m->Actions()->Count(), 5);
    if (fails) {
      ASSERT_EQ(hook.Calls.size(), 1u);
      EXPECT_EQ(hook.Calls[0].Sender, nullptr);
      EXPECT_EQ(hook.Calls[0].Exception, u"Exception: create failed");
    } else {
      EXPECT_TRUE(hook.Calls.empty());
    }
  }
}
