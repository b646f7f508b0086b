#include <gtest/gtest.h>

#include <thread>

#include <tolvane/runtime/exception.h>
#include <tolvane/streaming/global_names.h>
#include "webapp/test_modules.h"
#include <tolvane/webapp/web_module_list.h>

using namespace tolvane;
using namespace tolvane::test;

namespace {

// Records what OnModuleAdded reports.
struct TAddedLog : TObject {
  std::vector<TComponent*> Added;
  void ModuleAdded(TComponent* Module) { Added.push_back(Module); }
};

std::vector<TComponent*> Modules(TWebModuleList& Set) {
  std::vector<TComponent*> result;
  for (int i = 0; i < Set.GetItemCount(); ++i) result.push_back(Set.GetItem(i));
  return result;
}

TTestPart* PartOf(TComponent* Module, const char16_t* Name) {
  return static_cast<TTestPart*>(Module->FindComponent(Name));
}

}  // namespace

TEST(WebModuleList, AutoCreateMakesOneModulePerAlwaysFactoryOnce) {
  TWebModuleFactoryList factories;
  auto* always1 = AddTestFactory(factories, TPlainModule::StaticClass(), u"Plain", crAlways);
  auto* onDemand = AddTestFactory(factories, TSecondPlainModule::StaticClass(), u"Second", crOnDemand);
  auto* always2 = AddTestFactory(factories, TDerivedPlainModule::StaticClass(), u"Derived", crAlways);
  TWebModuleList set(&factories);
  TAddedLog log;
  set.SetOnModuleAdded(TModuleAddedProc::Of<&TAddedLog::ModuleAdded>(&log));

  set.AutoCreateModules();
  auto made = Modules(set);
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[0]->ClassType(), TPlainModule::StaticClass());
  EXPECT_EQ(made[1]->ClassType(), TDerivedPlainModule::StaticClass());
  EXPECT_EQ(log.Added, made);
  EXPECT_EQ(onDemand->Made, 0);

  // A set that holds its modules gets nothing new.
  set.AutoCreateModules();
  EXPECT_EQ(Modules(set), made);
  EXPECT_EQ(always1->Made, 1);
  EXPECT_EQ(always2->Made, 1);
}

TEST(WebModuleList, AutoCreateLooksForTheFactorysExactClass) {
  TWebModuleFactoryList factories;
  auto* plain = AddTestFactory(factories, TPlainModule::StaticClass(), u"Plain", crAlways);
  TWebModuleList set(&factories);
  set.AddModule(NewComponent<TDerivedPlainModule>(nullptr));
  set.AutoCreateModules();
  EXPECT_EQ(plain->Made, 1);
  ASSERT_EQ(set.GetItemCount(), 2);
  EXPECT_EQ(set.GetItem(1)->ClassType(), TPlainModule::StaticClass());
}

TEST(WebModuleList, FindsModulesByExactClassAndByNameInAnyLetterCase) {
  TWebModuleFactoryList factories;
  TWebModuleList set(&factories);
  auto* base = NewComponent<TPlainModule>(nullptr);
  base->SetName(u"Alpha");
  auto* derived = NewComponent<TDerivedPlainModule>(nullptr);
  derived->SetName(u"Beta");
  auto* twin = NewComponent<TDerivedPlainModule>(nullptr);
  twin->SetName(u"Beta");
  set.AddModule(base);
  set.AddModule(derived);
  set.AddModule(twin);

  EXPECT_EQ(set.FindModuleClass(TPlainModule::StaticClass()), base);
  EXPECT_EQ(set.FindModuleClass(TDerivedPlainModule::StaticClass()), derived);  // the first one
  EXPECT_EQ(set.FindModuleClass(TComponent::StaticClass()), nullptr);           // an ancestor is not enough
  EXPECT_EQ(set.FindModuleClass(TSecondPlainModule::StaticClass()), nullptr);

  struct TCase {
    const char16_t* Name;
    TComponent* Found;
  };
  const TCase cases[] = {{u"Alpha", base}, {u"ALPHA", base}, {u"bEtA", derived}, {u"Alph", nullptr}, {u"", nullptr}};
  for (const TCase& c : cases) EXPECT_EQ(set.FindModuleName(c.Name), c.Found) << AnsiOf(c.Name);
}

TEST(WebModuleList, AModuleFreedElsewhereLeavesTheSet) {
  TWebModuleFactoryList factories;
  int live = TPlainModule::Live;
  {
    TWebModuleList set(&factories);
    auto* a = NewComponent<TPlainModule>(nullptr);
    auto* b = NewComponent<TPlainModule>(nullptr);
    set.AddModule(a);
    set.AddModule(b);
    a->Free();
    EXPECT_EQ(Modules(set), std::vector<TComponent*>{b});
    EXPECT_EQ(set.FindModuleClass(TPlainModule::StaticClass()), b);
  }
  // The set freed the one it still held, and only that one.
  EXPECT_EQ(TPlainModule::Live, live);
}

TEST(WebModuleList, AutoDestroyFreesOnlyTheModulesOfDestroyingFactories) {
  TWebModuleFactoryList factories;
  AddTestFactory(factories, TPlainModule::StaticClass(), u"Plain", crAlways, caCache);
  auto* gone = AddTestFactory(factories, TSecondPlainModule::StaticClass(), u"Second", crAlways, caDestroy);
  TWebModuleList set(&factories);
  set.AutoCreateModules();
  TComponent* kept = set.FindModuleClass(TPlainModule::StaticClass());
  int live = TPlainModule::Live;

  set.AutoDestroyModules();
  EXPECT_EQ(TPlainModule::Live, live - 1);
  EXPECT_EQ(Modules(set), std::vector<TComponent*>{kept});

  // The next request gets a new one.
  set.AutoCreateModules();
  EXPECT_EQ(gone->Made, 2);
  EXPECT_EQ(set.GetItemCount(), 2);
}

TEST(WebModuleList, AddModuleClassUsesEveryFactoryOfTheClassAndAddModuleNameTheFirst) {
  TWebModuleFactoryList factories;
  auto* a = AddTestFactory(factories, TPlainModule::StaticClass(), u"Plain");
  auto* other = AddTestFactory(factories, TSecondPlainModule::StaticClass(), u"Plain");
  auto* b = AddTestFactory(factories, TPlainModule::StaticClass(), u"Again");
  TWebModuleList set(&factories);
  TAddedLog log;
  set.SetOnModuleAdded(TModuleAddedProc::Of<&TAddedLog::ModuleAdded>(&log));

  TComponent* last = set.AddModuleClass(TPlainModule::StaticClass());
  EXPECT_EQ(a->Made, 1);
  EXPECT_EQ(b->Made, 1);
  EXPECT_EQ(other->Made, 0);
  ASSERT_EQ(set.GetItemCount(), 2);
  EXPECT_EQ(last, set.GetItem(1));
  EXPECT_EQ(set.AddModuleClass(TDerivedPlainModule::StaticClass()), nullptr);

  TComponent* named = set.AddModuleName(u"PLAIN");
  EXPECT_EQ(a->Made, 2);
  EXPECT_EQ(other->Made, 0);
  EXPECT_EQ(named->ClassType(), TPlainModule::StaticClass());
  EXPECT_EQ(set.AddModuleName(u"Missing"), nullptr);
  EXPECT_EQ(log.Added, Modules(set));
  EXPECT_EQ(set.GetItemCount(), 3);
}

TEST(WebModuleList, PromotesOnlyDestroyingFactoriesOfTheName) {
  TWebModuleFactoryList factories;
  auto* destroying = AddTestFactory(factories, TPlainModule::StaticClass(), u"Plain", crOnDemand, caDestroy);
  auto* caching = AddTestFactory(factories, TPlainModule::StaticClass(), u"plain", crOnDemand, caCache);
  auto* otherName = AddTestFactory(factories, TPlainModule::StaticClass(), u"Other", crOnDemand, caDestroy);
  TWebModuleList set(&factories);
  set.PromoteFactoryClass(u"PLAIN");
  EXPECT_EQ(destroying->Prevented, 1);
  EXPECT_EQ(caching->Prevented, 0);
  EXPECT_EQ(otherName->Prevented, 0);
}

// A name asked for during loading is remembered once, whatever its case and
// however often, and made when the outermost bracket closes.
TEST(WebModuleList, AMissingNameIsRecordedOnceAndMadeWhenTheOutermostBracketCloses) {
  TWebModuleFactoryList factories;
  auto* target = AddTestFactory(factories, TTargetModule::StaticClass(), u"Target", crOnDemand, caDestroy);
  TWebModuleList set(&factories);
  set.StartFixup();
  set.StartFixup();
  for (const char16_t* name : {u"Target", u"TARGET", u"target", u"Target"})
    EXPECT_EQ(FindWebModuleComponent(name), nullptr);
  set.EndFixup();
  EXPECT_EQ(target->Made, 0);  // an inner bracket does not resolve
  set.EndFixup();
  EXPECT_EQ(target->Made, 1);
  EXPECT_EQ(target->Prevented, 1);
  ASSERT_EQ(set.GetItemCount(), 1);
  EXPECT_EQ(set.GetItem(0)->Name(), u"Target");

  // Outside a bracket nothing is found and nothing is recorded.
  EXPECT_EQ(FindWebModuleComponent(u"Target"), nullptr);
  EXPECT_EQ(FindWebModuleComponent(u"Other"), nullptr);
  set.StartFixup();
  EXPECT_EQ(FindWebModuleComponent(u"target"), set.GetItem(0));
  set.EndFixup();
  EXPECT_EQ(target->Made, 1);
  EXPECT_EQ(target->Prevented, 1);  // nothing was left over to promote again
  EXPECT_EQ(set.GetItemCount(), 1);
}

// A module whose stored definition refers to a component of another module of
// its set gets the reference once that module is there.
TEST(WebModuleList, ReferencesToAnotherModuleOfTheSetAreResolvedWhenTheBracketCloses) {
  struct TCase {
    const char* What;
    TClass TargetClass;
    TWebModuleCreateMode TargetMode;
  };
  const TCase cases[] = {
      {"made on demand by code", TTargetModule::StaticClass(), crOnDemand},
      {"made on demand from its definition", TStoredTargetModule::StaticClass(), crOnDemand},
      {"made after the referrer, found at the close", TTargetModule::StaticClass(), crAlways},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    TWebModuleFactoryList factories;
    auto* referrer = AddTestFactory(factories, TReferrerModule::StaticClass(), u"Referrer", crAlways);
    auto* target = AddTestFactory(factories, c.TargetClass, u"Target", c.TargetMode);
    {
      TWebModuleList set(&factories);
      set.AutoCreateModules();
      EXPECT_EQ(referrer->Made, 1);
      EXPECT_EQ(target->Made, 1);
      auto modules = Modules(set);
      ASSERT_EQ(modules.size(), 2u);
      EXPECT_EQ(modules[0]->Name(), u"Referrer");
      EXPECT_EQ(modules[1]->Name(), u"Target");
      TComponent* thing = modules[1]->FindComponent(u"Thing");
      ASSERT_NE(thing, nullptr);
      EXPECT_EQ(PartOf(modules[0], u"Part1")->Partner(), thing);
      EXPECT_EQ(PartOf(modules[0], u"Part2")->Partner(), thing);
      EXPECT_EQ(GlobalFixupCount(), 0);
    }
  }
}

TEST(WebModuleList, AFactoryWhoseModuleAnswersToAnotherNameIsAskedOnce) {
  TWebModuleFactoryList factories;
  AddTestFactory(factories, TReferrerModule::StaticClass(), u"Referrer", crAlways);
  auto* wrong = AddTestFactory(factories, TElsewhereModule::StaticClass(), u"Target");
  {
    TWebModuleList set(&factories);
    set.AutoCreateModules();
    EXPECT_EQ(wrong->Made, 1);
    ASSERT_EQ(set.GetItemCount(), 2);
    EXPECT_EQ(PartOf(set.GetItem(0), u"Part1")->Partner(), nullptr);
    // Still waiting, until the referring module goes.
    EXPECT_EQ(GlobalFixupCount(), 2);
  }
  EXPECT_EQ(GlobalFixupCount(), 0);
}

// A module that cannot be built stays out of its set whole; the set keeps
// what was made before, and the thread's bracket is closed.
TEST(WebModuleList, AModuleThatFailsLeavesNothingInItsSet) {
  struct TCase {
    const char* What;
    TClass Failing;
    TWebModuleCreateMode FailingMode;
    std::vector<TClass> Kept;
  };
  const TClass referrer = TReferrerModule::StaticClass(), plain = TPlainModule::StaticClass();
  const TCase cases[] = {
      {"construction fails part-way", TBrokenModule::StaticClass(), crAlways, {referrer}},
      {"its definition fails", TFailingModule::StaticClass(), crAlways, {referrer}},
      {"the module made at the close fails", TFailingModule::StaticClass(), crOnDemand, {referrer, plain}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    int parts = TTestPart::Live;
    TWebModuleFactoryList factories;
    AddTestFactory(factories, TReferrerModule::StaticClass(), u"Referrer", crAlways);
    auto* failing = AddTestFactory(factories, c.Failing, u"Target", c.FailingMode);
    AddTestFactory(factories, TPlainModule::StaticClass(), u"Plain", crAlways);
    {
      TWebModuleList set(&factories);
      TAddedLog log;
      set.SetOnModuleAdded(TModuleAddedProc::Of<&TAddedLog::ModuleAdded>(&log));
      EXPECT_ANY_THROW(set.AutoCreateModules());
      EXPECT_EQ(failing->Made, 1);
      std::vector<TClass> kept;
      for (TComponent* m : Modules(set)) kept.push_back(m->ClassType());
      EXPECT_EQ(kept, c.Kept);
      EXPECT_EQ(log.Added, Modules(set));
      EXPECT_EQ(TTestPart::Live, parts + 2);  // the referrer's own two
      // No bracket is open any more on this thread.
      EXPECT_EQ(FindWebModuleComponent(u"Referrer"), nullptr);
    }
    EXPECT_EQ(TTestPart::Live, parts);
    EXPECT_EQ(GlobalFixupCount(), 0);
  }
}

TEST(WebModuleList, EachThreadSeesOnlyTheSetItIsLoading) {
  TWebModuleFactoryList factories;
  TWebModuleList mine(&factories), theirs(&factories);
  auto* own = NewComponent<TPlainModule>(nullptr);
  own->SetName(u"Own");
  mine.AddModule(own);
  auto* foreign = NewComponent<TPlainModule>(nullptr);
  foreign->SetName(u"Foreign");
  theirs.AddModule(foreign);

  mine.StartFixup();
  TComponent* seenThere[2] = {};
  std::thread other([&] {
    theirs.StartFixup();
    seenThere[0] = FindWebModuleComponent(u"Own");
    seenThere[1] = FindWebModuleComponent(u"Foreign");
    theirs.EndFixup();
  });
  other.join();
  EXPECT_EQ(FindWebModuleComponent(u"Own"), own);
  EXPECT_EQ(FindWebModuleComponent(u"Foreign"), nullptr);
  mine.EndFixup();
  EXPECT_EQ(seenThere[0], nullptr);
  EXPECT_EQ(seenThere[1], foreign);
}

TEST(WebModuleList, ModulesKeepTheirStoredNamesInEverySet) {
  TWebModuleFactoryList factories;
  AddTestFactory(factories, TStoredTargetModule::StaticClass(), u"Target", crAlways);
  TWebModuleList first(&factories), second(&factories);
  first.AutoCreateModules();
  second.AutoCreateModules();
  // While the first set's bracket is open, its module is a known global
  // component; the second set's module still keeps the stored name.
  first.StartFixup();
  TComponentPtr<TComponent> third(factories.GetItem(0)->GetModule());
  first.EndFixup();
  EXPECT_EQ(first.GetItem(0)->Name(), u"Target");
  EXPECT_EQ(second.GetItem(0)->Name(), u"Target");
  EXPECT_EQ(third->Name(), u"Target");
}
