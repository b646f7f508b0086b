#include "test_web_module.h"

#include <tolvane/runtime/published.h>

namespace tolvane::test {

namespace {

const TPropInfo ClaimerProps[] = {TV_PROPERTY(TTestClaimer, MaskText)};

const TMethodInfo ModuleMethods[] = {
    TV_METHOD(TTestWebModule, ModuleBeforeDispatch), TV_METHOD(TTestWebModule, ModuleAfterDispatch),
    TV_METHOD(TTestWebModule, ModuleException),      TV_METHOD(TTestWebModule, ItemsAction),
    TV_METHOD(TTestWebModule, HomeAction),           TV_METHOD(TTestWebModule, FormAction),
    TV_METHOD(TTestWebModule, FailAction),
};
const TMethodInfo OldOrderMethods[] = {TV_METHOD(TTestOldOrderModule, ModuleCreate)};
const TFieldInfo ModuleFields[] = {TV_FIELD(TTestWebModule, Producer1), TV_FIELD(TTestWebModule, Claimer1)};

String ItemName(TObject* Sender) {
  auto* item = dynamic_cast<TWebActionItem*>(Sender);
  return item ? item->GetDisplayName() : String(u"?");
}

}  // namespace

TV_DEFINE_CLASS(TTestProducer, TCustomContentProducer, CreateComponent<TTestProducer>);
TV_DEFINE_CLASS(TTestClaimer, TComponent, CreateComponent<TTestClaimer>, ClaimerProps);
TV_DEFINE_CLASS(TTestWebModule, TWebModule, CreateComponent<TTestWebModule>, {}, ModuleMethods, ModuleFields);
TV_DEFINE_CLASS(TTestOldOrderModule, TTestWebModule, CreateComponent<TTestOldOrderModule>, {}, OldOrderMethods);

void TTestOldOrderModule::ModuleCreate(TObject*) {
  Log.push_back(u"Create");
  if (CreateFails) throw Exception(u"create failed");
}

bool TTestClaimer::DispatchRequest(TObject* Sender, TWebRequest* Request, TWebResponse*) {
  LastSender = Sender;
  if (Log) Log->push_back(Name() + u":" + StringOf(Request->InternalPathInfo()));
  return Result;
}

void TTestWebModule::ModuleBeforeDispatch(TObject*, TWebRequest*, TWebResponse* Response, bool& Handled) {
  Log.push_back(u"Before");
  if (Behaviour.BeforeSends) Response->SendResponse();
  if (Behaviour.BeforeHandles) Handled = true;
}

void TTestWebModule::ModuleAfterDispatch(TObject*, TWebRequest*, TWebResponse*, bool& Handled) {
  Log.push_back(u"After");
  if (Behaviour.AfterClears) Handled = false;
}

void TTestWebModule::ModuleException(TObject*, const Exception& E, bool& Handled) {
  Log.push_back(u"OnException " + E.Message());
  ExceptionStatus = GetResponse() ? GetResponse()->StatusCode() : 0;
  if (Behaviour.ExceptionSends && GetResponse()) GetResponse()->SendResponse();
  if (Behaviour.ExceptionClears) Handled = false;
}

void TTestWebModule::Act(TObject* Sender, TWebResponse* Response, bool& Handled) {
  String name = ItemName(Sender);
  Log.push_back(name);
  Response->SetUnicodeContent(name);
  if (Behaviour.Declines.contains(name)) Handled = false;
}

void TTestWebModule::ItemsAction(TObject* Sender, TWebRequest*, TWebResponse* Response, bool& Handled) {
  Act(Sender, Response, Handled);
}

void TTestWebModule::HomeAction(TObject* Sender, TWebRequest*, TWebResponse* Response, bool& Handled) {
  Act(Sender, Response, Handled);
}

void TTestWebModule::FormAction(TObject* Sender, TWebRequest*, TWebResponse* Response, bool& Handled) {
  Act(Sender, Response, Handled);
}

void TTestWebModule::FailAction(TObject* Sender, TWebRequest*, TWebResponse*, bool&) {
  Log.push_back(ItemName(Sender));
  throw Exception(u"Boom");
}

void TRecorder::Action(TObject* Sender, TWebRequest*, TWebResponse* Response, bool& Handled) {
  String name = ItemName(Sender);
  Log.push_back(name);
  Response->SetUnicodeContent(name);
  // Sender is gone after either of these.
  auto* item = static_cast<TWebActionItem*>(Sender);
  if (Behaviour.ClearsActions.contains(name)) item->Collection()->Clear();
  else if (Behaviour.FreesItself.contains(name)) delete item;
  if (Behaviour.Declines.contains(name) || DeclineOnce.erase(name)) Handled = false;
}

void TRecorder::Before(TObject*, TWebRequest*, TWebResponse* Response, bool& Handled) {
  Log.push_back(u"Before");
  if (Behaviour.BeforeSends) Response->SendResponse();
  if (Behaviour.BeforeHandles) Handled = true;
}

void TRecorder::After(TObject*, TWebRequest*, TWebResponse*, bool& Handled) {
  Log.push_back(u"After");
  if (Behaviour.AfterClears) Handled = false;
}

void TRecorder::OnException(TObject*, const Exception& E, bool& Handled) {
  Log.push_back(u"OnException " + E.Message());
  ExceptionStatus = ExceptionResponse ? ExceptionResponse->StatusCode() : 0;
  if (Behaviour.ExceptionSends && ExceptionResponse) ExceptionResponse->SendResponse();
  if (Behaviour.ExceptionClears) Handled = false;
}

void TRecorder::Destroying(TObject*) {
  Log.push_back(u"Destroying");
  throw Exception(u"destroy failed");
}

THookRecorder::THookRecorder(bool Rethrow_) : Rethrow(Rethrow_) {
  ApplicationHandleException = TNotifyEvent::Of<&THookRecorder::Hook>(this);
}

THookRecorder::~THookRecorder() { ApplicationHandleException = TNotifyEvent(); }

void THookRecorder::Hook(TObject* Sender) {
  try {
    throw;
  } catch (const Exception& e) {
    Calls.push_back({Sender, e.ClassName() + u": " + e.Message()});
    if (Handler) Handler->HandleException(e, LastHandled);
  } catch (...) {
    Calls.push_back({Sender, u"?"});
  }
  if (Rethrow) throw;
}

std::unique_ptr<testing::TTestWebRequest> MakeRequest(const AnsiString& Method, const AnsiString& Path) {
  auto request = std::make_unique<testing::TTestWebRequest>();
  request->Set(rvMethod, Method).Set(rvPathInfo, Path);
  return request;
}

}  // namespace tolvane::test
