#include <tolvane/platform/process.h>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <tolvane/platform/code_page.h>

namespace tolvane::platform {
namespace {

std::atomic<std::uint32_t> GPlatformId{kPlatformWin32NT};

// Its address lies in whatever binary this code is linked into.
const char kAnchor = 0;

// File names are bytes; on Linux they are conventionally UTF-8.
std::u16string FileNameOf(const std::string& Bytes) { return MultiByteToWide(TCodePage::cpUTF8, Bytes); }

// The full name of the file mapped at Address, from /proc/self/maps; Fallback
// when none is found.
std::string MappedFileName(std::uintptr_t Address, const std::string& Fallback) {
  std::FILE* Maps = std::fopen("/proc/self/maps", "re");
  if (Maps == nullptr) return Fallback;
  std::string Found = Fallback;
  char* Line = nullptr;
  std::size_t Capacity = 0;
  while (getline(&Line, &Capacity, Maps) > 0) {
    // start-end perms offset dev inode   path
    unsigned long long Start, End;
    int PathAt = 0;
    if (std::sscanf(Line, "%llx-%llx %*s %*s %*s %*s %n", &Start, &End, &PathAt) < 2 || PathAt == 0) continue;
    if (Address < Start || Address >= End) continue;
    // The kernel ends the line with a newline and writes one inside a name as "\012".
    std::string_view Raw(Line + PathAt);
    if (!Raw.empty() && Raw.back() == '\n') Raw.remove_suffix(1);
    std::string Path;
    for (std::size_t At = 0; At < Raw.size(); ++At) {
      if (Raw.substr(At, 4) == "\\012") {
        Path += '\n';
        At += 3;
      } else {
        Path += Raw[At];
      }
    }
    if (!Path.empty() && Path[0] == '/') Found = Path;
    break;
  }
  std::free(Line);
  std::fclose(Maps);
  return Found;
}

}  // namespace

std::uint32_t PlatformId() { return GPlatformId.load(std::memory_order_relaxed); }

void SetPlatformId(std::uint32_t Id) { GPlatformId.store(Id, std::memory_order_relaxed); }

std::u16string ExecutableFileName() {
  std::string Buffer(256, '\0');
  for (;;) {
    ssize_t Length = readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (Length < 0) return {};
    if (static_cast<std::size_t>(Length) < Buffer.size()) {
      Buffer.resize(Length);
      return FileNameOf(Buffer);
    }
    Buffer.resize(Buffer.size() * 2);  // maybe cut: try again with more room
  }
}

std::u16string LibraryFileName() {
  Dl_info Info;
  link_map* Map = nullptr;
  if (dladdr1(&kAnchor, &Info, reinterpret_cast<void**>(&Map), RTLD_DL_LINKMAP) == 0 || Map == nullptr)
    return {};
  // The program itself has no name in its link map (the loader would answer
  // argv[0], which may be relative or made up).
  if (Map->l_name == nullptr || Map->l_name[0] == '\0') return ExecutableFileName();
  std::string Name = Map->l_name;
  // Loaded by a relative path: the working folder may have changed since, so
  // ask the kernel which file is mapped here.
  if (Name[0] != '/') Name = MappedFileName(reinterpret_cast<std::uintptr_t>(&kAnchor), Name);
  return FileNameOf(Name);
}

bool PinLibrary() {
  Dl_info Info;
  link_map* Map = nullptr;
  if (dladdr1(&kAnchor, &Info, reinterpret_cast<void**>(&Map), RTLD_DL_LINKMAP) == 0 || Map == nullptr)
    return false;
  // A program is never unloaded.
  if (Map->l_name == nullptr || Map->l_name[0] == '\0') return true;
  // Opening the library again, loaded already, only marks it: from now on
  // no dlclose unmaps it. The reference taken here is given back at once.
  void* Handle = dlopen(Map->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  if (Handle == nullptr) return false;
  dlclose(Handle);
  return true;
}

}  // namespace tolvane::platform
