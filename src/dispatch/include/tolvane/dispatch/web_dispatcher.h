#pragma once
// The dispatcher that every web module is: a data module owning an ordered
// collection of action items that decides, for each request handed to it,
// which action or which dispatch-capable component answers it, and turns an
// exception that escaped a request into an error page. Also the default
// per-request services object that finds a module set's dispatcher.
//
// A module serves one request at a time; nothing here takes a lock.
#include <memory>
#include <vector>

#include <tolvane/dispatch/web_action_item.h>
#include <tolvane/dispatch/web_interfaces.h>
#include <tolvane/runtime/data_module.h>

namespace tolvane {

class TCustomWebDispatcher : public TDataModule,
                             public IWebModuleContext,
                             public IWebExceptionHandler,
                             public IMultiModuleSupport,
                             public IWebDispatcherAccess,
                             public IWebDispatchActions,
                             public IWebRequestHandler {
  TV_DECLARE_CLASS(TCustomWebDispatcher)
 public:
  // Raises ECorvelException "Only one WebDispatcher per form/data module"
  // when AOwner is, or already owns, a dispatcher.
  explicit TCustomWebDispatcher(TComponent* AOwner);
  ~TCustomWebDispatcher() override;

  // Offers the request to BeforeDispatch, the action items, the
  // dispatch-capable components and the default item; true when handled.
  bool DispatchAction(TWebRequest* Request, TWebResponse* Response);
  // The first item named AName (ignoring case), or null.
  TWebActionItem* ActionByName(const String& AName) const;

  TWebActionItems* Actions() const { return FActions.get(); }
  // Replaces the items by copies of Value's; Actions stays the same object.
  void SetActions(TWebActionItems* Value) { FActions->Assign(Value); }
  TWebActionItem* GetAction(int Index) const { return FActions->GetActionItem(Index); }

  const THTTPMethodEvent& BeforeDispatch() const { return FBeforeDispatch; }
  void SetBeforeDispatch(const THTTPMethodEvent& Value) { FBeforeDispatch = Value; }
  const THTTPMethodEvent& AfterDispatch() const { return FAfterDispatch; }
  void SetAfterDispatch(const THTTPMethodEvent& Value) { FAfterDispatch = Value; }
  const TWebExceptionEvent& OnException() const { return FOnException; }
  void SetOnException(const TWebExceptionEvent& Value) { FOnException = Value; }

  // The request and response being served (null once the request's context
  // is finished, and while the module is destroyed).
  TWebRequest* GetRequest() const { return FRequest; }
  TWebResponse* GetResponse() const { return FResponse; }
  // The components that dispatch requests themselves, in the order they
  // became known.
  const std::vector<TComponent*>& DispatchList() const { return FDispatchList; }

  // IWebRequestHandler.
  bool HandleRequest(TWebRequest* Request, TWebResponse* Response) override;
  // IWebExceptionHandler: OnException, or the "Internal Application Error"
  // page with status 500.
  void HandleException(const Exception& E, bool& Handled) override;
  // IWebDispatcherAccess.
  TWebRequest* Request() override { return FRequest; }
  TWebResponse* Response() override { return FResponse; }
  // IWebModuleContext and IMultiModuleSupport. Finishing the context forgets
  // the request and response: they are freed when the request ends.
  void InitContext(TWebRequest* Request, TWebResponse* Response) override;
  void FinishContext() override;
  void InitModule(TComponent* AModule) override;

  // Clears the request and response before OnDestroy can run, so that an
  // exception from it finds no stale response.
  void BeforeDestruction() override;

 protected:
  bool DoBeforeDispatch(TWebRequest* Request, TWebResponse* Response);
  bool DoAfterDispatch(TWebRequest* Request, TWebResponse* Response);
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  void AddDispatchComponent(TComponent* AComponent);

  TWebRequest* FRequest = nullptr;    // not owned
  TWebResponse* FResponse = nullptr;  // not owned
  std::unique_ptr<TWebActionItems> FActions;
  THTTPMethodEvent FBeforeDispatch;
  THTTPMethodEvent FAfterDispatch;
  std::vector<TComponent*> FDispatchList;  // not owned
  TWebExceptionEvent FOnException;
};

// Offers a request to a dispatch-capable component: its Enabled, method type
// and mask (matched against the request path as it is), then its own
// DispatchRequest. DoDefault is ignored: components never act as the default.
bool DispatchHandler(TObject* Sender, IWebDispatch* Dispatch, TWebRequest* Request, TWebResponse* Response,
                     bool DoDefault);

// The services of one request when no module offers its own: finds the
// dispatcher of the module set and hands it the request. Owned by whoever made
// it.
class TDefaultWebAppServices : public TObject, public IWebAppServices {
  TV_DECLARE_CLASS(TDefaultWebAppServices)
 public:
  TDefaultWebAppServices() = default;
  ~TDefaultWebAppServices() override = default;

  void InitContext(TAbstractWebModuleList* WebModuleList, TWebRequest* Request, TWebResponse* Response) override;
  bool HandleRequest() override { return InvokeDispatcher(); }
  // Finishes the dispatcher's context: the module goes back to the pool
  // without the request's objects.
  void FinishContext() override;
  TObject* GetExceptionHandler() override { return FindWebDispatcher(); }
  bool GetActive() override { return true; }

  // Raises ECorvelException "No dispatcher component found on data module"
  // when the set has no request handler.
  bool InvokeDispatcher();
  // Found on first use, then kept.
  IWebRequestHandler* GetRequestHandler();
  // The first module of the set that is a dispatcher, or else the first
  // dispatcher owned by a module; null when there is none.
  TComponent* FindWebDispatcher() const;

 protected:
  virtual IWebRequestHandler* FindRequestHandler();

 private:
  IWebRequestHandler* FRequestHandler = nullptr;  // not owned: a component of the set
  TWebRequest* FRequest = nullptr;
  TAbstractWebModuleList* FWebModules = nullptr;
  TWebResponse* FResponse = nullptr;
};

}  // namespace tolvane
