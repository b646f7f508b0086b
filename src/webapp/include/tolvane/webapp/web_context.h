#pragma once
// The per-thread web context and the process-wide hooks through which it is
// reached, plus the hook that names the library's own file. The hooks start
// empty; InitWebContextHooks, called by the library's start-up, installs the
// implementations below into the hooks still empty.
#include <tolvane/runtime/object.h>

namespace tolvane {

// What a request's context is made of is left to whoever stores one.
class TAbstractWebContext : public TObject {
  TV_DECLARE_CLASS(TAbstractWebContext)
 public:
  ~TAbstractWebContext() override = 0;

 protected:
  TAbstractWebContext() = default;
};

using TGetWebContextProc = TAbstractWebContext* (*)();
using TSetWebContextProc = void (*)(TAbstractWebContext* Context);
using TGetModuleFileNameProc = String (*)();

extern TGetWebContextProc GetWebContextProc;
extern TSetWebContextProc SetWebContextProc;
extern TGetModuleFileNameProc GetModuleFileNameProc;

// The calling thread's context, or null; the slot does not own it.
TAbstractWebContext* GetWebContext();
void SetWebContext(TAbstractWebContext* Context);
// The full file name of the library itself.
String ImplGetModuleFileName();

// Installs GetWebContext, SetWebContext and ImplGetModuleFileName, each only
// into a hook that is still empty. Call once at start-up, before any thread
// reads the hooks.
void InitWebContextHooks();

}  // namespace tolvane
