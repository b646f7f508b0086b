#include "webapp/web_application.h"

#include "runtime/application_hook.h"

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
  OldDllProc = DllProc;
  DllProc = &DLLExitProc;
}

TWebApplication::~TWebApplication() { ApplicationHandleException = TNotifyEvent(); }

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
  try {
    app->Free();
  } catch (const Exception& E) {
    // The raising step runs once only: freeing again finishes the object.
    app->Free();
    if (HandleShutdownException) {
      ApplicationHandleException = TNotifyEvent();
      HandleShutdownException(E);
    }
  } catch (...) {
    app->Free();
    throw;
  }
}

}  // namespace tolvane
