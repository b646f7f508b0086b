#include <gtest/gtest.h>

#include <tolvane/dispatch/web_dispatcher.h>
#include <tolvane/runtime/exception.h>
#include "test_web_module.h"

using namespace tolvane;
using namespace tolvane::test;
using tolvane::testing::TTestWebResponse;

namespace {

using TLog = std::vector<String>;

// A dispatcher built in code, with a recorder for its handlers.
struct TDispatcherFixture {
  TComponentPtr<TCustomWebDispatcher> Dispatcher{NewComponent<TCustomWebDispatcher>(nullptr)};
  TRecorder Recorder;
  TWebActionItems& Items() { return *Dispatcher->Actions(); }
  // A new item with that path and the recorder's handler.
  TWebActionItem* AddItem(const String& PathInfo, TMethodType Method = TMethodType::mtAny) {
    TWebActionItem* item = Items().Add();
    item->SetPathInfo(PathInfo);
    item->SetMethodType(Method);
    item->SetOnAction(Recorder.ActionEvent());
    return item;
  }
};

bool Offer(TWebActionItem* Item, const char* Method, const char* Path, bool DoDefault = false) {
  auto request = MakeRequest(Method, Path);
  TTestWebResponse response(request.get());
  return Item->DispatchAction(request.get(), &response, DoDefault);
}

}  // namespace

TEST(WebActionItem, AcceptsByMethodAndPath) {
  struct TCase {
    const char16_t* ItemPath;
    TMethodType ItemMethod;
    const char* Method;
    const char* Path;
    bool Accepted;
  };
  const TCase cases[] = {
      // "/" and the empty path stand for each other, and for nothing else.
      {u"/", TMethodType::mtAny, "GET", "/", true},
      {u"/", TMethodType::mtAny, "GET", "", true},
      {u"/", TMethodType::mtAny, "GET", "/x", false},
      {u"", TMethodType::mtAny, "GET", "/", true},
      {u"", TMethodType::mtAny, "GET", "", true},
      {u"", TMethodType::mtAny, "GET", "//", false},
      // "*" is stored as "/*": any path below the root, not the root itself.
      {u"*", TMethodType::mtAny, "GET", "/x", true},
      {u"*", TMethodType::mtAny, "GET", "/x/y", true},
      {u"*", TMethodType::mtAny, "GET", "/", false},
      {u"*", TMethodType::mtAny, "GET", "", false},
      {u"/a?c", TMethodType::mtAny, "GET", "/ABC", true},
      {u"/abc", TMethodType::mtAny, "GET", "/abcd", false},
      // Method types.
      {u"/p", TMethodType::mtPost, "GET", "/p", false},
      {u"/p", TMethodType::mtPost, "POST", "/p", true},
      {u"/p", TMethodType::mtHead, "HEAD", "/p", true},
      {u"/p", TMethodType::mtPut, "post", "/p", false},
      {u"/p", TMethodType::mtAny, "DELETE", "/p", true},
      {u"/p", TMethodType::mtAny, "PUT", "/p", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(AnsiOf(c.ItemPath) + " " + c.Method + " " + c.Path);
    TDispatcherFixture f;
    TWebActionItem* item = f.AddItem(c.ItemPath, c.ItemMethod);
    EXPECT_EQ(Offer(item, c.Method, c.Path), c.Accepted);
    EXPECT_EQ(f.Recorder.Log.size(), c.Accepted ? 1u : 0u);
  }
}

TEST(WebActionItem, ADefaultItemOfferedAsTheDefaultAcceptsWhateverItsSettings) {
  TDispatcherFixture f;
  TWebActionItem* item = f.AddItem(u"/only", TMethodType::mtPost);
  item->SetEnabled(false);
  item->SetDefault(true);
  EXPECT_FALSE(Offer(item, "GET", "/other"));
  EXPECT_TRUE(Offer(item, "GET", "/other", true));
  EXPECT_EQ(f.Recorder.Log, TLog{item->GetDisplayName()});
  // DoDefault alone does not make a non-default item accept.
  item->SetDefault(false);
  EXPECT_FALSE(Offer(item, "GET", "/other", true));
  // A disabled item is skipped even where it fits.
  EXPECT_FALSE(Offer(item, "POST", "/only"));
}

// What an accepting item answers and which content it leaves, by what it has.
TEST(WebActionItem, ProducerComponentAndHandlerDecideTheResult) {
  enum TSource { soNone, soProducer, soProducingComponent, soPlainComponent };
  struct TCase {
    TSource Source;
    bool Handler;
    bool HandlerDeclines;
    bool Result;
    String Content;
  };
  const TCase cases[] = {
      {soNone, false, false, false, u""},
      {soProducer, false, false, true, u"produced"},
      {soProducingComponent, false, false, true, u"produced"},
      {soPlainComponent, false, false, false, u""},
      {soNone, true, false, true, u"WebActionItem1"},
      {soNone, true, true, false, u"WebActionItem1"},
      // The handler runs after the producer and may pass the request on.
      {soProducer, true, true, false, u"WebActionItem1"},
      {soPlainComponent, true, false, true, u"WebActionItem1"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(&c - cases));
    TDispatcherFixture f;
    TWebActionItem* item = f.Items().Add();
    item->SetPathInfo(u"/x");
    auto* producer = NewComponent<TTestProducer>(f.Dispatcher.get());
    auto* plain = NewComponent<TComponent>(f.Dispatcher.get());
    if (c.Source == soProducer) item->SetProducer(producer);
    if (c.Source == soProducingComponent) item->SetProducerContent(producer);
    if (c.Source == soPlainComponent) item->SetProducerContent(plain);
    if (c.Handler) item->SetOnAction(f.Recorder.ActionEvent());
    if (c.HandlerDeclines) f.Recorder.Behaviour.Declines.insert(u"WebActionItem1");
    auto request = MakeRequest("GET", "/x");
    TTestWebResponse response(request.get());
    EXPECT_EQ(item->DispatchAction(request.get(), &response, false), c.Result);
    EXPECT_EQ(response.Content(), c.Content);
  }
}

TEST(WebActionItem, SetPathInfoNormalisesThePath) {
  struct TCase {
    const char16_t* Before;  // stored first (null: nothing)
    const char16_t* Value;
    const char16_t* Stored;
  };
  const TCase cases[] = {
      {nullptr, u"a\\b\\c", u"/a/b/c"},
      {nullptr, u"\\a", u"/a"},
      {nullptr, u"a", u"/a"},
      {nullptr, u"/a", u"/a"},
      {nullptr, u"", u""},
      {nullptr, u"*", u"/*"},
      // A change of letter case alone is ignored: the old case stays.
      {u"/Path", u"/PATH", u"/Path"},
      {u"/Path", u"path", u"/Path"},
      {u"/Path", u"/Other", u"/Other"},
      {u"/Path", u"", u""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(AnsiOf(c.Value));
    TDispatcherFixture f;
    TWebActionItem* item = f.Items().Add();
    if (c.Before) item->SetPathInfo(c.Before);
    item->SetPathInfo(c.Value);
    EXPECT_EQ(item->GetPathInfo(), c.Stored);
  }
}

TEST(WebActionItem, AProducerImpliesThePath) {
  TDispatcherFixture f;
  auto* producer = NewComponent<TTestProducer>(f.Dispatcher.get());
  producer->SetName(u"Report");
  TWebActionItem* item = f.Items().Add();
  item->SetProducer(producer);
  EXPECT_EQ(item->ProducerPathInfo(), u"/Report");
  EXPECT_EQ(item->GetPathInfo(), u"/Report");
  EXPECT_EQ(f.Items().GetItemAttr(1, 0), u"/Report");
  // The implied path answers requests.
  EXPECT_TRUE(Offer(item, "GET", "/report"));
  // Its own path, written out, is stored as empty; another is kept.
  item->SetPathInfo(u"Report");
  EXPECT_EQ(item->GetPathInfo(), u"/Report");
  item->SetPathInfo(u"/Other");
  EXPECT_EQ(item->GetPathInfo(), u"/Other");
  item->SetPathInfo(u"/Report");
  EXPECT_EQ(item->GetPathInfo(), u"/Report");
  item->SetProducer(nullptr);
  EXPECT_EQ(item->GetPathInfo(), u"");
  // A producer clears the producer component and the other way round.
  item->SetProducerContent(producer);
  EXPECT_EQ(item->Producer(), nullptr);
  item->SetProducer(producer);
  EXPECT_EQ(item->ProducerContent(), nullptr);
}

TEST(WebActionItem, TheMaskFollowsThePathAndAnInvalidPathKeepsTheOldOne) {
  TDispatcherFixture f;
  TWebActionItem* item = f.AddItem(u"/a*");
  TMask* first = item->GetMask();
  EXPECT_EQ(item->GetMask(), first);
  EXPECT_TRUE(Offer(item, "GET", "/abc"));
  item->SetPathInfo(u"/b*");
  EXPECT_FALSE(Offer(item, "GET", "/abc"));
  EXPECT_TRUE(Offer(item, "GET", "/bcd"));

  TMask* valid = item->GetMask();
  item->SetPathInfo(u"/[b");
  // A method that does not fit never reaches the mask.
  item->SetMethodType(TMethodType::mtPost);
  EXPECT_FALSE(Offer(item, "GET", "/bcd"));
  item->SetMethodType(TMethodType::mtAny);
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      Offer(item, "GET", "/bcd");
      ADD_FAILURE() << "no exception";
    } catch (const EMaskException& e) {
      EXPECT_EQ(e.Message(), u"'/[b' is an invalid mask at (4)");
    }
  }
  // The valid mask was kept: back on its path, it is used without compiling.
  item->SetPathInfo(u"/B*");
  EXPECT_EQ(item->GetPathInfo(), u"/B*");
  EXPECT_EQ(item->GetMask(), valid);
  item->SetPathInfo(u"/c*");
  EXPECT_TRUE(Offer(item, "GET", "/cd"));
}

TEST(WebActionItem, NamesAreGeneratedAndUnique) {
  TDispatcherFixture f;
  TWebActionItem* a = f.Items().Add();
  TWebActionItem* b = f.Items().Add();
  TWebActionItem* c = f.Items().Add();
  EXPECT_EQ(a->GetDisplayName(), u"WebActionItem1");
  EXPECT_EQ(b->GetDisplayName(), u"WebActionItem2");
  EXPECT_EQ(c->GetDisplayName(), u"WebActionItem3");
  a->SetDisplayName(u"Home");
  EXPECT_EQ(f.Items().Add()->GetDisplayName(), u"WebActionItem1");
  // Another item's name in other letter case is refused and nothing changes.
  try {
    b->SetDisplayName(u"HOME");
    ADD_FAILURE() << "renamed";
  } catch (const ECorvelException& e) {
    EXPECT_EQ(e.Message(), u"Duplicate action name");
  }
  EXPECT_EQ(b->GetDisplayName(), u"WebActionItem2");
  // A change of case of its own name is ignored.
  a->SetDisplayName(u"HOME");
  EXPECT_EQ(a->GetDisplayName(), u"Home");
  // Empty names take part in the check.
  b->SetDisplayName(u"");
  EXPECT_THROW(c->SetDisplayName(u""), ECorvelException);
  EXPECT_EQ(f.Dispatcher->ActionByName(u"home"), a);
  EXPECT_EQ(f.Dispatcher->ActionByName(u"Nobody"), nullptr);
}

TEST(WebActionItem, OnlyOneItemIsTheDefault) {
  TDispatcherFixture f;
  TWebActionItem* a = f.Items().Add();
  TWebActionItem* b = f.Items().Add();
  TWebActionItem* c = f.Items().Add();
  a->SetDefault(true);
  c->SetDefault(true);
  EXPECT_FALSE(a->Default());
  EXPECT_FALSE(b->Default());
  EXPECT_TRUE(c->Default());
  EXPECT_EQ(f.Items().GetItemAttr(3, 2), u"*");
  EXPECT_EQ(f.Items().GetItemAttr(3, 0), u"");
}

TEST(WebActionItem, CopyingTakesDefaultPathEnabledAndMethodOnly) {
  TDispatcherFixture f;
  TWebActionItem* source = f.AddItem(u"/from", TMethodType::mtPost);
  source->SetDisplayName(u"Source");
  source->SetEnabled(false);
  source->SetDefault(true);
  TDispatcherFixture g;
  TWebActionItem* other = g.Items().Add();
  other->SetDefault(true);
  TWebActionItem* copy = g.Items().Add();
  copy->Assign(source);
  EXPECT_EQ(copy->GetDisplayName(), u"WebActionItem2");
  EXPECT_EQ(copy->GetPathInfo(), u"/from");
  EXPECT_FALSE(copy->Enabled());
  EXPECT_EQ(copy->MethodType(), TMethodType::mtPost);
  EXPECT_TRUE(copy->Default());
  EXPECT_FALSE(other->Default());  // the target collection keeps one default
  EXPECT_FALSE(copy->OnAction());
  // An item copies into nothing but an action item.
  auto* producer = NewComponent<TTestProducer>(g.Dispatcher.get());
  try {
    producer->Assign(source);
    ADD_FAILURE() << "assigned";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a TWebActionItem to a TTestProducer");
  }
}

TEST(WebActionItem, TheEditingTableDescribesTheItems) {
  TDispatcherFixture f;
  auto* producer = NewComponent<TTestProducer>(f.Dispatcher.get());
  producer->SetName(u"Producer1");
  auto* plain = NewComponent<TComponent>(f.Dispatcher.get());
  plain->SetName(u"Plain1");
  TWebActionItem* a = f.AddItem(u"/a");
  a->SetDefault(true);
  TWebActionItem* b = f.AddItem(u"");
  b->SetEnabled(false);
  b->SetProducer(producer);
  TWebActionItem* c = f.AddItem(u"/c");
  c->SetProducerContent(plain);
  TWebActionItems& items = f.Items();
  ASSERT_EQ(items.GetAttrCount(), 5);
  const std::vector<String> titles{u"Name", u"PathInfo", u"Enabled", u"Default", u"Producer", u""};
  const std::vector<std::vector<String>> rows{
      {u"WebActionItem1", u"/a", u"True", u"*", u"", u""},
      {u"WebActionItem2", u"/Producer1", u"False", u"", u"Producer1", u""},
      {u"WebActionItem3", u"/c", u"True", u"", u"Plain1", u""},
  };
  for (int column = 0; column < 6; ++column) {
    EXPECT_EQ(items.GetAttr(column), titles[std::size_t(column)]);
    for (int row = 0; row < 3; ++row)
      EXPECT_EQ(items.GetItemAttr(column, row), rows[std::size_t(row)][std::size_t(column)]) << column << " " << row;
  }
  EXPECT_EQ(items.GetAttr(-1), u"");
}
