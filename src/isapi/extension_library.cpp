#include "isapi/extension_library.h"

#include "isapi/isapi_app.h"
#include "isapi/isapi_entry_points.h"
#include "platform/com.h"
#include "runtime/com_init.h"
#include "webapp/web_application.h"
#include "webapp/web_context.h"

namespace tolvane {
namespace {

constinit bool Loaded = false;
// The unload callback that was in place before the library's own.
constinit TDllProc PreviousDllProc = nullptr;

void MainBlock(TClass ModuleClass) {
  CoInitFlags = platform::kCoInitMultithreaded;
  Application->Initialize();
  Application->SetWebModuleClass(ModuleClass);
  Application->Run();
}

}  // namespace

void LoadExtensionLibrary(const TExtensionLibrary& Library) {
  if (Loaded) return;
  Loaded = true;
  platform::SetLibraryRCData(Library.RCData);
  PreviousDllProc = DllProc;
  InitWebContextHooks();
  InitApplication();
  InitThreadPoolUnit();
  MainBlock(Library.ModuleClass);
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
  platform::SetLibraryRCData(nullptr);
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
