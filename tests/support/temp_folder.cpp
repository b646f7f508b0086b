#include "support/temp_folder.h"

#include <random>
#include <string>
#include <system_error>

namespace tolvane::testing {

TTempFolder::TTempFolder(const std::filesystem::path& Name) {
  // A random prefix, taken again while the folder exists: tests running at
  // once in other processes never share one.
  std::random_device Random;
  const std::filesystem::path Base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path Candidate = Base / ("tolvane_" + std::to_string(Random()) + "_");
    Candidate += Name;
    if (std::filesystem::create_directory(Candidate)) {
      FPath = Candidate;
      return;
    }
  }
}

TTempFolder::~TTempFolder() {
  // A file a test left open (a loaded library on Windows) must not fail the test.
  std::error_code Ignored;
  std::filesystem::remove_all(FPath, Ignored);
}

}  // namespace tolvane::testing
