#include <gtest/gtest.h>

#include <tolvane/runtime/application_hook.h>
#include <tolvane/runtime/component.h>
#include <tolvane/runtime/data_module.h>
#include <tolvane/runtime/exception.h>
#include <tolvane/runtime/published.h>
#include "support/test_module.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

// Records what it hears.
class TListener : public TComponent {
  TV_DECLARE_CLASS(TListener)
 public:
  using TComponent::TComponent;
  std::vector<std::pair<String, TOperation>> Heard;
  // Freeing itself reports here, if set.
  std::vector<String>* Freed = nullptr;
  ~TListener() override {
    if (Freed) Freed->push_back(Name());
  }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    // The class shows whether the component is still whole when heard of.
    Heard.emplace_back(AComponent->Name() + u":" + AComponent->ClassName(), Operation);
  }
};
TV_DEFINE_CLASS(TListener, TComponent, CreateComponent<TListener>);

TListener* NewListener(TComponent* Owner, const char16_t* Name, std::vector<String>* Freed = nullptr) {
  auto* c = NewComponent<TListener>(Owner);
  c->SetName(Name);
  c->Freed = Freed;
  return c;
}

}  // namespace

TEST(PublishedTables, LookupSearchesAncestorsIgnoringCase) {
  TClass part = TTestRegisteredPart::StaticClass();
  struct Case {
    const char16_t* Name;
    TTypeKind Kind;
  } cases[] = {
      {u"partner", tkClass}, {u"BIG", tkInt64},    {u"Ratio", tkFloat}, {u"letter", tkWChar},
      {u"methods", tkSet},   {u"Caption", tkLString}, {u"name", tkUString}, {u"TAG", tkInt64},
  };
  for (const auto& c : cases) {
    const TPropInfo* p = part->FindProperty(c.Name);
    ASSERT_TRUE(p) << AnsiOf(c.Name);
    EXPECT_EQ(p->Kind, c.Kind) << AnsiOf(c.Name);
  }
  EXPECT_EQ(part->FindProperty(u"Partner")->ObjectClass, TComponent::StaticClass());
  EXPECT_EQ(part->FindProperty(u"Nothing"), nullptr);
  EXPECT_EQ(TComponent::StaticClass()->FindProperty(u"Partner"), nullptr);  // not upwards

  TClass item = TTestActionItem::StaticClass();
  const TPropInfo* enabled = item->FindProperty(u"enabled");
  EXPECT_EQ(enabled->Kind, tkEnumeration);
  EXPECT_EQ(enabled->EnumNames.size(), 2u);
  EXPECT_TRUE(enabled->HasDefault);
  EXPECT_EQ(enabled->Default, 1);
  const TPropInfo* methodType = item->FindProperty(u"MethodType");
  EXPECT_EQ(std::u16string_view(methodType->EnumNames[4]), u"tmHead");
  EXPECT_EQ(item->FindProperty(u"OnAction")->EventType, &typeid(TTestActionEvent));

  EXPECT_TRUE(TWebModule1::StaticClass()->FindMethod(u"webmodule1defaulthandleraction"));
  EXPECT_FALSE(TWebModule1::StaticClass()->FindMethod(u"WebModule1Default"));
  EXPECT_EQ(TWebModule1::StaticClass()->FindField(u"part1")->FieldClass, TTestPart::StaticClass());
}

TEST(PublishedTables, AccessorsReadAndWriteThroughTheTable) {
  TComponentPtr<TTestPart> part(NewComponent<TTestPart>(nullptr));
  TComponentPtr<TTestModule> module(NewComponent<TTestModule>(nullptr));
  TClass cls = part->ClassType();
  cls->FindProperty(u"Big")->SetOrdinal(part.get(), -9);
  cls->FindProperty(u"Caption")->SetText(part.get(), u"\u00E9t\u00E9");
  EXPECT_TRUE(cls->FindProperty(u"Partner")->SetObject(part.get(), module.get()));
  EXPECT_EQ(part->Big(), -9);
  EXPECT_EQ(part->Caption(), "\xE9t\xE9");
  EXPECT_EQ(cls->FindProperty(u"Partner")->GetObject(part.get()), module.get());
  // A read-only property has no setter.
  EXPECT_EQ(TTestModule::StaticClass()->FindProperty(u"Options")->SetObject, nullptr);

  // Binding a published method to an event checks its signature.
  auto* item = static_cast<TTestActionItem*>(module->Actions()->Add());
  const TPropInfo* onAction = item->ClassType()->FindProperty(u"OnAction");
  const TMethodInfo* handler = module->ClassType()->FindMethod(u"WebModule1DefaultHandlerAction");
  const TMethodInfo* notify = module->ClassType()->FindMethod(u"ModuleCreated");
  EXPECT_FALSE(onAction->SetMethod(item, module.get(), notify));
  EXPECT_FALSE(item->OnAction());
  EXPECT_TRUE(onAction->SetMethod(item, module.get(), handler));
  EXPECT_EQ(item->OnAction(), (TTestActionEvent::Of<&TTestModule::WebModule1DefaultHandlerAction>(module.get())));
  EXPECT_TRUE(onAction->SetMethod(item, module.get(), nullptr));
  EXPECT_FALSE(item->OnAction());
}

TEST(Component, OwnerKeepsOrderFindsByNameAndFreesWhatItOwns) {
  std::vector<String> freed;
  TComponentPtr<TListener> owner(NewListener(nullptr, u"Owner", &freed));
  NewListener(owner.get(), u"A", &freed);
  auto* b = NewListener(owner.get(), u"B", &freed);
  NewListener(b, u"Grandchild", &freed);
  NewListener(owner.get(), u"C", &freed);
  ASSERT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(owner->Components(1), b);
  EXPECT_EQ(b->ComponentIndex(), 1);
  EXPECT_EQ(owner->FindComponent(u"b"), b);
  EXPECT_EQ(owner->FindComponent(u"Grandchild"), nullptr);  // not its own
  EXPECT_THROW(owner->Components(3), EListError);

  owner->SetChildOrder(b, 0);
  EXPECT_EQ(owner->Components(0), b);
  owner.reset();
  // Owned components go first, last first, while their owner is whole.
  EXPECT_EQ(freed, (std::vector<String>{u"C", u"A", u"Grandchild", u"B", u"Owner"}));
}

TEST(Component, OwnerHearsInsertionOnceBuiltAndRemoval) {
  TComponentPtr<TListener> owner(NewListener(nullptr, u"Owner"));
  auto* a = NewListener(owner.get(), u"A");
  TComponentPtr<TListener> loose(NewListener(nullptr, u"Loose"));
  owner->InsertComponent(loose.get());
  EXPECT_EQ(loose->Owner(), owner.get());
  owner->RemoveComponent(loose.get());
  EXPECT_EQ(loose->Owner(), nullptr);
  a->Free();
  using H = std::vector<std::pair<String, TOperation>>;
  // Built components are announced once their construction is complete (the
  // name is set after NewComponent, so the announcement has none).
  EXPECT_EQ(owner->Heard, (H{{u":TListener", opInsert},
                             {u"Loose:TListener", opInsert},
                             {u"Loose:TListener", opRemove},
                             {u"A:TListener", opRemove}}));
  EXPECT_EQ(owner->ComponentCount(), 0);
}

TEST(Component, NamesFollowTheIdentifierRulesAndAreUniquePerOwner) {
  TComponentPtr<TComponent> owner(NewComponent<TComponent>(nullptr));
  auto* a = NewComponent<TComponent>(owner.get());
  auto* b = NewComponent<TComponent>(owner.get());
  a->SetName(u"First");
  struct Case {
    const char16_t* Name;
    const char16_t* Error;  // null: accepted
  } cases[] = {
      {u"_x9", nullptr},
      {u"", nullptr},
      {u"Second", nullptr},
      {u"9lives", u"''9lives'' is not a valid component name"},
      {u"has space", u"''has space'' is not a valid component name"},
      {u"caf\u00E9", u"''caf\u00E9'' is not a valid component name"},
      {u"FIRST", u"A component named FIRST already exists"},
  };
  for (const auto& c : cases) {
    try {
      b->SetName(c.Name);
      EXPECT_EQ(c.Error, nullptr) << AnsiOf(c.Name);
      EXPECT_EQ(b->Name(), c.Name);
    } catch (const EComponentError& e) {
      ASSERT_NE(c.Error, nullptr) << AnsiOf(c.Name);
      EXPECT_EQ(e.Message(), c.Error);
    }
  }
  a->SetName(u"FIRST");  // its own name in other letters
  EXPECT_EQ(a->Name(), u"FIRST");
  // Joining an owner that has the name already is refused too.
  TComponentPtr<TComponent> clash(NewComponent<TComponent>(nullptr));
  clash->SetName(u"first");
  EXPECT_THROW(owner->InsertComponent(clash.get()), EComponentError);
  EXPECT_EQ(clash->Owner(), nullptr);
}

TEST(Component, FreeNotificationsWorkWhicheverGoesFirst) {
  for (bool watchedFirst : {true, false}) {
    auto* watcher = NewListener(nullptr, u"Watcher");
    auto* watched = NewListener(nullptr, u"Watched");
    watched->FreeNotification(watcher);
    watched->FreeNotification(watcher);  // once is enough
    if (watchedFirst) {
      watched->Free();
      ASSERT_EQ(watcher->Heard.size(), 1u);
      EXPECT_EQ(watcher->Heard[0], std::make_pair(String(u"Watched:TListener"), opRemove));
      watcher->Free();
    } else {
      // The watched one must not call a freed watcher later (AddressSanitizer).
      watcher->Free();
      EXPECT_TRUE(watched->Heard.size() <= 1u);
      watched->Free();
    }
  }
}

TEST(Component, PublishedFieldsFollowTheOwnedComponentOfTheirName) {
  TComponentPtr<TTestModule> m(NewComponent<TTestModule>(nullptr));
  auto* part = NewComponent<TTestPart>(m.get());
  EXPECT_EQ(m->Part1, nullptr);
  part->SetName(u"part1");
  EXPECT_EQ(m->Part1, part);
  part->SetName(u"Other");
  EXPECT_EQ(m->Part1, nullptr);
  part->SetName(u"Part1");
  part->Free();
  EXPECT_EQ(m->Part1, nullptr);
}

namespace {

// Logs the order in which a data module's events and destructors run.
class TLoggedModule : public TDataModule {
  TV_DECLARE_CLASS(TLoggedModule)
 public:
  static inline std::vector<String>* Log = nullptr;
  static inline bool OldOrder = false;
  static inline bool Raise = false;
  explicit TLoggedModule(TComponent* AOwner) : TDataModule(AOwner) {
    SetOldCreateOrder(OldOrder);
    SetOnCreate(TNotifyEvent::Of<&TLoggedModule::Created>(this));
    SetOnDestroy(TNotifyEvent::Of<&TLoggedModule::Destroyed>(this));
    auto* child = NewComponent<TComponent>(this);
    child->SetName(u"Child");
    Log->push_back(u"constructed");
  }
  ~TLoggedModule() override { Log->push_back(u"derived destructor"); }
  void Created(TObject* Sender) {
    Log->push_back(Sender == this ? u"OnCreate" : u"OnCreate?");
    if (Raise) throw EConvertError(u"create failed");
  }
  void Destroyed(TObject*) {
    Log->push_back(GlobalNameSpace().WrittenByMe() ? u"OnDestroy locked" : u"OnDestroy");
    Log->push_back(FindComponent(u"Child") ? u"child present" : u"child gone");
    if (Raise) throw EConvertError(u"destroy failed");
  }
  void RunOldCreate() { DoCreate(); }
};
TV_DEFINE_CLASS(TLoggedModule, TDataModule, CreateComponent<TLoggedModule>);

struct THook : TObject {
  std::vector<String>* Log;
  void Handle(TObject* Sender) {
    Log->push_back(Sender ? u"hook " + Sender->ClassName() : u"hook");
  }
};

}  // namespace

TEST(DataModule, CreateOrderDecidesWhenTheEventsRun) {
  std::vector<String> log;
  TLoggedModule::Log = &log;
  TLoggedModule::Raise = false;
  // Under either order OnDestroy runs first in destruction, under the
  // name-space lock, with the module and its components whole.
  const std::vector<String> destruction{u"OnDestroy locked", u"child present", u"derived destructor"};

  TLoggedModule::OldOrder = false;
  auto* m = NewComponent<TLoggedModule>(nullptr);
  log.push_back(u"built");
  m->Free();
  std::vector<String> expected{u"constructed", u"OnCreate", u"built"};
  expected.insert(expected.end(), destruction.begin(), destruction.end());
  EXPECT_EQ(log, expected);

  // Old order: construction does not run OnCreate; the reading constructor does.
  log.clear();
  TLoggedModule::OldOrder = true;
  m = NewComponent<TLoggedModule>(nullptr);
  log.push_back(u"built");
  m->RunOldCreate();
  m->Free();
  expected = {u"constructed", u"built", u"OnCreate"};
  expected.insert(expected.end(), destruction.begin(), destruction.end());
  EXPECT_EQ(log, expected);
  EXPECT_FALSE(GlobalNameSpace().WrittenByMe());
}

TEST(DataModule, EventExceptionsGoToTheHook) {
  std::vector<String> log;
  TLoggedModule::Log = &log;
  TLoggedModule::OldOrder = false;
  TLoggedModule::Raise = true;
  // Without a hook a failing OnCreate fails the construction; the module is freed.
  EXPECT_THROW(NewComponent<TLoggedModule>(nullptr), EConvertError);
  EXPECT_EQ(log.back(), u"derived destructor");

  THook hook;
  hook.Log = &log;
  ApplicationHandleException = TNotifyEvent::Of<&THook::Handle>(&hook);
  log.clear();
  auto* m = NewComponent<TLoggedModule>(nullptr);
  m->Free();  // the failing OnDestroy is handed over and dropped
  ApplicationHandleException = {};
  TLoggedModule::Raise = false;
  EXPECT_EQ(log, (std::vector<String>{u"constructed", u"OnCreate", u"hook TLoggedModule", u"OnDestroy locked",
                                      u"child present", u"hook TLoggedModule", u"derived destructor"}));
}

namespace {

// Fails in its own destruction step when told to; counted.
template <class Base>
class TFailingToStop : public Base {
 public:
  explicit TFailingToStop(TComponent* AOwner) : Base(AOwner) { ++Live; }
  ~TFailingToStop() override { --Live; }
  void BeforeDestruction() override {
    Base::BeforeDestruction();
    if (!Failure.empty()) throw EConvertError(Failure);
  }
  String Failure;
  static inline int Live = 0;
};

}  // namespace

// A failure while a component is freed does not stop the freeing: the
// component, what it owns and its name-space lock all go, then the first
// failure is raised.
TEST(DataModule, FreeingGoesOnPastAFailureAndRaisesTheFirst) {
  struct {
    const char* What;
    const char16_t* ModuleFailure;
    const char16_t* PartFailure;
    const char16_t* Raised;
  } cases[] = {
      {"the module's own step", u"module failed", u"", u"module failed"},
      {"a component it owns", u"", u"part failed", u"part failed"},
      {"both", u"module failed", u"part failed", u"module failed"},
  };
  using TModule = TFailingToStop<TDataModule>;
  using TPart = TFailingToStop<TComponent>;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    auto* module = new TModule(nullptr);
    module->AfterConstruction();
    module->Failure = c.ModuleFailure;
    for (int i = 0; i < 2; ++i) {
      auto* part = new TPart(module);
      part->AfterConstruction();
      part->Failure = c.PartFailure;
    }
    String raised;
    try {
      module->Free();
    } catch (const EConvertError& E) {
      raised = E.Message();
    }
    EXPECT_EQ(raised, c.Raised);
    EXPECT_EQ(TModule::Live, 0);
    EXPECT_EQ(TPart::Live, 0);
    ASSERT_FALSE(GlobalNameSpace().WrittenByMe());
  }
}
