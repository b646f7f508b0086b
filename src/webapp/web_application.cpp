#include <tolvane/webapp/web_application.h>

#include <tolvane/runtime/application_hook.h>

namespace tolvane {

TV_DEFINE_CLASS(TWebApplication, TWebRequestHandler, CreateComponent<TWebApplication>);

TDllProc DllProc = nullptr;
void (*InitProc)() = nullptr;
TWebApplication* Application = nullptr;
TShutdownExceptionProc HandleShutdownException = nullptr;
TDllProc OldDllProc = nullptr;

TWebApplication::TWebApplication(TComponent* AOwner)
    : TWebRequestHandler((WebRequestHandlerProc = &WebRequestHandler, AOwner)) {
  ApplicationHandleException = TNotifyEvent::Of<&TWebRequestHandler::HandleException>(this);
  // This code always runs inside a loadable library, which threads share by
  // nature; so the library's unload notification is what frees the object.
  // A second application object keeps the chain as it is: saving
  // DLLExitProc as its own predecessor would recurse without end.
  if (DllProc != &DLLExitProc) {
    OldDllProc = DllProc;
    DllProc = &DLLExitProc;
  }
}

TWebApplication::~TWebApplication() { ClearExceptionHook(); }

void TWebApplication::BeforeDestruction() {
  // No hook of this object is called once its modules begin to go.
  ClearExceptionHook();
  TWebRequestHandler::BeforeDestruction();
}

void TWebApplication::ClearExceptionHook() {
  // Another application object's hook stays.
  if (ApplicationHandleException.Data() == this) ApplicationHandleException = TNotifyEvent();
}

void TWebApplication::CreateForm(TComponentClass InstanceClass, TComponent*&) {
  if (!WebModuleClass()) SetWebModuleClass(InstanceClass);
  else if (WebModuleClass() != InstanceClass) throw Exception(u"Only one data module per application");
}

void TWebApplication::Initialize() {
  if (InitProc) InitProc();
}

TWebRequestHandler* WebRequestHandler() { return Application; }

void DLLExitProc(int Reason) {
  if (Reason == kDllProcessDetach) DoneLumoApplication();
  if (OldDllProc) OldDllProc(Reason);
}

void DoneLumoApplication() {
  // Cleared before freeing, so that nothing reaches an object half freed,
  // whatever its destruction raises.
  TWebApplication* app = Application;
  Application = nullptr;
  if (!app) return;
  // Free finishes the object, its sets and modules whatever raises, then
  // raises the first failure; anything but an Exception goes on.
  try {
    app->Free();
  } catch (const Exception& E) {
    if (HandleShutdownException) {
      ApplicationHandleException = TNotifyEvent();
      HandleShutdownException(E);
    }
  }
}

}  // namespace tolvane
