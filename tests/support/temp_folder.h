#pragma once
// A new folder of its own under the system's temporary folder, removed with
// everything in it when it goes.
#include <filesystem>
#include <string>

namespace tolvane::testing {

class TTempFolder {
 public:
  // Name ends the folder's name, so a test can put the characters it needs
  // into the path.
  explicit TTempFolder(const std::filesystem::path& Name = "tmp");
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  // The path of an entry of the folder, as text.
  std::string File(const std::string& Name) const { return (FPath / Name).string(); }

 private:
  std::filesystem::path FPath;
};

}  // namespace tolvane::testing
