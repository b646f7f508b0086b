#include "app/extension_library.h"

#include "app/web_module1.h"
#include <tolvane/isapi/isapi_app.h>
#include <tolvane/isapi/isapi_entry_points.h>
#include <tolvane/platform/com.h>
#include <tolvane/runtime/com_init.h>
#include <tolvane/webapp/web_application.h>
#include <tolvane/webapp/web_context.h>

namespace tolvane {
namespace {

constinit bool Loaded = false;
// The unload callback that was in place before the library's own.
constinit TDllProc PreviousDllProc = nullptr;

void MainBlock() {
  CoInitFlags = platform::kCoInitMultithreaded;
  Application->Initialize();
  Application->SetWebModuleClass(WebModuleClass);
  Application->Run();
}

}  // namespace

void LoadExtensionLibrary() {
  if (Loaded) return;
  Loaded = true;
  PreviousDllProc = DllProc;
  InitWebContextHooks();
  InitApplication();
  InitThreadPoolUnit();
  MainBlock();
}

void UnloadExtensionLibrary() noexcept {
  // Workers that outlived TerminateExtension may still use all of it.
  if (!Loaded || LibraryKeptLoaded.load(std::memory_order_acquire)) return;
  Loaded = false;
  DoneThreadPoolUnit();
  try {
    if (DllProc) DllProc(kDllProcessDetach);
  } catch (...) {
    // The library is going away; there is nobody left to tell.
  }
  DllProc = PreviousDllProc;
  OldDllProc = nullptr;
  WebApplicationFileName().clear();
  CoInitFlags = kCoInitFlagsUnset;
}

void NotifyExtensionLibrary(int Reason) noexcept {
  if (!Loaded || !DllProc) return;
  try {
    DllProc(Reason);
  } catch (...) {
    // A notification has nobody to report to.
  }
}

}  // namespace tolvane
