#include "platform/thread.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace tolvane::platform {
namespace {

struct TStart {
  TThreadBody Body;
  void* Argument;
};

DWORD WINAPI ThreadMain(LPVOID Parameter) {
  TStart Start = *static_cast<TStart*>(Parameter);
  delete static_cast<TStart*>(Parameter);
  Start.Body(Start.Argument);
  return 0;
}

}  // namespace

struct TThreadHandle::TImpl {
  HANDLE Thread = nullptr;
};

TThreadHandle::TThreadHandle(std::unique_ptr<TImpl> Impl) : FImpl(std::move(Impl)) {}

// The system keeps a thread running when its handle is closed, and a thread
// whose handle is signalled has run its last instruction.
TThreadHandle::~TThreadHandle() { CloseHandle(FImpl->Thread); }

bool TThreadHandle::Ended() const { return WaitForSingleObject(FImpl->Thread, 0) == WAIT_OBJECT_0; }

std::unique_ptr<TThreadHandle> StartThread(TThreadBody Body, void* Argument) {
  auto* Start = new TStart{Body, Argument};
  HANDLE Thread = CreateThread(nullptr, 0, ThreadMain, Start, 0, nullptr);
  if (Thread == nullptr) {
    delete Start;
    return nullptr;
  }
  auto Impl = std::make_unique<TThreadHandle::TImpl>();
  Impl->Thread = Thread;
  return std::unique_ptr<TThreadHandle>(new TThreadHandle(std::move(Impl)));
}

bool WaitForThreads(std::span<const std::unique_ptr<TThreadHandle>> Threads, std::uint32_t TimeoutMs) {
  std::vector<HANDLE> Handles;
  for (const auto& Handle : Threads)
    if (Handle) Handles.push_back(Handle->FImpl->Thread);
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

}  // namespace tolvane::platform
