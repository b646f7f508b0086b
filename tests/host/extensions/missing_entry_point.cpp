// An extension that lacks HttpExtensionProc: the host must refuse it.
#include <tolvane/isapi/isapi.h>

extern "C" {

__attribute__((visibility("default"))) BOOL GetExtensionVersion(HSE_VERSION_INFO* Version) {
  Version->dwExtensionVersion = HseMakeVersion(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
  Version->lpszExtensionDesc[0] = '\0';
  return ISAPI_TRUE;
}

__attribute__((visibility("default"))) BOOL TerminateExtension(DWORD) { return ISAPI_TRUE; }

}  // extern "C"
