// Extensions built by tolvane_add_extension: only the three entry points
// leave the library, and the host serves the module and definition it was
// built from.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "host_process.h"

namespace tolvane::host::test {
namespace {

// The names a shared object defines in its dynamic symbol table (what a
// loader can find in it), or an error text in Error.
std::set<std::string> DefinedDynamicSymbols(const std::string& Path, std::string& Error) {
  std::ifstream File(Path, std::ios::binary | std::ios::ate);
  std::vector<char> Image(File ? static_cast<std::size_t>(File.tellg()) : 0);
  File.seekg(0);
  File.read(Image.data(), static_cast<std::streamsize>(Image.size()));
  std::set<std::string> Names;
  Elf64_Ehdr Header;
  if (Image.size() < sizeof Header || std::memcmp(Image.data(), ELFMAG, SELFMAG) != 0 ||
      Image[EI_CLASS] != ELFCLASS64) {
    Error = "not a 64-bit ELF file";
    return Names;
  }
  std::memcpy(&Header, Image.data(), sizeof Header);
  auto Section = [&](std::size_t Index) {
    Elf64_Shdr S{};
    const std::size_t At = Header.e_shoff + Index * sizeof(Elf64_Shdr);
    if (Index < Header.e_shnum && At + sizeof S <= Image.size()) std::memcpy(&S, Image.data() + At, sizeof S);
    return S;
  };
  for (std::size_t i = 0; i < Header.e_shnum; ++i) {
    const Elf64_Shdr Symbols = Section(i);
    if (Symbols.sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr Strings = Section(Symbols.sh_link);
    if (Symbols.sh_offset + Symbols.sh_size > Image.size() || Strings.sh_offset + Strings.sh_size > Image.size()) {
      Error = "symbol table outside the file";
      return Names;
    }
    // Entry 0 is the null symbol.
    for (std::size_t At = sizeof(Elf64_Sym); At + sizeof(Elf64_Sym) <= Symbols.sh_size; At += sizeof(Elf64_Sym)) {
      Elf64_Sym Symbol;
      std::memcpy(&Symbol, Image.data() + Symbols.sh_offset + At, sizeof Symbol);
      if (Symbol.st_shndx == SHN_UNDEF || ELF64_ST_BIND(Symbol.st_info) == STB_LOCAL) continue;
      if (Symbol.st_name >= Strings.sh_size) continue;
      const char* Name = Image.data() + Strings.sh_offset + Symbol.st_name;
      Names.insert(std::string(Name, strnlen(Name, Strings.sh_size - Symbol.st_name)));
    }
    return Names;
  }
  Error = "no dynamic symbol table";
  return Names;
}

TEST(BuiltExtension, ExportsTheThreeEntryPointsAndNothingElse) {
  const std::set<std::string> EntryPoints = {"GetExtensionVersion", "HttpExtensionProc", "TerminateExtension"};
  for (const char* Library : {TOLVANE_LIBRARY, TOLVANE_TEST_EXTENSION}) {
    SCOPED_TRACE(Library);
    std::string Error;
    EXPECT_EQ(DefinedDynamicSymbols(Library, Error), EntryPoints);
    EXPECT_EQ(Error, "");
  }
}

TEST(BuiltExtension, TheHostServesTheActionsOfItsDefinition) {
  THostProcess Host;
  ASSERT_TRUE(Host.Start({})) << Host.Log();
  struct TCase {
    const char* Path;
    const char* Status;
    const char* Body;
  } Cases[] = {
      // The default action, for any path the others do not take.
      {"/", "200", "<html><body><h1>Hello from a tolvane extension</h1></body></html>"},
      {"/somewhere/else", "200", "<html><body><h1>Hello from a tolvane extension</h1></body></html>"},
      // An action found by its path, with what the request carried escaped.
      {"/greet?name=%3Cb%3EAnn%3C%2Fb%3E", "200", "<html><body><p>Hello, &lt;b&gt;Ann&lt;/b&gt;!</p></body></html>"},
      {"/greet", "200", "<html><body><p>Hello, stranger!</p></body></html>"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Path);
    const TCommandResult Result = Curl({"-w", "\n%{http_code} %{content_type}", Host.Url(Case.Path)});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
    EXPECT_EQ(Result.Out, std::string(Case.Body) + "\n" + Case.Status + " text/html; charset=utf-8");
  }
}

}  // namespace
}  // namespace tolvane::host::test
