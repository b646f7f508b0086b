// An extension DLL's entry point, which loads and unloads the framework with
// the extension's module class. The system
// calls it holding its loader lock, so nothing here may start a thread and
// wait for it, or wait for a thread that is ending.
//
// Loading only builds objects: the workers start with the first request, on
// a host thread, and each is running its loop before that request is queued.
// Unloading after TerminateExtension finds the pool gone. Unloading without
// it (FreeLibrary straight away) must still stop the 25 workers before the
// code they run is unmapped, but a thread that ends normally needs the loader
// lock for its exit notifications, so waiting here for its end would never
// return. The pool's usual stop runs instead (the queued requests are served
// first), with one change: a worker leaving its loop reports that it is done
// from a small routine outside the library, and exits from there. The wait
// counts those reports; the workers finish exiting once the loader lets go,
// with no library code left to run. A worker still inside a request when the
// stop wait ends keeps the unload waiting until it is done, since the code
// and the objects it uses cannot go before.
//
// Only the process's detach unloads. Thread attach and detach notifications,
// which come for every thread of the host, are handed to the unload callback
// chain as they are: it passes them on and frees nothing.
#include "platform/thread.h"
#include "this_library.h"

namespace {

// The loader's reasons for calling the entry point.
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;
constexpr unsigned long kThreadAttach = 2;
constexpr unsigned long kThreadDetach = 3;

}  // namespace

extern "C" int __stdcall DllMain(void* /*Instance*/, unsigned long Reason, void* Reserved) {
  if (Reason == kProcessAttach) {
    try {
      tolvane::LoadExtensionLibrary(tolvane::extension::ThisLibrary());
    } catch (...) {
      // A library that failed to start answers every request with an error
      // rather than refusing to load into the host.
    }
  } else if (Reason == kProcessDetach && Reserved == nullptr) {
    tolvane::platform::EndThreadsOutsideLibrary();
    tolvane::UnloadExtensionLibrary();
  } else if (Reason == kThreadAttach || Reason == kThreadDetach) {
    tolvane::NotifyExtensionLibrary(static_cast<int>(Reason));
  }
  // A detach with Reserved set is the process ending: its other threads are
  // gone already and the system reclaims everything, so nothing is freed.
  return 1;
}
