#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include <tolvane/platform/resource.h>
#include <tolvane/runtime/exception.h>
#include <tolvane/streaming/component_res.h>
#include <tolvane/streaming/reader.h>
#include "support/application_page.h"
#include "support/definition_writer.h"
#include "support/test_module.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

using TBytes = std::vector<std::uint8_t>;

// The module head every case below starts from.
TDefinitionWriter ModuleHead(std::string_view Name = "WebModule1") {
  TDefinitionWriter w;
  w.Signature().Component("TWebModule1", Name);
  return w;
}

// A module whose one action item carries the given property records.
TBytes ModuleWithItem(const std::function<void(TDefinitionWriter&)>& ItemProps) {
  auto w = ModuleHead();
  w.Prop("Actions").Collection().List();
  ItemProps(w);
  w.End().End().End().End();
  return w.Bytes;
}

// The message of the reading error a definition raises (empty when none).
String ReadError(const TBytes& Definition) {
  try {
    TTestModule::Load(Definition);
  } catch (const Exception& e) {
    return e.ClassName() + u": " + e.Message();
  }
  return u"";
}

void ExpectWebModule1(TTestModule& m) {
  EXPECT_EQ(m.Name(), u"WebModule1");
  EXPECT_FALSE(m.OldCreateOrder());
  ASSERT_EQ(m.Actions()->Count(), 1);
  TTestActionItem* item = m.Actions()->Items(0);
  EXPECT_TRUE(item->Default());
  EXPECT_EQ(item->Name(), u"DefaultHandler");
  EXPECT_EQ(item->PathInfo(), u"/");
  EXPECT_TRUE(item->Enabled());  // defaults, not stored
  EXPECT_EQ(item->MethodType(), tmAny);
  // The event is bound to the module itself and runs its handler.
  ASSERT_TRUE(item->OnAction());
  EXPECT_EQ(item->OnAction().Data(), &m);
  String content;
  bool handled = false;
  item->OnAction()(item, content, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(m.LastSender, item);
  EXPECT_EQ(content, StringOf(tolvane::testing::kApplicationPage));
  EXPECT_EQ(m.DesignHeight(), 230);
  EXPECT_EQ(m.DesignWidth(), 415);
  EXPECT_EQ(m.LoadedCalls, 1);
  EXPECT_FALSE(m.ComponentState().Contains(csLoading));
  EXPECT_FALSE(m.ComponentState().Contains(csReading));
}

}  // namespace

TEST(Reader, ReadsTheApplicationModuleDefinition) {
  TBytes def = WebModule1Definition();
  ASSERT_EQ(def.size(), 159u);
  auto m = TTestModule::Load(def);
  ExpectWebModule1(*m);
}

TEST(Reader, TheEmbeddedResourceIsTheDefinitionAndFoundIgnoringCase) {
  for (auto name : {u"TWEBMODULE1", u"TWebModule1", u"twebmodule1"}) {
    auto data = platform::FindRCData(name);
    ASSERT_TRUE(data) << AnsiOf(name);
    EXPECT_EQ(TBytes(data->begin(), data->end()), WebModule1Definition());
  }
  EXPECT_FALSE(platform::FindRCData(u"TWebModule"));
  EXPECT_FALSE(platform::FindRCData(u"TWEBMODULE1X"));
}

TEST(Reader, ModuleConstructionReadsEveryClassOfItsChainThatHasADefinition) {
  TComponentPtr<TWebModule1> m(NewComponent<TWebModule1>(nullptr));
  ExpectWebModule1(*m);
  // No class between the component base and TTestModule has one.
  TComponentPtr<TTestModule> plain(NewComponent<TTestModule>(nullptr));
  EXPECT_FALSE(InitInheritedComponent(plain.get(), TDataModule::StaticClass()));
  EXPECT_EQ(plain->Actions()->Count(), 0);
  EXPECT_FALSE(InternalReadComponentRes(u"TTestModule", plain.get()));
}

TEST(Reader, NamesAreMatchedIgnoringCaseAndTheStoredClassIsNotCompared) {
  TDefinitionWriter w;
  w.Signature().Component("TSomethingElse", "WebModule1");
  w.Prop("oldcreateorder").False();
  w.Prop("ACTIONS").Collection().List();
  w.Prop("default").True();
  w.Prop("name").String("DefaultHandler");
  w.Prop("pathinfo").String("/");
  w.Prop("onaction").Ident("webmodule1defaulthandleraction");
  w.End().End();
  w.Prop("height").Int16(230);
  w.Prop("WIDTH").Int16(415);
  w.End().End();
  auto m = TTestModule::Load(w.Bytes);
  ExpectWebModule1(*m);
}

TEST(Reader, OrderValuesBeforeItemsAreIgnored) {
  auto w = ModuleHead();
  w.Prop("Actions").Collection();
  w.Int8(5).List().Prop("Name").String("A").End();
  w.Int16(-300).List().Prop("Name").String("B").End();
  w.Int32(70000).List().Prop("Name").String("C").End();
  w.End().End().End();
  auto m = TTestModule::Load(w.Bytes);
  ASSERT_EQ(m->Actions()->Count(), 3);
  EXPECT_EQ(m->Actions()->Items(0)->Name(), u"A");
  EXPECT_EQ(m->Actions()->Items(2)->Name(), u"C");
}

TEST(Reader, ACollectionWithItemsReplacesTheExistingOnesAnEmptyOneKeepsThem) {
  auto readInto = [](const TBytes& def) {
    TComponentPtr<TTestModule> m(NewComponent<TTestModule>(nullptr));
    for (auto name : {u"Old1", u"Old2"}) static_cast<TTestActionItem*>(m->Actions()->Add())->SetName(name);
    ReadComponentData(def, m.get());
    return m;
  };
  auto replaced = readInto(WebModule1Definition());
  ASSERT_EQ(replaced->Actions()->Count(), 1);
  EXPECT_EQ(replaced->Actions()->Items(0)->Name(), u"DefaultHandler");

  auto w = ModuleHead();
  w.Prop("Actions").Collection().End().End().End();
  auto kept = readInto(w.Bytes);
  ASSERT_EQ(kept->Actions()->Count(), 2);
  EXPECT_EQ(kept->Actions()->Items(1)->Name(), u"Old2");
}

TEST(Reader, DefinedPropertiesReadSignedIntegers) {
  struct Case {
    TBytes Value;
    int Expected;
  } cases[] = {
      {{0x03, 0xE6, 0x00}, 230},
      {{0x03, 0x9F, 0x01}, 415},
      {{0x03, 0xFF, 0xFF}, -1},
      {{0x02, 0x80}, -128},
      {{0x04, 0x00, 0x00, 0x00, 0x80}, INT32_MIN},
  };
  for (const auto& c : cases) {
    auto w = ModuleHead();
    w.Prop("Height").Bytes.insert(w.Bytes.end(), c.Value.begin(), c.Value.end());
    w.Prop("Left").Int16(-2).Prop("Top").Int16(7).Prop("HorizontalOffset").Int8(3).Prop("VerticalOffset").Int8(4);
    w.End().End();
    auto m = TTestModule::Load(w.Bytes);
    EXPECT_EQ(m->DesignHeight(), c.Expected);
    EXPECT_EQ(m->DesignLeft(), -2);
    EXPECT_EQ(m->DesignTop(), 7);
    EXPECT_EQ(m->DesignHorizontalOffset(), 3);
    EXPECT_EQ(m->DesignVerticalOffset(), 4);
  }
}

TEST(Reader, DottedPathsReachNestedObjects) {
  auto w = ModuleHead();
  w.Prop("options.level").Int8(9).End().End();
  auto m = TTestModule::Load(w.Bytes);
  EXPECT_EQ(m->Options()->Level(), 9);
}

TEST(Reader, ErrorsCarryTheirExactTextNestedOuterFirst) {
  using W = TDefinitionWriter;
  auto moduleProp = [](std::function<void(W&)> f) {
    auto w = ModuleHead();
    f(w);
    w.End().End();
    return w.Bytes;
  };
  auto item = [](std::function<void(W&)> f) { return ModuleWithItem(f); };
  const char16_t* itemWrap = u"EReadError: Error reading WebModule1.Actions: Error reading TTestActionItem.";
  struct Case {
    TBytes Definition;
    String Expected;
  } cases[] = {
      {TBytes{'T', 'P', 'F', '1', 0, 0, 0, 0}, u"EReadError: Invalid stream format"},
      {TBytes{'T', 'P'}, u"EReadError: Invalid stream format"},
      {moduleProp([](W& w) { w.Prop("Colour").Int8(1); }),
       u"EReadError: Error reading WebModule1.Colour: Property Colour does not exist"},
      {item([](W& w) { w.Prop("OnAction").Ident("NoSuchHandler"); }),
       String(itemWrap) + u"OnAction: Invalid property value"},
      // A published method with another signature is no handler for the event.
      {item([](W& w) { w.Prop("OnAction").Ident("ModuleCreated"); }),
       String(itemWrap) + u"OnAction: Invalid property value"},
      {item([](W& w) { w.Prop("MethodType").Ident("tmPatch"); }),
       String(itemWrap) + u"MethodType: Invalid property value"},
      {item([](W& w) { w.Prop("Default").Int8(1); }), String(itemWrap) + u"Default: Invalid property value"},
      {item([](W& w) { w.Prop("Name").Int8(1); }), String(itemWrap) + u"Name: Invalid property value"},
      // Items define no design size.
      {item([](W& w) { w.Prop("Height").Int8(1); }), String(itemWrap) + u"Height: Property Height does not exist"},
      {moduleProp([](W& w) { w.Prop("Actions").Collection().Prop("Name"); }),
       u"EReadError: Error reading WebModule1.Actions: Invalid property value"},
      {moduleProp([](W& w) { w.Prop("OldCreateOrder.Level").Int8(1); }),
       u"EReadError: Error reading WebModule1.OldCreateOrder.Level: Invalid property path"},
      {moduleProp([](W& w) { w.Prop("Nothing.Level").Int8(1); }),
       u"EReadError: Error reading WebModule1.Nothing.Level: Property Nothing.Level does not exist"},
      {moduleProp([](W& w) { w.Prop("Options.Depth").Int8(1); }),
       u"EReadError: Error reading WebModule1.Options.Depth: Property Depth does not exist"},
      {moduleProp([](W& w) { w.Prop("Options").Nil(); }),
       u"EReadError: Error reading WebModule1.Options: Property is read-only"},
      {moduleProp([](W& w) { w.Prop("Tag").Byte(22); }),
       u"EReadError: Error reading WebModule1.Tag: Invalid property value"},
      {ModuleHead("1st").End().End().Bytes, u"EComponentError: ''1st'' is not a valid component name"},
      {ModuleHead().End().Component("TNoSuchClass", "X").End().End().End().Bytes,
       u"EClassNotFound: Class TNoSuchClass not found"},
      // Data modules are components, but not the child classes this root knows.
      {ModuleHead().End().Component("TTestActionItem", "X").End().End().End().Bytes,
       u"EClassNotFound: Class TTestActionItem not found"},
      {ModuleHead().End().Component("TTestPart", "Part1").End().End().Component("TTestPart", "PART1").End().End().End().Bytes,
       u"EComponentError: A component named PART1 already exists"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadError(c.Definition), c.Expected);
}

TEST(Reader, LengthsThatOverrunTheDefinitionFailWithoutReadingPastIt) {
  using W = TDefinitionWriter;
  std::function<void(W&)> lies[] = {
      [](W& w) { w.Prop("Name").Byte(6).Byte(200).Raw("short"); },
      [](W& w) { w.Prop("Name").Byte(12).LE(std::uint32_t(0xFFFFFFF0)).Raw("x"); },
      [](W& w) { w.Prop("Name").Byte(20).LE(std::uint32_t(0x7FFFFFFF)).Raw("x"); },
      [](W& w) { w.Prop("Name").Byte(18).LE(std::uint32_t(0x80000001)).Raw("xx"); },
      [](W& w) { w.Prop("Colour").Byte(10).LE(std::uint32_t(0xFFFFFFFF)); },
  };
  for (const auto& lie : lies) {
    auto w = ModuleHead();
    w.Prop("Actions").Collection().List();
    lie(w);
    // Nothing follows: the stated length runs past the end.
    String message = ReadError(w.Bytes);
    EXPECT_TRUE(message.ends_with(u"Stream read error")) << AnsiOf(message);
  }
}

TEST(Reader, EveryTruncationOfTheDefinitionFailsCleanly) {
  TBytes def = WebModule1Definition();
  for (std::size_t n = 0; n < def.size(); ++n) {
    TBytes cut(def.begin(), def.begin() + std::ptrdiff_t(n));
    String message = ReadError(cut);
    bool expected = n < 4 ? message == u"EReadError: Invalid stream format" : message.ends_with(u"Stream read error");
    EXPECT_TRUE(expected) << n << ": " << AnsiOf(message);
  }
}

TEST(Reader, AWrongSignatureChangesNothing) {
  TComponentPtr<TTestModule> m(NewComponent<TTestModule>(nullptr));
  TBytes def = WebModule1Definition();
  def[3] = 'X';
  EXPECT_THROW(ReadComponentData(def, m.get()), EReadError);
  EXPECT_EQ(m->Name(), u"");
  EXPECT_EQ(m->Actions()->Count(), 0);
  EXPECT_TRUE(m->ComponentState().Empty());
}

TEST(Reader, ValueKindsOfPublishedProperties) {
  auto w = ModuleHead();
  w.End();
  w.Component("TTestPart", "Part1");
  w.Prop("Big").Int64(-5000000000);
  w.Prop("Ratio").Double(0.25);
  w.Prop("Letter").WString(u"\u00E9");
  w.Prop("Methods").Set({"tmGet", "TMHEAD"});
  w.Prop("Caption").UTF8String("caf\xC3\xA9");
  w.End().End();
  w.Component("TTestPart", "Part2");
  // 80-bit extended -2.5: significand 0xA000..., exponent 16384, sign set.
  w.Prop("Ratio").Byte(5).LE(std::uint64_t(0xA000000000000000ull)).LE(std::uint16_t(0xC000));
  w.Prop("Big").Int8(-7);
  w.Prop("Letter").String("x");
  w.Prop("Caption").LString("plain");
  w.End().End();
  w.Component("TTestPart", "Part3");
  w.Prop("Ratio").Int16(-3);
  w.Prop("Methods").Set({});
  w.End().End();
  w.End();
  auto m = TTestModule::Load(w.Bytes);
  auto* p1 = static_cast<TTestPart*>(m->FindComponent(u"Part1"));
  auto* p2 = static_cast<TTestPart*>(m->FindComponent(u"Part2"));
  auto* p3 = static_cast<TTestPart*>(m->FindComponent(u"Part3"));
  ASSERT_TRUE(p1 && p2 && p3);
  EXPECT_EQ(p1->Big(), -5000000000);
  EXPECT_EQ(p1->Ratio(), 0.25);
  EXPECT_EQ(p1->Letter(), u'\u00E9');
  EXPECT_EQ(p1->Methods(), (TSet<TTestMethodType>{tmGet, tmHead}));
  EXPECT_EQ(p1->Caption(), "caf\xE9");  // stored in the ANSI code page
  EXPECT_EQ(p2->Ratio(), -2.5);
  EXPECT_EQ(p2->Big(), -7);
  EXPECT_EQ(p2->Letter(), u'x');
  EXPECT_EQ(p2->Caption(), "plain");
  EXPECT_EQ(p3->Ratio(), -3.0);
  EXPECT_TRUE(p3->Methods().Empty());
}

TEST(Reader, ChildComponentsAreFoundNamedPositionedAndLoadedOnce) {
  RegisterClass(TTestRegisteredPart::StaticClass());
  auto w = ModuleHead();
  w.End();
  // Part1's class is known from the module's published field; its partner is
  // read before it exists.
  w.Component("TTestPart", "Part1").Prop("Partner").Ident("Part2").Prop("Left").Int16(12).End().End();
  // Registered class; the prefix asks for position 0 among the siblings.
  w.Byte(0xF2).Int8(0).Component("TTestRegisteredPart", "Part2").Prop("Partner").Ident("Ghost").End().End();
  w.End();
  auto m = TTestModule::Load(w.Bytes);
  UnRegisterClass(TTestRegisteredPart::StaticClass());
  ASSERT_EQ(m->ComponentCount(), 2);
  auto* p2 = dynamic_cast<TTestRegisteredPart*>(m->Components(0));
  auto* p1 = dynamic_cast<TTestPart*>(m->Components(1));
  ASSERT_TRUE(p1 && p2);
  EXPECT_EQ(m->Part1, p1);
  EXPECT_EQ(p1->Partner(), p2);
  EXPECT_EQ(p2->Partner(), nullptr);  // a reference to nothing is cleared
  EXPECT_EQ(p1->DesignLeft(), 12);
  EXPECT_EQ(p1->LoadedCalls(), 1);
  EXPECT_EQ(p2->LoadedCalls(), 1);
  EXPECT_EQ(m->LoadedCalls, 1);
  EXPECT_EQ(GlobalFixupCount(), 0);
  // Unregistered, the class is unknown again.
  EXPECT_EQ(ReadError(w.Bytes), u"EClassNotFound: Class TTestRegisteredPart not found");
}

TEST(Reader, AModuleThatFailsToReadIsFreedWhole) {
  int parts = TTestPart::Live, items = TTestActionItem::Live;
  auto w = ModuleHead();
  w.Prop("Actions").Collection().List().Prop("Name").String("A").End().End();
  w.End();
  w.Component("TTestPart", "Part1").Prop("Partner").Ident("Other.Thing").End().End();
  w.Component("TTestPart", "Part2").Prop("Colour").Int8(1).End().End();
  w.End();
  EXPECT_EQ(ReadError(w.Bytes), u"EReadError: Error reading Part2.Colour: Property Colour does not exist");
  EXPECT_EQ(TTestPart::Live, parts);
  EXPECT_EQ(TTestActionItem::Live, items);
  EXPECT_EQ(GlobalFixupCount(), 0);
}

TEST(Reader, ReferencesToOtherModulesWaitUntilThoseExist) {
  static TTestModule* other = nullptr;
  auto finder = [](const String& Name) -> TComponent* { return other && SameText(Name, u"Other") ? other : nullptr; };
  auto w = ModuleHead();
  w.End();
  w.Component("TTestPart", "Part1").Prop("Partner").Ident("Other.Thing").End().End();
  w.End();
  auto m = TTestModule::Load(w.Bytes);
  auto* part = static_cast<TTestPart*>(m->FindComponent(u"Part1"));
  EXPECT_EQ(part->Partner(), nullptr);
  EXPECT_EQ(GlobalFixupCount(), 1);

  RegisterFindGlobalComponentProc(finder);
  RegisterFindGlobalComponentProc(finder);  // one entry
  GlobalFixupReferences();
  EXPECT_EQ(GlobalFixupCount(), 1);  // no module named Other yet

  TComponentPtr<TTestModule> made(NewComponent<TTestModule>(nullptr));
  made->SetName(u"Other");
  auto* thing = NewComponent<TTestPart>(made.get());
  thing->SetName(u"Thing");
  other = made.get();
  GlobalFixupReferences();
  EXPECT_EQ(part->Partner(), thing);
  EXPECT_EQ(GlobalFixupCount(), 0);
  other = nullptr;
  UnregisterFindGlobalComponentProc(finder);
  EXPECT_EQ(FindGlobalComponent(u"Other"), nullptr);

  // A module freed while its references wait takes them along.
  auto again = TTestModule::Load(w.Bytes);
  EXPECT_EQ(GlobalFixupCount(), 1);
  again.reset();
  EXPECT_EQ(GlobalFixupCount(), 0);
}

TEST(Reader, RootNamesAreMadeUniqueThroughTheHook) {
  auto saved = IsUniqueGlobalComponentNameProc.load();
  IsUniqueGlobalComponentNameProc = [](const String& Name) {
    return Name != u"WebModule1" && Name != u"WebModule1_1";
  };
  auto m = TTestModule::Load(WebModule1Definition());
  IsUniqueGlobalComponentNameProc = saved;
  EXPECT_EQ(m->Name(), u"WebModule1_2");
  // The default hook asks the finders: with none, every name is unique.
  EXPECT_TRUE(IsUniqueGlobalComponentNameProc.load()(u"WebModule1"));
}

TEST(Reader, AnErrorHandlerCanLetReadingGoOn) {
  auto w = ModuleHead();
  w.Prop("Colour").Int8(1).Prop("Tag").Int8(5).End().End();
  TComponentPtr<TTestModule> m(NewComponent<TTestModule>(nullptr));
  struct THandler : TObject {
    std::vector<String> Seen;
    void OnError(TReader*, const String& Message, bool& Handled) {
      Seen.push_back(Message);
      Handled = true;
    }
  } handler;
  TReader reader(w.Bytes);
  reader.OnError = TReaderError::Of<&THandler::OnError>(&handler);
  reader.ReadRootComponent(m.get());
  EXPECT_EQ(handler.Seen, std::vector<String>{u"Error reading WebModule1.Colour: Property Colour does not exist"});
  EXPECT_EQ(m->Tag(), 5);
}

TEST(Reader, NestingBeyondTheLimitIsRejected) {
  auto w = ModuleHead();
  w.Prop("Colour");
  for (int i = 0; i < 100000; ++i) w.List();
  EXPECT_TRUE(ReadError(w.Bytes).ends_with(u"Invalid stream format"));
}

TEST(Reader, ModulesAreBuiltOnSeveralThreadsAtOnce) {
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        TComponentPtr<TWebModule1> m(NewComponent<TWebModule1>(nullptr));
        if (m->Actions()->Count() == 1 && m->LoadedCalls == 1 && m->Actions()->Items(0)->OnAction().Data() == m.get())
          ++good;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(good, 400);
  EXPECT_FALSE(GlobalNameSpace().WrittenByMe());
}

TEST(Reader, AFailingFixupPassIsRetriedOnceWhenHandled) {
  // A module whose reference to another module waits in the process-wide list.
  auto w = ModuleHead();
  w.End().Component("TTestPart", "Part1").Prop("Partner").Ident("Other.Thing").End().End().End();
  auto waiting = TTestModule::Load(w.Bytes);
  ASSERT_EQ(GlobalFixupCount(), 1);

  auto savedUnique = IsUniqueGlobalComponentNameProc.load();
  IsUniqueGlobalComponentNameProc = [](const String&) { return true; };
  auto failing = [](const String&) -> TComponent* { throw EComponentError(u"finder failed"); };
  RegisterFindGlobalComponentProc(failing);
  struct THandler : TObject {
    int Calls = 0;
    bool Handle = true;
    void OnError(TReader*, const String& Message, bool& Handled) {
      EXPECT_EQ(Message, u"finder failed");
      ++Calls;
      Handled = Handle;
    }
  } handler;
  TBytes def = WebModule1Definition();
  for (bool handle : {true, false}) {
    handler.Calls = 0;
    handler.Handle = handle;
    TComponentPtr<TTestModule> m(NewComponent<TTestModule>(nullptr));
    TReader reader(def);
    reader.OnError = TReaderError::Of<&THandler::OnError>(&handler);
    if (handle) {
      reader.ReadRootComponent(m.get());  // finishes: two passes, then the reference keeps waiting
      EXPECT_EQ(handler.Calls, 2);
    } else {
      EXPECT_THROW(reader.ReadRootComponent(m.get()), EComponentError);
      EXPECT_EQ(handler.Calls, 1);
    }
  }
  UnregisterFindGlobalComponentProc(failing);
  IsUniqueGlobalComponentNameProc = savedUnique;
  EXPECT_EQ(GlobalFixupCount(), 1);
  waiting.reset();
  EXPECT_EQ(GlobalFixupCount(), 0);
}

TEST(Reader, EveryTagIsSkippedByItsExactLength) {
  using W = TDefinitionWriter;
  std::function<void(W&)> values[] = {
      [](W& w) { w.Byte(vaNull); },
      [](W& w) { w.List().Int8(1).String("x").List().True().End().End(); },
      [](W& w) { w.Int8(-1); },
      [](W& w) { w.Int16(-1); },
      [](W& w) { w.Int32(-1); },
      [](W& w) { w.Byte(vaExtended).LE(std::uint64_t(1)).LE(std::uint16_t(2)); },
      [](W& w) { w.String("abc"); },
      [](W& w) { w.Ident("abc"); },
      [](W& w) { w.False(); },
      [](W& w) { w.True(); },
      [](W& w) { w.Binary(std::string("\0\0\0", 3)); },
      [](W& w) { w.Set({"a", "bb"}); },
      [](W& w) { w.LString("abcd"); },
      [](W& w) { w.Nil(); },
      [](W& w) { w.Collection().Int8(3).List().Prop("P").Int8(1).End().List().End().End(); },
      [](W& w) { w.Byte(vaSingle).LE(std::uint32_t(0)); },
      [](W& w) { w.Byte(vaCurrency).LE(std::uint64_t(0)); },
      [](W& w) { w.Byte(vaDate).LE(std::uint64_t(0)); },
      [](W& w) { w.WString(u"ab\u00E9"); },
      [](W& w) { w.Int64(-1); },
      [](W& w) { w.UTF8String("\xC3\xA9"); },
      [](W& w) { w.Double(1.0); },
  };
  struct THandler : TObject {
    int Errors = 0;
    void OnError(TReader*, const String&, bool& Handled) {
      ++Errors;
      Handled = true;
    }
  };
  for (std::size_t tag = 0; tag < std::size(values); ++tag) {
    auto w = ModuleHead();
    w.Prop("Unknown");
    values[tag](w);
    w.Prop("Tag").Int8(5).End().End();
    TComponentPtr<TTestModule> m(NewComponent<TTestModule>(nullptr));
    THandler handler;
    TReader reader(w.Bytes);
    reader.OnError = TReaderError::Of<&THandler::OnError>(&handler);
    reader.ReadRootComponent(m.get());
    EXPECT_EQ(handler.Errors, 1) << tag;
    EXPECT_EQ(m->Tag(), 5) << tag;
    EXPECT_EQ(reader.Position(), w.Bytes.size()) << tag;
  }
}

TEST(Reader, DefinedBinaryPropertiesReadTheirBytesInPlace) {
  auto w = ModuleHead();
  w.End().Component("TTestPart", "Part1").Prop("blob").Binary(std::string("a\0b", 3)).End().End().End();
  auto m = TTestModule::Load(w.Bytes);
  EXPECT_EQ(m->Part1->Blob(), std::string("a\0b", 3));
  // Anything but bytes is refused.
  auto bad = ModuleHead();
  bad.End().Component("TTestPart", "Part1").Prop("Blob").String("ab").End().End().End();
  EXPECT_EQ(ReadError(bad.Bytes), u"EReadError: Error reading Part1.Blob: Invalid property value");
}

TEST(Reader, AnInheritedChildIsReadIntoTheOneAlreadyThere) {
  TComponentPtr<TTestModule> m(NewComponent<TTestModule>(nullptr));
  auto* existing = NewComponent<TTestPart>(m.get());
  existing->SetName(u"Part1");
  auto w = ModuleHead();
  w.End().Byte(0xF1).Component("TTestPart", "part1").Prop("Big").Int8(4).End().End().End();
  ReadComponentData(w.Bytes, m.get());
  ASSERT_EQ(m->ComponentCount(), 1);
  EXPECT_EQ(existing->Big(), 4);
  EXPECT_EQ(existing->Name(), u"Part1");
  EXPECT_EQ(existing->LoadedCalls(), 1);  // no scope open: the reader told it itself
}

namespace {

// A module "Other" owning a part "Thing", found by name while it lives
// (except on a thread that hides it).
class TOtherModule {
 public:
  TOtherModule() {
    Thing = NewComponent<TTestPart>(Module.get());
    Thing->SetName(u"Thing");
    Module->SetName(u"Other");
    Current = Module.get();
    RegisterFindGlobalComponentProc(Find);
  }
  ~TOtherModule() {
    UnregisterFindGlobalComponentProc(Find);
    Current = nullptr;
  }
  TComponentPtr<TTestModule> Module{NewComponent<TTestModule>(nullptr)};
  TTestPart* Thing;
  static inline thread_local bool HiddenHere = false;

 private:
  static inline std::atomic<TComponent*> Current = nullptr;
  static TComponent* Find(const String& Name) {
    return !HiddenHere && SameText(Name, u"Other") ? Current.load() : nullptr;
  }
};

// Links { item { Target = Name } } as a module property.
void LinksWithTarget(TDefinitionWriter& w, std::string_view Name) {
  w.Prop("Links").Collection().List().Prop("Target").Ident(Name).End().End();
}

}  // namespace

// A stored reference waits, in the reader's list or the process-wide one,
// for the object it is to be set in; when that object is freed first, the
// reference goes with it and nothing is written into freed memory.
TEST(Reader, TheReferencesOfAFreedObjectAreDroppedWhereverTheyWait) {
  using W = TDefinitionWriter;
  struct TCase {
    const char* What;
    std::function<void(W&)> Definition;   // the module's properties and children
    std::function<void(TTestModule&)> Then;  // frees the object after loading
  };
  const TCase cases[] = {
      {"a collection read twice: the first items go before the references are set",
       [](W& w) {
         LinksWithTarget(w, "Part1");
         LinksWithTarget(w, "Part1");
         w.End().Component("TTestPart", "Part1").End().End().End();
       },
       [](TTestModule& m) {
         ASSERT_EQ(m.Links()->Count(), 1);
         EXPECT_EQ(m.Links()->Items(0)->Target(), m.Part1);
       }},
      {"a collection read twice while the reference waits for another module",
       [](W& w) {
         LinksWithTarget(w, "Other.Thing");
         LinksWithTarget(w, "Part1");
         w.End().Component("TTestPart", "Part1").End().End().End();
       },
       nullptr},
      {"an inherited definition replaces the items",
       [](W& w) {
         LinksWithTarget(w, "Other.Thing");
         w.End().End();
       },
       [](TTestModule& m) {
         auto w = ModuleHead();
         w.Prop("Links").Collection().List().End().End().End().End();
         ReadComponentData(w.Bytes, &m);
       }},
      {"a nested item goes with the item that holds it",
       [](W& w) {
         w.Prop("Links").Collection().List();
         w.Prop("Links").Collection().List().Prop("Target").Ident("Other.Thing").End().End();
         w.End().End().End().End();
       },
       [](TTestModule& m) { m.Links()->Clear(); }},
      {"an item deleted by code", [](W& w) {
         LinksWithTarget(w, "Other.Thing");
         w.End().End();
       },
       [](TTestModule& m) { m.Links()->Delete(0); }},
      {"a part freed while the module lives",
       [](W& w) { w.End().Component("TTestPart", "Part1").Prop("Partner").Ident("Other.Thing").End().End().End(); },
       [](TTestModule& m) { m.Part1->Free(); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    auto w = ModuleHead();
    c.Definition(w);
    auto m = TTestModule::Load(w.Bytes);
    if (c.Then) c.Then(*m);
    EXPECT_EQ(GlobalFixupCount(), 0);
    // A later pass that could resolve the reference writes into nothing freed.
    TOtherModule other;
    GlobalFixupReferences();
  }
}

// Values that stand for identifiers name components like any identifier.
TEST(Reader, ObjectPropertiesTakeEveryIdentifierTag) {
  struct TCase {
    std::uint8_t Tag;
    const char16_t* Found;  // the component the reference ends at; null for none
  } cases[] = {
      {vaTrue, u"True"}, {vaFalse, u"False"}, {vaNull, u"Null"}, {vaNil, nullptr},
  };
  for (bool named : {true, false}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(c.Tag);
      auto w = ModuleHead();
      w.End().Component("TTestPart", "Part1").Prop("Partner").Byte(c.Tag).End().End();
      if (named)
        for (const char* name : {"True", "FALSE", "null", "nil"}) w.Component("TTestPart", name).End().End();
      w.End();
      auto m = TTestModule::Load(w.Bytes);
      TComponent* expected = named && c.Found ? m->FindComponent(c.Found) : nullptr;
      EXPECT_TRUE(!named || !c.Found || expected);
      EXPECT_EQ(m->Part1->Partner(), expected);
    }
  }
}

// A module's waiting references are gone when its destruction begins: a pass
// on another thread could otherwise write into its items while they are freed.
TEST(Reader, AModuleDropsItsWaitingReferencesAtTheStartOfItsDestruction) {
  auto w = ModuleHead();
  LinksWithTarget(w, "Other.Thing");
  w.End().Component("TTestPart", "Part1").Prop("Partner").Ident("Other.Thing").End().End().End();
  auto m = TTestModule::Load(w.Bytes);
  ASSERT_EQ(GlobalFixupCount(), 2);
  struct TRecorder : TObject {
    int Waiting = -1;
    void Destroying(TObject*) { Waiting = GlobalFixupCount(); }
  } recorder;
  m->SetOnDestroy(TNotifyEvent::Of<&TRecorder::Destroying>(&recorder));
  m.reset();
  EXPECT_EQ(recorder.Waiting, 0);
  EXPECT_EQ(GlobalFixupCount(), 0);
}

// Passes on another thread set the references of modules that are being read
// and freed here, over and over: never in a part already freed.
TEST(Reader, PassesOnAnotherThreadNeverSetReferencesInAModuleBeingFreed) {
  TOtherModule other;
  auto w = ModuleHead();
  LinksWithTarget(w, "Other.Thing");
  w.End().Component("TTestPart", "Part1").Prop("Partner").Ident("Other.Thing").End().End().End();
  std::atomic<bool> done{false};
  std::thread passes([&] {
    while (!done) GlobalFixupReferences();
  });
  {
    TOtherModule::HiddenHere = true;  // so that the references wait
    for (int i = 0; i < 300; ++i) TTestModule::Load(w.Bytes).reset();
    TOtherModule::HiddenHere = false;
  }
  done = true;
  passes.join();
  EXPECT_EQ(GlobalFixupCount(), 0);
}
