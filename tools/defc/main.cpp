// tolvane-defc: stored module definitions between their text form and the
// bytes the library reads.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "definition_compiler.h"
#include "definition_decompiler.h"
#include "definition_format.h"

namespace {

using namespace tolvane::defc;

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char Usage[] =
    "usage: tolvane-defc compile IN -o OUT\n"
    "       tolvane-defc decompile IN [-o OUT]\n"
    "Compiles a module definition written as text into the stored form, or\n"
    "writes a stored definition as text (to standard output without -o).\n"
    "IN may be - for standard input.\n";

int UsageError(const std::string& Message) {
  std::cerr << "tolvane-defc: " << Message << "\n" << Usage;
  return ExitUsage;
}

// The whole input, or nothing (after saying why) when it cannot be read or
// is larger than any definition should be.
std::optional<std::string> ReadInput(const std::string& Path, const std::string& Shown) {
  std::string data;
  auto readAll = [&](std::istream& In) {
    char buffer[65536];
    while (In.read(buffer, sizeof buffer) || In.gcount() > 0) {
      data.append(buffer, std::size_t(In.gcount()));
      if (data.size() > MaxInputSize) return false;
    }
    return !In.bad();
  };
  bool ok;
  if (Path == "-") {
    std::ios::sync_with_stdio(false);
    ok = readAll(std::cin);
  } else {
    std::ifstream in(Path, std::ios::binary);
    if (!in) {
      std::cerr << Shown << ": cannot open: " << std::strerror(errno) << "\n";
      return std::nullopt;
    }
    ok = readAll(in);
  }
  if (data.size() > MaxInputSize) {
    std::cerr << Shown << ": larger than " << (MaxInputSize >> 20) << " MiB; not a definition\n";
    return std::nullopt;
  }
  if (!ok) {
    std::cerr << Shown << ": read error\n";
    return std::nullopt;
  }
  return data;
}

// Writes beside the target and renames, so that a failed run never leaves
// a half-written output for a build to pick up.
bool WriteOutput(const std::string& Path, std::string_view Data) {
  std::filesystem::path target(Path);
  std::filesystem::path temporary = target;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out) out.write(Data.data(), std::streamsize(Data.size()));
    out.close();
    if (!out) {
      std::cerr << Path << ": cannot write: " << std::strerror(errno) << "\n";
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::cerr << Path << ": cannot write: " << error.message() << "\n";
    std::filesystem::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::cout << Usage;
    return 0;
  }
  if (args.empty()) return UsageError("no command given");
  std::string command = args[0];
  if (command != "compile" && command != "decompile") return UsageError("unknown command '" + command + "'");
  std::optional<std::string> input, output;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (output) return UsageError("-o given twice");
      if (++i == args.size()) return UsageError("-o needs a file name");
      output = args[i];
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      return UsageError("unknown option '" + args[i] + "'");
    } else if (input) {
      return UsageError("more than one input file");
    } else {
      input = args[i];
    }
  }
  if (!input) return UsageError("no input file");
  if (command == "compile" && !output) return UsageError("compile needs -o OUT");
  std::string shown = *input == "-" ? "<stdin>" : *input;
  std::optional<std::string> data = ReadInput(*input, shown);
  if (!data) return ExitFailed;

  if (command == "compile") {
    TCompileResult result = CompileDefinition(*data);
    if (!result.Ok) {
      std::cerr << shown << ":" << result.Line << ":" << result.Column << ": " << result.Message << "\n";
      return ExitFailed;
    }
    std::string_view bytes(reinterpret_cast<const char*>(result.Bytes.data()), result.Bytes.size());
    return WriteOutput(*output, bytes) ? 0 : ExitFailed;
  }
  TDecompileResult result = DecompileDefinition(
      std::span(reinterpret_cast<const std::uint8_t*>(data->data()), data->size()));
  if (!result.Ok) {
    std::cerr << shown << ":" << result.Offset << ": " << result.Message << "\n";
    return ExitFailed;
  }
  if (output) return WriteOutput(*output, result.Text) ? 0 : ExitFailed;
  std::cout << result.Text;
  std::cout.flush();
  return std::cout ? 0 : ExitFailed;
}
