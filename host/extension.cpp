#include "extension.h"

#include <dlfcn.h>

#include <cstring>

namespace tolvane::host {

namespace {

std::string LastDlError() {
  const char* Text = dlerror();
  return Text ? Text : "unknown error";
}

}  // namespace

TExtension::TExtension(const std::string& FileName) : FFileName(FileName) {
  // dlopen searches the library path for a bare name; a file in the current
  // directory is what a user means.
  std::string Path = FileName.find('/') == std::string::npos ? "./" + FileName : FileName;
  FHandle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!FHandle) throw EExtensionError("cannot load extension: " + LastDlError());
  auto Resolve = [&](const char* Name) {
    dlerror();
    void* Symbol = dlsym(FHandle, Name);
    if (!Symbol) {
      dlclose(FHandle);
      FHandle = nullptr;
      throw EExtensionError("cannot load extension " + FileName + ": entry point " + Name + " not found");
    }
    return Symbol;
  };
  auto GetExtensionVersion = reinterpret_cast<PFN_GETEXTENSIONVERSION>(Resolve("GetExtensionVersion"));
  FHttpExtensionProc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(Resolve("HttpExtensionProc"));
  FTerminateExtension = reinterpret_cast<PFN_TERMINATEEXTENSION>(Resolve("TerminateExtension"));
  HSE_VERSION_INFO Info;
  std::memset(&Info, 0, sizeof Info);
  BOOL Accepted = ISAPI_FALSE;
  try {
    Accepted = GetExtensionVersion(&Info);
  } catch (...) {
    Accepted = ISAPI_FALSE;
  }
  if (!Accepted) {
    dlclose(FHandle);
    FHandle = nullptr;
    throw EExtensionError("cannot load extension " + FileName + ": GetExtensionVersion failed");
  }
  FVersion = Info.dwExtensionVersion;
  FDescription.assign(Info.lpszExtensionDesc, strnlen(Info.lpszExtensionDesc, sizeof Info.lpszExtensionDesc));
}

TExtension::TExtension(const std::string& Name, PFN_HTTPEXTENSIONPROC HttpExtensionProc,
                       PFN_TERMINATEEXTENSION TerminateExtension)
    : FFileName(Name), FHttpExtensionProc(HttpExtensionProc), FTerminateExtension(TerminateExtension) {}

TExtension::~TExtension() {
  if (FHandle) dlclose(FHandle);
}

bool TExtension::Terminate(DWORD Flags) const {
  try {
    return FTerminateExtension(Flags) != ISAPI_FALSE;
  } catch (...) {
    return false;
  }
}

}  // namespace tolvane::host
