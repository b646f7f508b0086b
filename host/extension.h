// An ISAPI extension library loaded into the host: its three entry points.
#pragma once

#include <tolvane/isapi/isapi.h>

#include <stdexcept>
#include <string>

namespace tolvane::host {

class EExtensionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TExtension {
 public:
  // Loads the library, resolves the entry points and calls GetExtensionVersion.
  // Throws EExtensionError with a one-line message on any failure.
  explicit TExtension(const std::string& FileName);
  // Entry points linked into the program itself (tests and fuzzing).
  TExtension(const std::string& Name, PFN_HTTPEXTENSIONPROC HttpExtensionProc,
             PFN_TERMINATEEXTENSION TerminateExtension);
  // Unloads the library unless Leak() was called.
  ~TExtension();
  TExtension(const TExtension&) = delete;
  TExtension& operator=(const TExtension&) = delete;

  DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB) const { return FHttpExtensionProc(ECB); }
  bool Terminate(DWORD Flags) const;
  // Keeps the code mapped: a thread still inside the extension must not
  // find its code gone.
  void Leak() { FHandle = nullptr; }

  DWORD Version() const { return FVersion; }
  const std::string& Description() const { return FDescription; }
  const std::string& FileName() const { return FFileName; }

 private:
  std::string FFileName;
  void* FHandle = nullptr;
  PFN_HTTPEXTENSIONPROC FHttpExtensionProc = nullptr;
  PFN_TERMINATEEXTENSION FTerminateExtension = nullptr;
  DWORD FVersion = 0;
  std::string FDescription;
};

}  // namespace tolvane::host
