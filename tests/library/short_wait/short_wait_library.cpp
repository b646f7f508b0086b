// The entry points of the extension library as the unload tests load it: the
// same module and load hooks, with a pool whose stop wait lasts a fraction of
// a second, so that a request can outlive it within a test.
#include "isapi/isapi_entry_points.h"

#ifdef _WIN32
#define TOLVANE_EXPORT extern "C" __declspec(dllexport)
#else
#define TOLVANE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

class TShortWaitPool : public tolvane::TISAPIThreadPool {
  TV_DECLARE_CLASS(TShortWaitPool)
 public:
  explicit TShortWaitPool(bool InitCOM) : TISAPIThreadPool(InitCOM) { SetShutDownTimeoutMs(300); }
};
TV_DEFINE_CLASS(TShortWaitPool, tolvane::TISAPIThreadPool);

}  // namespace

TOLVANE_EXPORT BOOL GetExtensionVersion(HSE_VERSION_INFO* pVer) {
  tolvane::ThreadPoolClass = tolvane::ThreadPoolClassOf<TShortWaitPool>();
  return tolvane::exports::GetExtensionVersion(pVer);
}

TOLVANE_EXPORT DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* pECB) {
  return tolvane::exports::HttpExtensionProc(pECB);
}

TOLVANE_EXPORT BOOL TerminateExtension(DWORD dwFlags) { return tolvane::exports::TerminateExtension(dwFlags); }
