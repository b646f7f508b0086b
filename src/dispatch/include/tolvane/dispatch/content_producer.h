#pragma once
// Content producers: components whose Content an action item can use as the
// response content instead of, or before, its handler. Each remembers the
// dispatcher it works for and forgets it when that one is freed.
#include <tolvane/dispatch/web_interfaces.h>

namespace tolvane {

class TCustomContentProducer : public TComponent,
                               public IProduceContentFrom,
                               public IProduceContent,
                               public IGetAppDispatcher,
                               public ISetAppDispatcher {
  TV_DECLARE_CLASS(TCustomContentProducer)
 public:
  explicit TCustomContentProducer(TComponent* AOwner) : TComponent(AOwner) {}

  // The empty text; producers override it.
  virtual String Content();
  virtual String ContentFromStream(TStream& Stream);
  virtual String ContentFromString(const String& S);

  String ProduceContent() override { return Content(); }
  String ProduceContentFromStream(TStream& Stream) override { return ContentFromStream(Stream); }
  String ProduceContentFromString(const String& S) override { return ContentFromString(S); }

  TComponent* Dispatcher() const { return FDispatcher; }
  void SetDispatcher(TComponent* Value);
  void SetAppDispatcher(TComponent* ADispatcher) override { SetDispatcher(ADispatcher); }
  TComponent* GetAppDispatcher() override { return FDispatcher; }
  // The request and response of the dispatcher, or null without one.
  IWebDispatcherAccess* GetDispatcher() const { return Supports<IWebDispatcherAccess>(FDispatcher); }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TComponent* FDispatcher = nullptr;  // not owned; watched with a free notification
};

}  // namespace tolvane
