// A shared library that reports what the platform code sees from inside it.
#include <string>

#include <tolvane/platform/process.h>

#if defined(_WIN32)
#define TOLVANE_PROBE_EXPORT __declspec(dllexport)
#else
#define TOLVANE_PROBE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TOLVANE_PROBE_EXPORT void TolvaneProbeLibraryFileName(std::u16string& Name) {
  Name = tolvane::platform::LibraryFileName();
}
