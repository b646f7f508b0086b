// An extension's three exported ISAPI entry points. The hooks that load and
// unload the framework are the system's own, beside this file in posix/ and
// win32/.
#include "isapi/isapi_entry_points.h"

#ifdef _WIN32
#define TOLVANE_EXPORT extern "C" __declspec(dllexport)
#else
#define TOLVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TOLVANE_EXPORT BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) { return tolvane::exports::GetExtensionVersion(pVer); }

TOLVANE_EXPORT DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  return tolvane::exports::HttpExtensionProc(pECB);
}

TOLVANE_EXPORT BOOL TerminateExtension(DWORD dwFlags) { return tolvane::exports::TerminateExtension(dwFlags); }
