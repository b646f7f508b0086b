// An extension's load and unload hooks as a shared object, which load and
// unload the framework with the extension's module class and resources.
#include <cxxabi.h>

#include <atomic>

#include "this_library.h"

extern "C" void* __dso_handle;

namespace {

// Set by an exit handler. A process that ends with the library still loaded
// runs every exit handler, which destroys the library's static objects,
// before the library's unload hook: the hook must then leave everything to
// the end of the process rather than free the application with helpers
// already gone. On dlclose the handler runs after the unload hook instead.
constinit std::atomic<bool> ProcessExiting{false};

void MarkProcessExiting(void*) { ProcessExiting.store(true, std::memory_order_relaxed); }

__attribute__((constructor)) void LoadLibraryHook() {
  // Registered for this library (its DSO handle), so dlclose drops the
  // handler with the library and no exit handler points into unmapped code.
  abi::__cxa_atexit(&MarkProcessExiting, nullptr, &__dso_handle);
  try {
    tolvane::LoadExtensionLibrary(tolvane::extension::ThisLibrary());
  } catch (...) {
    // A library that failed to start answers every request with an error
    // rather than taking the host process down.
  }
}

__attribute__((destructor)) void UnloadLibraryHook() {
  if (!ProcessExiting.load(std::memory_order_relaxed)) tolvane::UnloadExtensionLibrary();
}

}  // namespace
