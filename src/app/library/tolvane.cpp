// The loadable extension: the three exported ISAPI entry points and the
// hooks that load and unload the library core.
#include "app/extension_library.h"
#include "isapi/isapi_entry_points.h"

#define TOLVANE_EXPORT extern "C" __attribute__((visibility("default")))

TOLVANE_EXPORT BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) { return tolvane::exports::GetExtensionVersion(pVer); }

TOLVANE_EXPORT DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  return tolvane::exports::HttpExtensionProc(pECB);
}

TOLVANE_EXPORT BOOL TerminateExtension(DWORD dwFlags) { return tolvane::exports::TerminateExtension(dwFlags); }

namespace {

__attribute__((constructor)) void LoadLibraryHook() {
  try {
    tolvane::LoadExtensionLibrary();
  } catch (...) {
    // A library that failed to start answers every request with an error
    // rather than taking the host process down.
  }
}

__attribute__((destructor)) void UnloadLibraryHook() { tolvane::UnloadExtensionLibrary(); }

}  // namespace
