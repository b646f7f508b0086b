// The tolvane-defc program itself: its arguments, what it writes where, and
// its exit statuses (0 done, 1 bad input, 2 bad usage).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/definition_writer.h"

namespace fs = std::filesystem;

namespace {

const char WebModule1Text[] =
    "TWebModule1 WebModule1 {\n"
    "  OldCreateOrder = false\n"
    "  Actions = collection {\n"
    "    item {\n"
    "      Default = true\n"
    "      Name = \"DefaultHandler\"\n"
    "      PathInfo = \"/\"\n"
    "      OnAction = WebModule1DefaultHandlerAction\n"
    "    }\n"
    "  }\n"
    "  Height = 230\n"
    "  Width = 415\n"
    "}\n";

class DefcTool : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() /
           ("tolvane-defc-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    Write("good.def", WebModule1Text);
    Write("bad.def", "T N {\n  P = }\n");
    auto bytes = tolvane::test::WebModule1Definition();
    Write("good.bin", std::string(bytes.begin(), bytes.end()));
    Write("bad.bin", "TPF0");
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string Path(const std::string& Name) const { return (FDir / Name).string(); }

  void Write(const std::string& Name, const std::string& Data) const {
    std::ofstream(FDir / Name, std::ios::binary) << Data;
  }

  std::string Read(const std::string& Name) const {
    std::ifstream in(FDir / Name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Runs the tool with Args (file names relative to the test's folder are
  // written as {name}), standard input from Stdin when given.
  int Run(const std::string& Args, const std::string& Stdin = "") {
    std::string command = std::string("cd '") + FDir.string() + "' && '" + TOLVANE_DEFC + "' " + Args +
                          " >stdout.txt 2>stderr.txt";
    if (!Stdin.empty()) {
      Write("stdin.txt", Stdin);
      command += " <stdin.txt";
    }
    int status = std::system(command.c_str());
    Out = Read("stdout.txt");
    Err = Read("stderr.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path FDir;
  std::string Out;
  std::string Err;
};

TEST_F(DefcTool, UsageErrorsExitWithTwo) {
  struct TCase {
    const char* Args;
    const char* Message;
  };
  const TCase cases[] = {
      {"", "no command given"},
      {"frobnicate good.def", "unknown command 'frobnicate'"},
      {"compile good.def", "compile needs -o OUT"},
      {"compile good.def -o", "-o needs a file name"},
      {"compile good.def -o a.bin -o b.bin", "-o given twice"},
      {"compile good.def bad.def -o out.bin", "more than one input file"},
      {"decompile", "no input file"},
      {"decompile --verbose good.bin", "unknown option '--verbose'"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args);
    EXPECT_EQ(Run(c.Args), 2);
    EXPECT_NE(Err.find(c.Message), std::string::npos) << Err;
    EXPECT_NE(Err.find("usage: tolvane-defc compile IN -o OUT"), std::string::npos);
    EXPECT_EQ(Out, "");
  }
  EXPECT_FALSE(fs::exists(FDir / "out.bin"));
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_EQ(Out.rfind("usage: tolvane-defc", 0), 0u);
}

TEST_F(DefcTool, CompilesAndDecompilesFilesAndStandardStreams) {
  EXPECT_EQ(Run("compile good.def -o out.bin"), 0) << Err;
  auto expected = tolvane::test::WebModule1Definition();
  EXPECT_EQ(Read("out.bin"), std::string(expected.begin(), expected.end()));
  EXPECT_EQ(Err, "");
  EXPECT_FALSE(fs::exists(FDir / "out.bin.tmp"));

  EXPECT_EQ(Run("decompile out.bin"), 0) << Err;
  EXPECT_EQ(Out, WebModule1Text);

  EXPECT_EQ(Run("decompile good.bin -o out.def"), 0) << Err;
  EXPECT_EQ(Out, "");
  EXPECT_EQ(Read("out.def"), WebModule1Text);

  EXPECT_EQ(Run("compile - -o stdin.bin", WebModule1Text), 0) << Err;
  EXPECT_EQ(Read("stdin.bin"), Read("good.bin"));
  EXPECT_EQ(Run("decompile -", Read("good.bin")), 0) << Err;
  EXPECT_EQ(Out, WebModule1Text);
}

TEST_F(DefcTool, BadInputExitsWithOneAndNamesThePlace) {
  Write("out.bin", "earlier output");
  EXPECT_EQ(Run("compile bad.def -o out.bin"), 1);
  EXPECT_EQ(Err, "bad.def:2:7: expected a value, found '}'\n");
  // A failed compile leaves what was there before, for the build to notice.
  EXPECT_EQ(Read("out.bin"), "earlier output");

  EXPECT_EQ(Run("decompile bad.bin"), 1);
  EXPECT_EQ(Err, "bad.bin:4: a component runs past the end of the data\n");
  EXPECT_EQ(Out, "");

  EXPECT_EQ(Run("compile - -o out.bin", "T N {} }"), 1);
  EXPECT_EQ(Err, "<stdin>:1:8: text after the root component\n");

  EXPECT_EQ(Run("compile missing.def -o out.bin"), 1);
  EXPECT_EQ(Err.rfind("missing.def: cannot open", 0), 0u) << Err;

  // A text file given to decompile is not a definition.
  EXPECT_EQ(Run("decompile good.def"), 1);
  EXPECT_EQ(Err, "good.def:0: not a stored definition: it does not begin with \"TPF0\"\n");
}

TEST_F(DefcTool, AnOutputThatCannotBeWrittenFails) {
  EXPECT_EQ(Run("compile good.def -o no/such/folder/out.bin"), 1);
  EXPECT_EQ(Err.rfind("no/such/folder/out.bin: cannot write", 0), 0u) << Err;
}

}  // namespace
