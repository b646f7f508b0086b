#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include <tolvane/platform/code_page.h>
#include <tolvane/platform/process.h>
#include "support/temp_folder.h"

using namespace tolvane::platform;
using tolvane::testing::TTempFolder;
namespace fs = std::filesystem;

namespace {

std::u16string Wide(const std::string& Utf8) { return MultiByteToWide(TCodePage::cpUTF8, Utf8); }

// Restores the working folder when it goes.
struct TWorkingDir {
  fs::path Saved = fs::current_path();
  explicit TWorkingDir(const fs::path& Dir) { fs::current_path(Dir); }
  ~TWorkingDir() { fs::current_path(Saved); }
};

}  // namespace

TEST(Process, TheExecutablesFullFileNameIsTheRunningProgram) {
  auto Name = ExecutableFileName();
  ASSERT_FALSE(Name.empty());
  EXPECT_EQ(Name[0], u'/');
  EXPECT_TRUE(Name.ends_with(u"/tolvane_platform_tests"));
  // Linked into the program itself, the library's file name is the program's.
  EXPECT_EQ(LibraryFileName(), Name);
}

// Copies of a small program, started under other names: each reports the full
// name it was started as, whatever the characters in it.
TEST(Process, ACopyOfTheProgramKnowsItsNewName) {
  const std::string Names[] = {"bin/HTTPD.EXE", "Programme \xC3\xA9t\xC3\xA9/w3wp"};
  for (const auto& Name : Names) {
    SCOPED_TRACE(Name);
    TTempFolder Dir("exe");
    auto Copy = Dir.Path() / Name;
    fs::create_directories(Copy.parent_path());
    fs::copy_file(TOLVANE_EXECUTABLE_PROBE, Copy);
    std::string Command = "'" + Copy.string() + "'";
    std::FILE* Output = popen(Command.c_str(), "r");
    ASSERT_NE(Output, nullptr);
    std::string Reported;
    for (int Ch; (Ch = std::fgetc(Output)) != EOF;) Reported += char(Ch);
    EXPECT_EQ(pclose(Output), 0);
    EXPECT_EQ(Reported, fs::canonical(Copy).string());
  }
}

// A copy of a small library, loaded from a folder: the name must be the full
// name of that copy, not the program's, however it was loaded.
TEST(Process, ALoadedLibraryKnowsItsOwnFullFileName) {
  struct Case {
    std::string Folder;
    bool Relative;
  } Cases[] = {{"plain", false}, {"biblioth\xC3\xA8que \xE6\x97\xA5", true}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Folder);
    TTempFolder Dir(C.Folder);
    auto Copy = Dir.Path() / TOLVANE_PROBE_NAME;
    fs::copy_file(fs::path(TOLVANE_PROBE_DIR) / TOLVANE_PROBE_NAME, Copy);
    void* Library;
    {
      std::optional<TWorkingDir> Here;
      if (C.Relative) Here.emplace(Dir.Path());
      std::string Path = C.Relative ? std::string("./") + TOLVANE_PROBE_NAME : Copy.string();
      Library = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ASSERT_NE(Library, nullptr) << dlerror();
    auto Probe = reinterpret_cast<void (*)(std::u16string&)>(dlsym(Library, "TolvaneProbeLibraryFileName"));
    ASSERT_NE(Probe, nullptr);
    std::u16string Name;
    Probe(Name);
    EXPECT_EQ(Name, Wide(fs::canonical(Copy).string()));
    dlclose(Library);
  }
}
