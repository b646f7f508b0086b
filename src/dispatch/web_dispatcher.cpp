#include <tolvane/dispatch/web_dispatcher.h>

#include <algorithm>

#include <tolvane/dispatch/content_producer.h>
#include <tolvane/dispatch/web_module_list.h>
#include <tolvane/http/http_utils.h>
#include <tolvane/runtime/format.h>

namespace tolvane {

TV_DEFINE_CLASS(TCustomWebDispatcher, TDataModule);
TV_DEFINE_CLASS(TDefaultWebAppServices, TObject);

namespace {

// Checked before the new dispatcher joins its owner, so it never finds itself.
TComponent* CheckDispatcherOwner(TComponent* AOwner) {
  if (AOwner) {
    bool taken = dynamic_cast<TCustomWebDispatcher*>(AOwner) != nullptr;
    for (int i = 0; i < AOwner->ComponentCount() && !taken; ++i)
      taken = dynamic_cast<TCustomWebDispatcher*>(AOwner->Components(i)) != nullptr;
    if (taken) throw ECorvelException(u"Only one WebDispatcher per form/data module");
  }
  return AOwner;
}

// The message and the path (straight from the client) are escaped before they
// go into the page.
constexpr std::u16string_view ApplicationErrorPage =
    u"<html><body><h1>Internal Application Error</h1>\r\n<p>%0:s\r\n<p><hr width=\"100%%\"><i>%1:s</i></body></html>";

}  // namespace

TCustomWebDispatcher::TCustomWebDispatcher(TComponent* AOwner)
    : TDataModule(CheckDispatcherOwner(AOwner)),
      FActions(std::make_unique<TWebActionItems>(this, TWebActionItem::StaticClass())) {
  if (TComponent* owner = Owner())
    for (int i = 0; i < owner->ComponentCount(); ++i) AddDispatchComponent(owner->Components(i));
}

TCustomWebDispatcher::~TCustomWebDispatcher() {
  FRequest = nullptr;
  FResponse = nullptr;
  // The owned components go first, while the action items still exist to
  // drop their references to a producer being freed.
  ReleaseLinks();
  FActions.reset();
}

void TCustomWebDispatcher::BeforeDestruction() {
  FRequest = nullptr;
  FResponse = nullptr;
  TDataModule::BeforeDestruction();
}

void TCustomWebDispatcher::AddDispatchComponent(TComponent* AComponent) {
  if (auto* set = Supports<ISetAppDispatcher>(AComponent)) {
    set->SetAppDispatcher(this);
  } else if (Supports<IWebDispatch>(AComponent)) {
    // Told when it goes, so that the list never holds a freed component.
    if (AComponent->Owner() != this) AComponent->FreeNotification(this);
    FDispatchList.push_back(AComponent);
  }
}

void TCustomWebDispatcher::Notification(TComponent* AComponent, TOperation Operation) {
  TDataModule::Notification(AComponent, Operation);
  if (Operation == opInsert) {
    AddDispatchComponent(AComponent);
    return;
  }
  if (!AComponent) return;
  // Any component an item names is dropped when it goes, not only producers:
  // the item would otherwise keep a freed object.
  if (FActions)
    for (int i = 0; i < FActions->Count(); ++i) {
      TWebActionItem* item = FActions->GetActionItem(i);
      if (item->Producer() == AComponent) item->SetProducer(nullptr);
      else if (item->ProducerContent() == AComponent) item->SetProducerContent(nullptr);
    }
  std::erase(FDispatchList, AComponent);
}

bool TCustomWebDispatcher::DispatchAction(TWebRequest* Request, TWebResponse* Response) {
  FRequest = Request;
  FResponse = Response;
  if (Response->Sent()) return true;
  bool handled = DoBeforeDispatch(Request, Response) || Response->Sent();
  // A handler may free items, its own or the default: an item is read before
  // it runs, and the default is remembered by its identifier and looked up
  // again before it is offered the request.
  int defaultID = -1;
  for (int i = 0; !handled && i < FActions->Count(); ++i) {
    TWebActionItem* item = FActions->GetActionItem(i);
    if (item->Default()) defaultID = item->ID();
    handled = item->DispatchAction(Request, Response, false);
  }
  for (std::size_t i = 0; !handled && i < FDispatchList.size(); ++i)
    if (IWebDispatch* dispatch = Supports<IWebDispatch>(FDispatchList[i]))
      handled = DispatchHandler(this, dispatch, Request, Response, false);
  if (!handled && defaultID >= 0)
    if (auto* item = static_cast<TWebActionItem*>(FActions->FindItemID(defaultID)))
      handled = item->DispatchAction(Request, Response, true);
  if (handled && !Response->Sent()) handled = DoAfterDispatch(Request, Response);
  return handled;
}

bool TCustomWebDispatcher::DoBeforeDispatch(TWebRequest* Request, TWebResponse* Response) {
  bool handled = false;
  if (FBeforeDispatch) FBeforeDispatch(this, Request, Response, handled);
  return handled;
}

bool TCustomWebDispatcher::DoAfterDispatch(TWebRequest* Request, TWebResponse* Response) {
  bool handled = true;
  if (FAfterDispatch) FAfterDispatch(this, Request, Response, handled);
  return handled;
}

bool TCustomWebDispatcher::HandleRequest(TWebRequest* Request, TWebResponse* Response) {
  FRequest = Request;
  FResponse = Response;
  return DispatchAction(Request, Response);
}

void TCustomWebDispatcher::HandleException(const Exception& E, bool& Handled) {
  Handled = false;
  if (FOnException) {
    Handled = true;
    if (FResponse) FResponse->SetStatusCode(500);
    FOnException(this, E, Handled);
    // A handler that sent the response itself is not answered twice.
    if (Handled && FResponse && !FResponse->Sent()) FResponse->SendResponse();
  }
  if (!Handled && FResponse) {
    String path = FRequest ? StringOf(FRequest->PathInfo()) : String();
    FResponse->SetUnicodeContent(Format(ApplicationErrorPage, {HTMLEscape(E.Message()), HTMLEscape(path)}));
    if (!FResponse->Sent()) {
      FResponse->SetStatusCode(500);
      FResponse->SendResponse();
    }
    Handled = true;
  }
}

void TCustomWebDispatcher::InitContext(TWebRequest* Request, TWebResponse* Response) {
  FRequest = Request;
  FResponse = Response;
}

void TCustomWebDispatcher::FinishContext() {
  FRequest = nullptr;
  FResponse = nullptr;
}

void TCustomWebDispatcher::InitModule(TComponent* AModule) {
  if (!AModule) return;
  for (int i = 0; i < AModule->ComponentCount(); ++i) {
    TComponent* c = AModule->Components(i);
    if (Supports<IWebDispatch>(c)) {
      if (c->Owner() != this) c->FreeNotification(this);
      FDispatchList.push_back(c);
    }
  }
}

TWebActionItem* TCustomWebDispatcher::ActionByName(const String& AName) const {
  for (int i = 0; i < FActions->Count(); ++i) {
    TWebActionItem* item = FActions->GetActionItem(i);
    if (SameText(item->GetDisplayName(), AName)) return item;
  }
  return nullptr;
}

bool DispatchHandler(TObject* Sender, IWebDispatch* Dispatch, TWebRequest* Request, TWebResponse* Response, bool) {
  if (!Dispatch->DispatchEnabled()) return false;
  TMethodType method = Dispatch->DispatchMethodType();
  if (method != TMethodType::mtAny && method != Request->MethodType()) return false;
  // Unlike action items, "/" is matched as it is. No mask matches nothing.
  TMask* mask = Dispatch->DispatchMask();
  if (!mask || !mask->Matches(StringOf(Request->InternalPathInfo()))) return false;
  return Dispatch->DispatchRequest(Sender, Request, Response);
}

void TDefaultWebAppServices::InitContext(TAbstractWebModuleList* WebModuleList, TWebRequest* Request,
                                         TWebResponse* Response) {
  FWebModules = WebModuleList;
  FRequest = Request;
  FResponse = Response;
}

void TDefaultWebAppServices::FinishContext() {
  if (auto* context = Supports<IWebModuleContext>(FindWebDispatcher())) context->FinishContext();
}

bool TDefaultWebAppServices::InvokeDispatcher() {
  IWebRequestHandler* handler = GetRequestHandler();
  if (!handler) throw ECorvelException(u"No dispatcher component found on data module");
  return handler->HandleRequest(FRequest, FResponse);
}

IWebRequestHandler* TDefaultWebAppServices::GetRequestHandler() {
  if (!FRequestHandler) FRequestHandler = FindRequestHandler();
  return FRequestHandler;
}

IWebRequestHandler* TDefaultWebAppServices::FindRequestHandler() {
  return Supports<IWebRequestHandler>(FindWebDispatcher());
}

TComponent* TDefaultWebAppServices::FindWebDispatcher() const {
  if (!FWebModules) return nullptr;
  for (int i = 0; i < FWebModules->GetItemCount(); ++i) {
    TComponent* module = FWebModules->GetItem(i);
    if (!module) continue;
    if (dynamic_cast<TCustomWebDispatcher*>(module)) return module;
    for (int j = 0; j < module->ComponentCount(); ++j)
      if (auto* dispatcher = dynamic_cast<TCustomWebDispatcher*>(module->Components(j))) return dispatcher;
  }
  return nullptr;
}

}  // namespace tolvane
