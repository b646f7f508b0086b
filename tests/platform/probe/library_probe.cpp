// A shared library that reports what the platform code sees from inside it.
#include <string>

#include "platform/process.h"

extern "C" __attribute__((visibility("default"))) void TolvaneProbeLibraryFileName(std::u16string& Name) {
  Name = tolvane::platform::LibraryFileName();
}
