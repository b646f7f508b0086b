#include <tolvane/webapp/web_context.h>

#include <tolvane/platform/process.h>

namespace tolvane {

TV_DEFINE_CLASS(TAbstractWebContext, TObject);

TAbstractWebContext::~TAbstractWebContext() = default;

TGetWebContextProc GetWebContextProc = nullptr;
TSetWebContextProc SetWebContextProc = nullptr;
TGetModuleFileNameProc GetModuleFileNameProc = nullptr;

namespace {

thread_local TAbstractWebContext* WebContextSlot = nullptr;

}  // namespace

TAbstractWebContext* GetWebContext() { return WebContextSlot; }

void SetWebContext(TAbstractWebContext* Context) { WebContextSlot = Context; }

String ImplGetModuleFileName() { return platform::LibraryFileName(); }

void InitWebContextHooks() {
  if (!GetWebContextProc) GetWebContextProc = GetWebContext;
  if (!SetWebContextProc) SetWebContextProc = SetWebContext;
  if (!GetModuleFileNameProc) GetModuleFileNameProc = ImplGetModuleFileName;
}

}  // namespace tolvane
