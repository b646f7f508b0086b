#include <tolvane/platform/thread.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#if !defined(__x86_64__)
#error "The exit routine below is x64 code."
#endif

namespace tolvane::platform {
namespace {

constinit std::atomic<bool> RefuseThreads{false};

// Ends a thread from code that stays mapped after the library is gone:
// SetEvent(Left), then ExitThread(0), which never returns.
using TExitRoutine = void (*)(HANDLE Left);

// Set once the library is being unloaded (EndThreadsOutsideLibrary).
constinit std::atomic<TExitRoutine> ExitRoutine{nullptr};

// The exit routine as x64 machine code in a page of its own, which is never
// freed: threads run it after the library's own code is unmapped.
TExitRoutine MakeExitRoutine() {
  unsigned char Code[] = {
      0x48, 0x83, 0xEC, 0x28,                          // sub rsp, 40: shadow space, aligned stack
      0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0,              // mov rax, SetEvent
      0xFF, 0xD0,                                      // call rax (rcx holds Left)
      0x31, 0xC9,                                      // xor ecx, ecx
      0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0,              // mov rax, ExitThread
      0xFF, 0xD0,                                      // call rax
      0xCC,                                            // int3: not reached
  };
  // The system's own entry points, not this library's import stubs.
  const auto SetEventAt = reinterpret_cast<std::uintptr_t>(&SetEvent);
  const auto ExitThreadAt = reinterpret_cast<std::uintptr_t>(&ExitThread);
  std::memcpy(Code + 6, &SetEventAt, 8);
  std::memcpy(Code + 20, &ExitThreadAt, 8);
  void* Page = VirtualAlloc(nullptr, sizeof Code, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (Page == nullptr) return nullptr;
  std::memcpy(Page, Code, sizeof Code);
  DWORD Old = 0;
  if (!VirtualProtect(Page, sizeof Code, PAGE_EXECUTE_READ, &Old)) {
    VirtualFree(Page, 0, MEM_RELEASE);
    return nullptr;
  }
  FlushInstructionCache(GetCurrentProcess(), Page, sizeof Code);
  return reinterpret_cast<TExitRoutine>(Page);
}

struct TStart {
  TThreadBody Body;
  void* Argument;
  HANDLE Running;  // set once the thread runs its own code
  HANDLE Left;     // set by the exit routine
};

DWORD WINAPI ThreadMain(LPVOID Parameter) {
  const TStart Start = *static_cast<TStart*>(Parameter);
  SetEvent(Start.Running);  // the starter's copy is gone after this
  Start.Body(Start.Argument);
  if (TExitRoutine Exit = ExitRoutine.load(std::memory_order_acquire)) Exit(Start.Left);
  return 0;
}

}  // namespace

struct TThreadHandle::TImpl {
  HANDLE Thread = nullptr;
  HANDLE Left = nullptr;
  // What tells that the body has returned: the thread's end, or while the
  // library is being unloaded, its report from the exit routine.
  HANDLE Waitable() const { return ExitRoutine.load(std::memory_order_acquire) ? Left : Thread; }
};

TThreadHandle::TThreadHandle(std::unique_ptr<TImpl> Impl) : FImpl(std::move(Impl)) {}

// The system keeps a thread running when its handle is closed, and a thread
// whose handle is signalled has run its last instruction.
TThreadHandle::~TThreadHandle() {
  CloseHandle(FImpl->Thread);
  CloseHandle(FImpl->Left);
}

bool TThreadHandle::Ended() const { return WaitForSingleObject(FImpl->Waitable(), 0) == WAIT_OBJECT_0; }

void SetRefuseThreads(bool Refuse) { RefuseThreads.store(Refuse, std::memory_order_relaxed); }

std::unique_ptr<TThreadHandle> StartThread(TThreadBody Body, void* Argument) {
  if (RefuseThreads.load(std::memory_order_relaxed)) return nullptr;
  // A new thread first passes the loader, which runs the libraries'
  // thread-attach notifications under its lock. Until it is through it will
  // not take a stop order, and a library unloading under that lock would
  // wait for it in vain: so a thread counts as started once it runs its body.
  auto Impl = std::make_unique<TThreadHandle::TImpl>();
  Impl->Left = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  TStart Start{Body, Argument, CreateEventW(nullptr, TRUE, FALSE, nullptr), Impl->Left};
  if (Start.Running != nullptr && Impl->Left != nullptr) {
    Impl->Thread = CreateThread(nullptr, 0, ThreadMain, &Start, 0, nullptr);
    if (Impl->Thread != nullptr) WaitForSingleObject(Start.Running, INFINITE);
  }
  if (Start.Running != nullptr) CloseHandle(Start.Running);
  if (Impl->Thread == nullptr) {
    if (Impl->Left != nullptr) CloseHandle(Impl->Left);
    return nullptr;
  }
  return std::unique_ptr<TThreadHandle>(new TThreadHandle(std::move(Impl)));
}

bool WaitForThreads(std::span<const std::unique_ptr<TThreadHandle>> Threads, std::uint32_t TimeoutMs) {
  std::vector<HANDLE> Handles;
  for (const auto& Handle : Threads)
    if (Handle) Handles.push_back(Handle->FImpl->Waitable());
  // One wait takes at most MAXIMUM_WAIT_OBJECTS handles: larger sets are
  // waited for in groups, against one deadline for the whole set.
  const ULONGLONG Deadline = GetTickCount64() + TimeoutMs;
  for (std::size_t At = 0; At < Handles.size(); At += MAXIMUM_WAIT_OBJECTS) {
    const DWORD Count = static_cast<DWORD>(std::min<std::size_t>(MAXIMUM_WAIT_OBJECTS, Handles.size() - At));
    DWORD Wait = INFINITE;
    if (TimeoutMs != kInfinite) {
      const ULONGLONG Now = GetTickCount64();
      Wait = Now >= Deadline ? 0 : static_cast<DWORD>(Deadline - Now);
    }
    const DWORD Result = WaitForMultipleObjects(Count, Handles.data() + At, TRUE, Wait);
    if (Result >= WAIT_OBJECT_0 + Count) return false;  // timed out or failed
  }
  return true;
}

void EndThreadsOutsideLibrary() {
  // Without the page the threads end normally, and the wait for them lasts
  // until its time-out.
  if (!ExitRoutine.load(std::memory_order_acquire)) ExitRoutine.store(MakeExitRoutine(), std::memory_order_release);
}

}  // namespace tolvane::platform
