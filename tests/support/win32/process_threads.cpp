#include "support/process_threads.h"

#include <windows.h>
#include <tlhelp32.h>

namespace tolvane::testing {

std::set<TSystemThreadId> ProcessThreadIds() {
  std::set<TSystemThreadId> Ids;
  HANDLE Snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (Snapshot == INVALID_HANDLE_VALUE) return Ids;
  THREADENTRY32 Entry{};
  Entry.dwSize = sizeof Entry;
  const DWORD Process = GetCurrentProcessId();
  for (BOOL More = Thread32First(Snapshot, &Entry); More; More = Thread32Next(Snapshot, &Entry))
    if (Entry.th32OwnerProcessID == Process) Ids.insert(Entry.th32ThreadID);
  CloseHandle(Snapshot);
  return Ids;
}

TSystemThreadId CurrentSystemThreadId() { return GetCurrentThreadId(); }

}  // namespace tolvane::testing
