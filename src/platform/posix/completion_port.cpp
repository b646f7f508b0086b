#include <tolvane/platform/completion_port.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tolvane::platform {

struct TCompletionPort::TImpl {
  std::mutex Lock;
  std::condition_variable Ready;
  std::deque<TCompletionPacket> Queue;
  bool Closed = false;
};

TCompletionPort::TCompletionPort() : FImpl(std::make_unique<TImpl>()) {}

TCompletionPort::~TCompletionPort() { Close(); }

bool TCompletionPort::Post(std::uint32_t Bytes, std::uintptr_t Key, void* Overlapped) {
  {
    std::lock_guard Guard(FImpl->Lock);
    if (FImpl->Closed) return false;
    FImpl->Queue.push_back({Bytes, Key, Overlapped});
  }
  FImpl->Ready.notify_one();
  return true;
}

std::optional<TCompletionPacket> TCompletionPort::Wait() {
  std::unique_lock Guard(FImpl->Lock);
  FImpl->Ready.wait(Guard, [this] { return FImpl->Closed || !FImpl->Queue.empty(); });
  if (FImpl->Closed) return std::nullopt;
  TCompletionPacket Packet = FImpl->Queue.front();
  FImpl->Queue.pop_front();
  return Packet;
}

std::vector<TCompletionPacket> TCompletionPort::Close() {
  std::vector<TCompletionPacket> Left;
  {
    std::lock_guard Guard(FImpl->Lock);
    if (FImpl->Closed) return Left;
    FImpl->Closed = true;
    Left.assign(FImpl->Queue.begin(), FImpl->Queue.end());
    FImpl->Queue.clear();
  }
  FImpl->Ready.notify_all();
  return Left;
}

}  // namespace tolvane::platform
