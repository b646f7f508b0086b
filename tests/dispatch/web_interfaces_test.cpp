#include <gtest/gtest.h>

#include <tolvane/dispatch/content_producer.h>
#include <tolvane/dispatch/web_dispatcher.h>
#include "test_web_module.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

// Which of the interfaces an object supports, as a string of 0 and 1 in the
// order of Probes.
template <class T>
std::string Supported(T* Object) {
  const bool probes[] = {
      Supports<IWebDispatch>(Object) != nullptr,         Supports<IWebAppServices180>(Object) != nullptr,
      Supports<IWebAppServices>(Object) != nullptr,      Supports<IGetWebAppServices>(Object) != nullptr,
      Supports<IWebRequestHandler>(Object) != nullptr,   Supports<IWebExceptionHandler>(Object) != nullptr,
      Supports<IWebDispatcherAccess>(Object) != nullptr, Supports<IWebDispatchActions>(Object) != nullptr,
      Supports<IMultiModuleSupport>(Object) != nullptr,  Supports<IWebModuleContext>(Object) != nullptr,
      Supports<ISetAppDispatcher>(Object) != nullptr,    Supports<IGetAppDispatcher>(Object) != nullptr,
      Supports<IProduceContent>(Object) != nullptr,      Supports<IProduceContentFrom>(Object) != nullptr,
  };
  std::string s;
  for (bool b : probes) s += b ? '1' : '0';
  return s;
}

}  // namespace

TEST(WebInterfaces, EachObjectSupportsExactlyItsOwnInterfaces) {
  TComponentPtr<TWebModule> module(NewComponent<TWebModule>(nullptr));
  TComponentPtr<TCustomContentProducer> producer(NewComponent<TCustomContentProducer>(nullptr));
  TComponentPtr<TTestClaimer> claimer(NewComponent<TTestClaimer>(nullptr));
  TComponentPtr<TComponent> plain(NewComponent<TComponent>(nullptr));
  TDefaultWebAppServices services;
  //                                    Dispatch, 180, Services, GetServices, Handler, Exception,
  //                                    Access, Actions, Multi, Context, Set, Get, Produce, From
  EXPECT_EQ(Supported<TObject>(module.get()), "00001111110000");
  EXPECT_EQ(Supported<TObject>(producer.get()), "00000000001111");
  EXPECT_EQ(Supported<TObject>(claimer.get()), "10000000000000");
  EXPECT_EQ(Supported<TObject>(plain.get()), "00000000000000");
  EXPECT_EQ(Supported<TObject>(&services), "01100000000000");
  EXPECT_EQ(Supported<TObject>(nullptr), "00000000000000");
  // From one interface to another of the same object.
  IWebRequestHandler* handler = Supports<IWebRequestHandler>(module.get());
  EXPECT_EQ(Supports<IWebExceptionHandler>(handler), static_cast<IWebExceptionHandler*>(module.get()));
}

TEST(WebInterfaces, IdentifiersAreReadExactlyAndDistinct) {
  constexpr TGUID g = StringToGUID("{E6D33BE4-9FAE-D511-8D38-0050568E0E44}");
  static_assert(g.D1 == 0xE6D33BE4 && g.D2 == 0x9FAE && g.D3 == 0xD511);
  static_assert(g.D4 == std::array<std::uint8_t, 8>{0x8D, 0x38, 0x00, 0x50, 0x56, 0x8E, 0x0E, 0x44});
  static_assert(StringToGUID("{aafa17b7-e814-11d4-a54a-00c04f6bb853}") == IID_IProduceContent);
  const TGUID all[] = {IID_IWebDispatch,       IID_IWebAppServices180,   IID_IWebAppServices,
                       IID_IGetWebAppServices, IID_IWebRequestHandler,   IID_IWebExceptionHandler,
                       IID_IWebDispatcherAccess, IID_IWebDispatchActions, IID_IMultiModuleSupport,
                       IID_IWebModuleContext,  IID_ISetAppDispatcher,    IID_IGetAppDispatcher,
                       IID_IProduceContent,    IID_IProduceContentFrom};
  for (std::size_t i = 0; i < std::size(all); ++i)
    for (std::size_t j = i + 1; j < std::size(all); ++j) EXPECT_NE(all[i], all[j]) << i << " " << j;
}

TEST(ContentProducer, ContentAndItsVariants) {
  TComponentPtr<TCustomContentProducer> plain(NewComponent<TCustomContentProducer>(nullptr));
  TComponentPtr<TTestProducer> producer(NewComponent<TTestProducer>(nullptr));
  producer->Text = u"the content";
  TMemoryStream stream;
  stream.Write("ignored", 7);
  struct TCase {
    TCustomContentProducer* Producer;
    String Expected;
  };
  for (const TCase& c : {TCase{plain.get(), u""}, TCase{producer.get(), u"the content"}}) {
    EXPECT_EQ(c.Producer->Content(), c.Expected);
    EXPECT_EQ(c.Producer->ContentFromStream(stream), c.Expected);
    EXPECT_EQ(c.Producer->ContentFromString(u"ignored"), c.Expected);
    EXPECT_EQ(Supports<IProduceContent>(c.Producer)->ProduceContent(), c.Expected);
    EXPECT_EQ(Supports<IProduceContentFrom>(c.Producer)->ProduceContentFromStream(stream), c.Expected);
    EXPECT_EQ(Supports<IProduceContentFrom>(c.Producer)->ProduceContentFromString(u"x"), c.Expected);
  }
}

TEST(ContentProducer, RemembersItsDispatcherUntilItIsFreed) {
  TComponentPtr<TTestProducer> producer(NewComponent<TTestProducer>(nullptr));
  EXPECT_EQ(producer->GetAppDispatcher(), nullptr);
  EXPECT_EQ(producer->GetDispatcher(), nullptr);
  auto* first = NewComponent<TCustomWebDispatcher>(nullptr);
  auto* second = NewComponent<TCustomWebDispatcher>(nullptr);
  producer->SetAppDispatcher(first);
  producer->SetDispatcher(first);
  EXPECT_EQ(producer->GetAppDispatcher(), first);
  EXPECT_EQ(producer->GetDispatcher(), static_cast<IWebDispatcherAccess*>(first));
  // The dispatcher's request and response are reached through it.
  auto request = MakeRequest("GET", "/");
  tolvane::testing::TTestWebResponse response(request.get());
  first->InitContext(request.get(), &response);
  EXPECT_EQ(producer->GetDispatcher()->Request(), request.get());
  EXPECT_EQ(producer->GetDispatcher()->Response(), &response);
  producer->SetDispatcher(second);
  EXPECT_EQ(producer->GetAppDispatcher(), second);
  // The one it left going changes nothing; the one it has going clears it.
  first->Free();
  EXPECT_EQ(producer->GetAppDispatcher(), second);
  second->Free();
  EXPECT_EQ(producer->GetAppDispatcher(), nullptr);
  EXPECT_EQ(producer->GetDispatcher(), nullptr);
  // A component that is not a dispatcher gives no access.
  TComponentPtr<TComponent> plain(NewComponent<TComponent>(nullptr));
  producer->SetDispatcher(plain.get());
  EXPECT_EQ(producer->GetAppDispatcher(), plain.get());
  EXPECT_EQ(producer->GetDispatcher(), nullptr);
  plain.reset();
  EXPECT_EQ(producer->GetAppDispatcher(), nullptr);
}
