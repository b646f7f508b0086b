#pragma once
// The host-independent application object: a request handler with the small
// interface the library's main block drives, a title, and the wiring that
// makes it the process's request handler and exception hook and frees it when
// the library is unloaded.
//
// The library is unloaded through a process-wide callback, DllProc, that the
// library's unload notification calls with the reason code. The application
// object installs DLLExitProc there and chains to the callback it replaced.
#include <tolvane/webapp/web_request_handler.h>

namespace tolvane {

// Reason codes of library notifications.
inline constexpr int kDllProcessDetach = 0;
inline constexpr int kDllProcessAttach = 1;
inline constexpr int kDllThreadAttach = 2;
inline constexpr int kDllThreadDetach = 3;

using TDllProc = void (*)(int Reason);
// The library-unload callback, called with the reason code of every library
// notification after start.
extern TDllProc DllProc;

// The runtime's initialization hook that Initialize calls when set.
extern void (*InitProc)();

class TWebApplication : public TWebRequestHandler {
  TV_DECLARE_CLASS(TWebApplication)
 public:
  // Names WebRequestHandler as the process's request handler, installs
  // HandleException as the exception hook and DLLExitProc as the unload
  // callback (saving the previous one in OldDllProc, unless DLLExitProc is
  // installed already).
  explicit TWebApplication(TComponent* AOwner);
  // Clears the exception hook (when it is still this object's), then frees
  // every set, module and factory.
  ~TWebApplication() override;
  void BeforeDestruction() override;

  const String& Title() const { return FTitle; }
  void SetTitle(const String& Value) { FTitle = Value; }

  // Names the module class; modules are made per request, so Reference is
  // not written. Raises Exception "Only one data module per application"
  // for a class other than the one already set.
  virtual void CreateForm(TComponentClass InstanceClass, TComponent*& Reference);
  // Calls InitProc when set.
  virtual void Initialize();
  // Requests arrive later through the host binding: nothing to run.
  virtual void Run() {}

 private:
  void ClearExceptionHook();

  String FTitle;
};

// The application object of the process; set by the host binding at load.
extern TWebApplication* Application;
// Told of an Exception raised while the application object is freed at unload.
using TShutdownExceptionProc = void (*)(const Exception& E);
extern TShutdownExceptionProc HandleShutdownException;
// The unload callback installed before DLLExitProc.
extern TDllProc OldDllProc;

// Returns Application.
TWebRequestHandler* WebRequestHandler();
// On process detach frees the application object; passes every reason on to
// OldDllProc.
void DLLExitProc(int Reason);
// Frees Application and clears it. An Exception raised while freeing goes to
// HandleShutdownException when set (Application and the exception hook
// cleared first), else is dropped; anything else raised goes on.
void DoneLumoApplication();

}  // namespace tolvane
