#include "pool_fixtures.h"

#include <tolvane/runtime/published.h>
#include "support/definition_writer.h"

namespace tolvane::test {

namespace {

const TMethodInfo PoolModuleMethods[] = {
    TV_METHOD(TPoolTestModule, PageAction),
    TV_METHOD(TPoolTestModule, FailAction),
    TV_METHOD(TPoolTestModule, HoldAction),
};

}  // namespace

TV_DEFINE_CLASS(TPoolTestModule, TWebModule, CreateComponent<TPoolTestModule>, {}, PoolModuleMethods);
TV_DEFINE_CLASS(TPoolFailingModule, TPoolTestModule, CreateComponent<TPoolFailingModule>);
TV_DEFINE_CLASS(TServicesOwnerModule, TDataModule, CreateComponent<TServicesOwnerModule>);
TV_DEFINE_CLASS(TServicesProviderModule, TDataModule, CreateComponent<TServicesProviderModule>);

void TGate::Arrive() {
  std::unique_lock lock(FLock);
  ++FArrived;
  FChanged.notify_all();
  FChanged.wait(lock, [&] { return FOpen; });
  --FArrived;
}

void TGate::AwaitArrivals(int Count) {
  std::unique_lock lock(FLock);
  FChanged.wait(lock, [&] { return FArrived >= Count; });
}

void TGate::Release() {
  std::lock_guard lock(FLock);
  FOpen = true;
  FChanged.notify_all();
}

void TGate::Reset() {
  std::lock_guard lock(FLock);
  FOpen = false;
}

TGate& HoldGate() {
  static TGate gate;
  return gate;
}

TGateScope::TGateScope() { HoldGate().Reset(); }
TGateScope::~TGateScope() { HoldGate().Release(); }

void TPoolTestModule::PageAction(TObject*, TWebRequest*, TWebResponse* Response, bool&) {
  ++Hits;
  Response->SetContent(PoolTestPage);
}

void TPoolTestModule::FailAction(TObject*, TWebRequest*, TWebResponse*, bool&) {
  throw Exception(u"action failed");
}

void TPoolTestModule::HoldAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled) {
  HoldGate().Arrive();
  PageAction(Sender, Request, Response, Handled);
}

void TPoolFailingModule::AfterConstruction() {
  TPoolTestModule::AfterConstruction();
  throw Exception(u"module failed");
}

void TServicesRecorder::InitContext(TAbstractWebModuleList*, TWebRequest*, TWebResponse* Response) {
  Log.push_back("Init");
  FResponse = Response;
}

bool TServicesRecorder::HandleRequest() {
  Log.push_back("Handle");
  if (Sends) FResponse->SendResponse();
  if (Raises) throw Exception(u"services failed");
  return Result;
}

TServicesOwnerModule::TServicesOwnerModule(TComponent* AOwner) : TDataModule(AOwner) {
  // A component of another kind first: the search goes on past it.
  new TComponent(this);
  Services = new TServicesRecorder(this);
  Last = this;
}

TServicesProviderModule::TServicesProviderModule(TComponent* AOwner)
    : TDataModule(AOwner), Provided(std::make_shared<TServicesRecorder>(nullptr)) {
  Last = this;
}

std::shared_ptr<IWebAppServices> TServicesProviderModule::GetWebAppServices() {
  if (AskRaises) throw Exception(u"no services");
  return Provided;
}

std::vector<std::uint8_t> PoolTestModuleDefinition() {
  TDefinitionWriter w;
  w.Signature().Component("TPoolTestModule", "PoolTestModule");
  w.Prop("OldCreateOrder").False();
  w.Prop("Actions").Collection();
  w.List().Prop("Default").True().Prop("Name").String("Page").Prop("PathInfo").String("/");
  w.Prop("OnAction").Ident("PageAction").End();
  w.List().Prop("Name").String("Fail").Prop("PathInfo").String("/fail").Prop("OnAction").Ident("FailAction").End();
  w.List().Prop("Name").String("Hold").Prop("PathInfo").String("/hold").Prop("OnAction").Ident("HoldAction").End();
  w.End();  // the collection
  w.End();  // the module's properties
  w.End();  // the module's children
  return w.Bytes;
}

TExchange MakeExchange(const AnsiString& Method, const AnsiString& Path) {
  TExchange e;
  e.Request = std::make_unique<testing::TTestWebRequest>();
  e.Request->Set(rvMethod, Method).Set(rvPathInfo, Path);
  e.Response = std::make_unique<testing::TTestWebResponse>(e.Request.get());
  return e;
}

}  // namespace tolvane::test
