#include "win32_library.h"

#include <windows.h>

namespace tolvane::testing {

TDll::TDll(const std::wstring& Path) {
  FModule = LoadLibraryW(Path.c_str());
  if (!FModule) FLoadError = GetLastError();
}

void* TDll::Symbol(const char* Name) const {
  return FModule ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FModule), Name)) : nullptr;
}

std::vector<std::string> TDll::ExportedNames() const {
  std::vector<std::string> Names;
  if (!FModule) return Names;
  // A loaded image is laid out at its section addresses, so the export
  // directory is read straight from memory.
  const auto* Base = static_cast<const std::uint8_t*>(FModule);
  const auto* Dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(Base);
  const auto* Nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Base + Dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& Entry = Nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (Entry.VirtualAddress == 0) return Names;
  const auto* Exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Base + Entry.VirtualAddress);
  const auto* NameTable = reinterpret_cast<const DWORD*>(Base + Exports->AddressOfNames);
  for (DWORD I = 0; I < Exports->NumberOfNames; ++I)
    Names.emplace_back(reinterpret_cast<const char*>(Base + NameTable[I]));
  // Exports by number only would not show among the names.
  if (Exports->NumberOfFunctions != Exports->NumberOfNames) Names.emplace_back("(exports without a name)");
  return Names;
}

std::optional<std::string> TDll::RCData(const wchar_t* Name) const {
  const auto Module = static_cast<HMODULE>(FModule);
  HRSRC Info = Module ? FindResourceW(Module, Name, MAKEINTRESOURCEW(10) /* RT_RCDATA */) : nullptr;
  if (!Info) return std::nullopt;
  HGLOBAL Loaded = LoadResource(Module, Info);
  const void* Data = Loaded ? LockResource(Loaded) : nullptr;
  if (!Data) return std::nullopt;
  return std::string(static_cast<const char*>(Data), SizeofResource(Module, Info));
}

void TDll::Free() {
  if (FModule) FreeLibrary(static_cast<HMODULE>(FModule));
  FModule = nullptr;
}

std::wstring OwnFileName() {
  wchar_t Buffer[4096];
  const DWORD Length = GetModuleFileNameW(nullptr, Buffer, 4096);
  return std::wstring(Buffer, Length);
}

std::wstring OwnFolder() {
  std::wstring Name = OwnFileName();
  return Name.substr(0, Name.find_last_of(L"\\/") + 1);
}

bool ModuleLoaded(const std::wstring& Name) { return GetModuleHandleW(Name.c_str()) != nullptr; }

std::optional<TVersionInfo> ReadVersionInfo(const std::wstring& Path) {
  DWORD Ignored = 0;
  const DWORD Size = GetFileVersionInfoSizeW(Path.c_str(), &Ignored);
  if (Size == 0) return std::nullopt;
  std::vector<std::uint8_t> Block(Size);
  if (!GetFileVersionInfoW(Path.c_str(), 0, Size, Block.data())) return std::nullopt;

  TVersionInfo Info;
  void* Value = nullptr;
  UINT Length = 0;
  if (VerQueryValueW(Block.data(), L"\\", &Value, &Length) && Length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* Fixed = static_cast<const VS_FIXEDFILEINFO*>(Value);
    if (Fixed->dwSignature != 0xFEEF04BD) return std::nullopt;
    Info.FileVersionMS = Fixed->dwFileVersionMS;
    Info.FileVersionLS = Fixed->dwFileVersionLS;
    Info.ProductVersionMS = Fixed->dwProductVersionMS;
    Info.ProductVersionLS = Fixed->dwProductVersionLS;
  }
  if (VerQueryValueW(Block.data(), L"\\VarFileInfo\\Translation", &Value, &Length)) {
    const auto* Pairs = static_cast<const WORD*>(Value);
    for (UINT I = 0; I + 1 < Length / sizeof(WORD); I += 2) Info.Translations.emplace_back(Pairs[I], Pairs[I + 1]);
  }
  auto Text = [&](const wchar_t* Key) -> std::optional<std::string> {
    std::wstring Query = std::wstring(L"\\StringFileInfo\\040904E4\\") + Key;
    if (!VerQueryValueW(Block.data(), Query.c_str(), &Value, &Length)) return std::nullopt;
    std::wstring Wide(static_cast<const wchar_t*>(Value));
    return std::string(Wide.begin(), Wide.end());  // the values are ASCII
  };
  Info.FileVersion = Text(L"FileVersion");
  Info.ProductVersion = Text(L"ProductVersion");
  return Info;
}

TProgramRun RunProgram(const std::wstring& Program, const std::wstring& Arguments, const std::wstring& Variable) {
  TProgramRun Run;
  SECURITY_ATTRIBUTES Inherit{sizeof Inherit, nullptr, TRUE};
  HANDLE Read = nullptr, Write = nullptr;
  if (!CreatePipe(&Read, &Write, &Inherit, 0)) return Run;
  SetHandleInformation(Read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW Startup{};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdOutput = Write;
  Startup.hStdError = Write;
  Startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION Process{};
  std::wstring CommandLine = L"\"" + Program + L"\" " + Arguments;
  // The child takes its environment from this process's.
  SetEnvironmentVariableW(Variable.c_str(), L"1");
  const BOOL Started = CreateProcessW(Program.c_str(), CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &Startup, &Process);
  SetEnvironmentVariableW(Variable.c_str(), nullptr);
  CloseHandle(Write);
  if (Started) {
    char Chunk[512];
    DWORD Got = 0;
    while (ReadFile(Read, Chunk, sizeof Chunk, &Got, nullptr) && Got > 0) Run.Output.append(Chunk, Got);
    WaitForSingleObject(Process.hProcess, INFINITE);
    DWORD Code = 0;
    GetExitCodeProcess(Process.hProcess, &Code);
    Run.ExitCode = Code;
    CloseHandle(Process.hProcess);
    CloseHandle(Process.hThread);
  }
  CloseHandle(Read);
  return Run;
}

bool CopyFileTo(const std::wstring& From, const std::wstring& To) {
  return CopyFileW(From.c_str(), To.c_str(), FALSE) != 0;
}

}  // namespace tolvane::testing
