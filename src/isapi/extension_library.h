#pragma once
// Loading and unloading an extension library. The loadable library's own
// hooks call these; tests call them to load and unload the library in process.
// No work happens in static initializers, so the order below never depends on
// the order in which the linker placed the code.
#include "platform/resource.h"
#include "runtime/object.h"

namespace tolvane {

// What differs from one extension to the next.
struct TExtensionLibrary {
  // The module class the main block hands to the application object.
  TClass ModuleClass = nullptr;
  // The extension's own RCDATA resources where the system has no resource
  // section of its own (a table ending in a null entry), searched before any
  // added table; null where the resource compiler put them into the module.
  const platform::TEmbeddedResource* RCData = nullptr;
};

// The unit initializations in order (web context hooks, the application
// object, the worker-pool settings), then the main block: COM flags, Initialize,
// the module class of Library, Run. Does nothing when already loaded.
void LoadExtensionLibrary(const TExtensionLibrary& Library);
// Stops a pool that TerminateExtension did not (before the application object
// goes, so no worker serves with a destroyed one), runs the library-exit
// handling that frees the application object, then the other finalizations.
// Does nothing when not loaded, nor once TerminateExtension left workers
// inside their requests (the library then stays loaded for good). Waits for
// workers still inside a request after the pool's stop wait before it frees
// what they use. Lets no exception out.
void UnloadExtensionLibrary() noexcept;
// Hands a thread attach or detach notification to the library-unload
// callback chain while the library is loaded. Lets no exception out.
void NotifyExtensionLibrary(int Reason) noexcept;

}  // namespace tolvane
