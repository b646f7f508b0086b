#include <gtest/gtest.h>

#include <tolvane/runtime/exception.h>
#include "webapp/test_modules.h"
#include <tolvane/webapp/web_module_factory.h>

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::unique_ptr<TTestFactory> AppFactory(bool IsApp, bool* Destroyed = nullptr) {
  auto f = std::make_unique<TTestFactory>(TPlainModule::StaticClass(), u"PlainModule", crAlways, caCache, IsApp);
  f->Destroyed = Destroyed;
  return f;
}

String AddError(TWebModuleFactoryList& List, std::unique_ptr<TAbstractWebModuleFactory> Factory) {
  try {
    List.AddFactory(std::move(Factory));
  } catch (const ECorvelException& e) {
    return e.Message();
  }
  return u"";
}

}  // namespace

TEST(WebModuleFactoryList, KeepsFactoriesInOrderAndRecordsTheAppModuleFactory) {
  TWebModuleFactoryList list;
  EXPECT_EQ(list.AppModuleFactory(), nullptr);
  TTestFactory* first = AppFactory(false).release();
  list.AddFactory(std::unique_ptr<TAbstractWebModuleFactory>(first));
  EXPECT_EQ(list.AppModuleFactory(), nullptr);
  TTestFactory* app = AppFactory(true).release();
  list.AddFactory(std::unique_ptr<TAbstractWebModuleFactory>(app));
  TTestFactory* third = AppFactory(false).release();
  list.AddFactory(std::unique_ptr<TAbstractWebModuleFactory>(third));
  ASSERT_EQ(list.GetItemCount(), 3);
  EXPECT_EQ(list.GetItem(0), first);
  EXPECT_EQ(list.GetItem(1), app);
  EXPECT_EQ(list.GetItem(2), third);
  EXPECT_EQ(list.AppModuleFactory(), app);
  EXPECT_THROW(list.GetItem(3), EListError);
  EXPECT_THROW(list.GetItem(-1), EListError);
}

// Each refusal leaves the list as it was: same items, same app-module factory.
TEST(WebModuleFactoryList, RefusedFactoriesLeaveTheListUnchanged) {
  struct TCase {
    const char* What;
    bool FirstIsApp;
    bool SameObject;  // otherwise a new app-module factory
    const char16_t* Error;
  };
  const TCase cases[] = {
      {"a second app-module factory", true, false, u"Web App Module Factory already registered."},
      {"the app-module factory again", true, true, u"Web Module Factory already registered"},
      {"another factory again", false, true, u"Web Module Factory already registered"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    bool firstDestroyed = false, secondDestroyed = false;
    {
      TWebModuleFactoryList list;
      TTestFactory* first = AppFactory(c.FirstIsApp, &firstDestroyed).release();
      list.AddFactory(std::unique_ptr<TAbstractWebModuleFactory>(first));
      TAbstractWebModuleFactory* app = list.AppModuleFactory();
      std::unique_ptr<TAbstractWebModuleFactory> second;
      if (c.SameObject) {
        second.reset(first);
      } else {
        second = AppFactory(true, &secondDestroyed);
      }
      EXPECT_EQ(AddError(list, std::move(second)), c.Error);
      ASSERT_EQ(list.GetItemCount(), 1);
      EXPECT_EQ(list.GetItem(0), first);
      EXPECT_EQ(list.AppModuleFactory(), app);
      // A refused new factory is freed at once; the registered one lives on.
      EXPECT_FALSE(firstDestroyed);
      EXPECT_EQ(secondDestroyed, !c.SameObject);
      // And the list still takes a factory that is not an app-module factory.
      list.AddFactory(AppFactory(false));
      EXPECT_EQ(list.GetItemCount(), 2);
    }
    EXPECT_TRUE(firstDestroyed);
  }
}

TEST(WebModuleFactoryList, FreesItsFactories) {
  bool a = false, b = false;
  {
    TWebModuleFactoryList list;
    list.AddFactory(AppFactory(true, &a));
    list.AddFactory(AppFactory(false, &b));
    EXPECT_FALSE(a || b);
  }
  EXPECT_TRUE(a && b);
}

TEST(DefaultWebModuleFactory, AnswersForItsClass) {
  TDefaultWebModuleFactory factory(TPlainModule::StaticClass());
  EXPECT_EQ(factory.GetModuleName(), u"PlainModule");
  EXPECT_TRUE(factory.GetIsAppModule());
  EXPECT_EQ(factory.GetCreateMode(), crAlways);
  EXPECT_EQ(factory.GetCacheMode(), caCache);
  EXPECT_EQ(factory.GetComponentClass(), TPlainModule::StaticClass());
  EXPECT_EQ(factory.GetWebPageInfo(), nullptr);
  EXPECT_EQ(TDefaultWebModuleFactory(TWebModule1::StaticClass()).GetModuleName(), u"WebModule1");
}

TEST(DefaultWebModuleFactory, MakesAnUnownedModuleOfExactlyItsClassEachTime) {
  TDefaultWebModuleFactory factory(TDerivedPlainModule::StaticClass());
  int live = TPlainModule::Live;
  TComponentPtr<TComponent> a(factory.GetModule());
  TComponentPtr<TComponent> b(factory.GetModule());
  EXPECT_NE(a.get(), b.get());
  EXPECT_EQ(a->ClassType(), TDerivedPlainModule::StaticClass());
  EXPECT_EQ(a->Owner(), nullptr);
  EXPECT_EQ(TPlainModule::Live, live + 2);
}

TEST(DefaultWebModuleFactory, ReadsTheModulesStoredDefinition) {
  TDefaultWebModuleFactory factory(TStoredTargetModule::StaticClass());
  TComponentPtr<TComponent> m(factory.GetModule());
  EXPECT_EQ(m->Name(), u"Target");
  EXPECT_NE(m->FindComponent(u"Thing"), nullptr);
}

TEST(DefaultWebModuleFactory, RefusesClassesItCannotMakeModulesOf) {
  struct TCase {
    const char* What;
    TClass Class;
  };
  const TCase cases[] = {
      {"no class", nullptr},
      {"no virtual constructor", TStoredModule::StaticClass()},
      {"not a component", TTestActionItem::StaticClass()},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TDefaultWebModuleFactory factory(c.Class);
    EXPECT_THROW(factory.GetModule(), EComponentError);
  }
}

TEST(DefaultWebModuleFactory, AModuleThatFailsPartWayLeavesNothingBehind) {
  int parts = TTestPart::Live;
  for (TClass cls : {TBrokenModule::StaticClass(), TFailingModule::StaticClass()}) {
    SCOPED_TRACE(AnsiOf(cls->Name));
    TDefaultWebModuleFactory factory(cls);
    EXPECT_ANY_THROW(factory.GetModule());
    EXPECT_EQ(TTestPart::Live, parts);
  }
}
