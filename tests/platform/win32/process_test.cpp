// Process facts as Windows reports them: programs and libraries copied to
// other places and names report the copy's full name.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include <tolvane/platform/code_page.h>
#include <tolvane/platform/process.h>
#include "support/temp_folder.h"

using namespace tolvane::platform;
using tolvane::testing::TTempFolder;
namespace fs = std::filesystem;

namespace {

std::u16string U16(const std::wstring& Text) { return std::u16string(Text.begin(), Text.end()); }

fs::path OwnFolder() {
  wchar_t Buffer[4096];
  DWORD Length = GetModuleFileNameW(nullptr, Buffer, 4096);
  return fs::path(std::wstring(Buffer, Length)).parent_path();
}

// Runs a program and answers what it wrote to its standard output.
std::string RunProgram(const fs::path& Program, DWORD& ExitCode) {
  SECURITY_ATTRIBUTES Inherit{sizeof Inherit, nullptr, TRUE};
  HANDLE Read = nullptr, Write = nullptr;
  if (!CreatePipe(&Read, &Write, &Inherit, 0)) return "(no pipe)";
  SetHandleInformation(Read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW Startup{};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdOutput = Write;
  Startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  Startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION Process{};
  std::wstring CommandLine = L"\"" + Program.wstring() + L"\"";
  BOOL Started = CreateProcessW(Program.c_str(), CommandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                &Startup, &Process);
  CloseHandle(Write);
  std::string Output;
  if (Started) {
    char Chunk[512];
    DWORD Got = 0;
    while (ReadFile(Read, Chunk, sizeof Chunk, &Got, nullptr) && Got > 0) Output.append(Chunk, Got);
    WaitForSingleObject(Process.hProcess, INFINITE);
    GetExitCodeProcess(Process.hProcess, &ExitCode);
    CloseHandle(Process.hThread);
    CloseHandle(Process.hProcess);
  } else {
    Output = "(not started)";
  }
  CloseHandle(Read);
  return Output;
}

}  // namespace

TEST(Process, TheExecutablesFullFileNameIsTheRunningProgram) {
  auto Name = ExecutableFileName();
  ASSERT_GE(Name.size(), 3u);
  EXPECT_EQ(Name.substr(1, 2), u":\\") << "not a full name with a drive";
  EXPECT_TRUE(Name.ends_with(u"\\tolvane_platform_tests.exe"));
  // Linked into the program itself, the library's file name is the program's.
  EXPECT_EQ(LibraryFileName(), Name);
}

TEST(Process, ACopyOfTheProgramKnowsItsNewName) {
  const std::wstring Names[] = {L"bin\\HTTPD.EXE", L"Programme \u00E9t\u00E9 \u65E5\\w3wp.exe"};
  for (const auto& Name : Names) {
    TTempFolder Dir(L"exe");
    const fs::path Copy = Dir.Path() / Name;
    SCOPED_TRACE(WideToMultiByte(TCodePage::cpUTF8, U16(Copy.wstring())));
    fs::create_directories(Copy.parent_path());
    fs::copy_file(OwnFolder() / TOLVANE_EXECUTABLE_PROBE_NAME, Copy);
    DWORD ExitCode = 1;
    const std::string Reported = RunProgram(Copy, ExitCode);
    EXPECT_EQ(ExitCode, 0u);
    EXPECT_EQ(MultiByteToWide(TCodePage::cpUTF8, Reported), U16(fs::absolute(Copy).wstring()));
  }
}

// A copy of a small library: its name is the full name of that copy, not the
// program's, however it was loaded, and never with the long-path prefix.
TEST(Process, ALoadedLibraryKnowsItsOwnFullFileName) {
  enum TLoad { ldFull, ldRelative, ldLongPath };
  const struct {
    std::wstring Folder;
    TLoad Load;
  } Cases[] = {{L"plain", ldFull}, {L"biblioth\u00E8que \u65E5", ldRelative}, {L"long", ldLongPath}};
  for (const auto& Case : Cases) {
    TTempFolder Dir(Case.Folder);
    // Renamed: a relative name is searched in the program's folder first,
    // where the original lies.
    const fs::path Copy = fs::absolute(Dir.Path() / L"tolvane probe copy.dll");
    SCOPED_TRACE(WideToMultiByte(TCodePage::cpUTF8, U16(Copy.wstring())));
    fs::copy_file(OwnFolder() / TOLVANE_PROBE_NAME, Copy);
    HMODULE Library = nullptr;
    if (Case.Load == ldRelative) {
      const fs::path Saved = fs::current_path();
      fs::current_path(Dir.Path());
      Library = LoadLibraryW(L".\\tolvane probe copy.dll");
      fs::current_path(Saved);
    } else {
      const std::wstring Path = (Case.Load == ldLongPath ? L"\\\\?\\" : L"") + Copy.wstring();
      Library = LoadLibraryW(Path.c_str());
    }
    ASSERT_NE(Library, nullptr) << "error " << GetLastError();
    auto Probe = reinterpret_cast<void (*)(std::u16string&)>(
        reinterpret_cast<void*>(GetProcAddress(Library, "TolvaneProbeLibraryFileName")));
    ASSERT_NE(Probe, nullptr);
    std::u16string Name;
    Probe(Name);
    EXPECT_EQ(Name, U16(Copy.wstring()));
    FreeLibrary(Library);
  }
}
