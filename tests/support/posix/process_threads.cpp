#include "support/process_threads.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

namespace tolvane::testing {

std::set<TSystemThreadId> ProcessThreadIds() {
  std::set<TSystemThreadId> Ids;
  if (DIR* Dir = opendir("/proc/self/task")) {
    while (dirent* Entry = readdir(Dir))
      if (Entry->d_name[0] != '.') Ids.insert(std::stoull(Entry->d_name));
    closedir(Dir);
  }
  return Ids;
}

TSystemThreadId CurrentSystemThreadId() { return static_cast<TSystemThreadId>(syscall(SYS_gettid)); }

}  // namespace tolvane::testing
