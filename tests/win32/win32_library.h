#pragma once
// The Windows calls the test host makes, behind plain C++ types: the ISAPI
// declarations and the system's headers name the same types differently, so
// they never meet in one file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::testing {

// One load of a DLL by LoadLibraryW, freed when it goes out of scope.
class TDll {
 public:
  explicit TDll(const std::wstring& Path);
  ~TDll() { Free(); }
  TDll(const TDll&) = delete;
  TDll& operator=(const TDll&) = delete;

  bool Loaded() const { return FModule != nullptr; }
  // The system's error code when the load failed.
  unsigned long LoadError() const { return FLoadError; }
  void* Symbol(const char* Name) const;
  // Names in the DLL's export table, in its order.
  std::vector<std::string> ExportedNames() const;
  // An RCDATA resource of the DLL, read in place.
  std::optional<std::string> RCData(const wchar_t* Name) const;
  void Free();

 private:
  void* FModule = nullptr;
  unsigned long FLoadError = 0;
};

// The folder of this program, with a trailing separator.
std::wstring OwnFolder();
std::wstring OwnFileName();

// Whether a module of that name is loaded in this process.
bool ModuleLoaded(const std::wstring& Name);

struct TVersionInfo {
  std::uint32_t FileVersionMS = 0, FileVersionLS = 0, ProductVersionMS = 0, ProductVersionLS = 0;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> Translations;  // language, code page
  std::optional<std::string> FileVersion, ProductVersion;            // from block 040904E4
};
// A file's version resource, read with the version API.
std::optional<TVersionInfo> ReadVersionInfo(const std::wstring& Path);

// Runs a program with arguments and an extra environment variable set,
// waits for it and answers its exit code and what it wrote.
struct TProgramRun {
  unsigned long ExitCode = 0xFFFFFFFF;
  std::string Output;
};
TProgramRun RunProgram(const std::wstring& Program, const std::wstring& Arguments, const std::wstring& Variable);

// Copies a file, replacing what is there.
bool CopyFileTo(const std::wstring& From, const std::wstring& To);

}  // namespace tolvane::testing
