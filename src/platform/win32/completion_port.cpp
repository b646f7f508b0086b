#include <tolvane/platform/completion_port.h>

#include <windows.h>

namespace tolvane::platform {
namespace {

// The overlapped pointer of the packets that Close posts to wake its waiters:
// an address no caller can hold.
char GWakeTag;
void* const kWake = &GWakeTag;

// A port that runs any number of its waiters at once: a waiter busy with its
// packet must never keep another from taking the next one.
constexpr DWORD kUncapped = 0x7FFFFFFF;

}  // namespace

// The system port carries the packets. The guard orders Post and Close, so
// that no packet is posted after Close began, and counts the waiters inside
// the system wait, so that Close can wake each of them with a packet of its
// own; a waiter that takes a real packet after the port was closed hands it
// back to Close. The handle is closed only by the destructor: a waiter may
// still be about to use it.
struct TCompletionPort::TImpl {
  HANDLE Port = nullptr;
  SRWLOCK Guard = SRWLOCK_INIT;
  CONDITION_VARIABLE Left = CONDITION_VARIABLE_INIT;  // a waiter left the system wait
  bool Closed = false;
  int Inside = 0;
  std::vector<TCompletionPacket> HandedBack;

  struct TLocked {
    SRWLOCK& Lock;
    explicit TLocked(SRWLOCK& L) : Lock(L) { AcquireSRWLockExclusive(&Lock); }
    ~TLocked() { ReleaseSRWLockExclusive(&Lock); }
  };
};

TCompletionPort::TCompletionPort() : FImpl(std::make_unique<TImpl>()) {
  // Should the system refuse a port, every Post and Wait fails.
  FImpl->Port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, kUncapped);
}

TCompletionPort::~TCompletionPort() {
  Close();
  if (FImpl->Port) CloseHandle(FImpl->Port);
}

bool TCompletionPort::Post(std::uint32_t Bytes, std::uintptr_t Key, void* Overlapped) {
  TImpl::TLocked Locked(FImpl->Guard);
  if (FImpl->Closed || !FImpl->Port) return false;
  return PostQueuedCompletionStatus(FImpl->Port, Bytes, Key, static_cast<LPOVERLAPPED>(Overlapped)) != FALSE;
}

std::optional<TCompletionPacket> TCompletionPort::Wait() {
  {
    TImpl::TLocked Locked(FImpl->Guard);
    if (FImpl->Closed || !FImpl->Port) return std::nullopt;
    ++FImpl->Inside;
  }
  DWORD Bytes = 0;
  ULONG_PTR Key = 0;
  LPOVERLAPPED Overlapped = nullptr;
  // A posted packet is answered with TRUE whatever it carries; FALSE with no
  // overlapped pointer means no packet was taken.
  const BOOL Taken = GetQueuedCompletionStatus(FImpl->Port, &Bytes, &Key, &Overlapped, INFINITE);
  TImpl::TLocked Locked(FImpl->Guard);
  --FImpl->Inside;
  WakeAllConditionVariable(&FImpl->Left);
  if (!Taken && Overlapped == nullptr) return std::nullopt;
  if (Overlapped == kWake) return std::nullopt;
  TCompletionPacket Packet{static_cast<std::uint32_t>(Bytes), static_cast<std::uintptr_t>(Key), Overlapped};
  if (FImpl->Closed) {
    FImpl->HandedBack.push_back(Packet);
    return std::nullopt;
  }
  return Packet;
}

std::vector<TCompletionPacket> TCompletionPort::Close() {
  std::vector<TCompletionPacket> Left;
  {
    TImpl::TLocked Locked(FImpl->Guard);
    if (FImpl->Closed) return Left;
    FImpl->Closed = true;
    if (!FImpl->Port) return Left;
    // One wake packet for each waiter inside; it lies behind every packet
    // still queued, which the waiters hand back as they take them.
    for (int i = 0; i < FImpl->Inside; ++i) PostQueuedCompletionStatus(FImpl->Port, 0, 0, static_cast<LPOVERLAPPED>(kWake));
    while (FImpl->Inside > 0) SleepConditionVariableSRW(&FImpl->Left, &FImpl->Guard, INFINITE, 0);
    Left.swap(FImpl->HandedBack);
  }
  // Nobody waits any more and nothing more is posted: what is still queued
  // is younger than what the waiters handed back.
  for (;;) {
    DWORD Bytes = 0;
    ULONG_PTR Key = 0;
    LPOVERLAPPED Overlapped = nullptr;
    if (!GetQueuedCompletionStatus(FImpl->Port, &Bytes, &Key, &Overlapped, 0) && Overlapped == nullptr) break;
    if (Overlapped != kWake) Left.push_back({static_cast<std::uint32_t>(Bytes), static_cast<std::uintptr_t>(Key), Overlapped});
  }
  return Left;
}

}  // namespace tolvane::platform
