#pragma once
// A completion port: a first-in, first-out queue of packets that any thread may
// post to and many threads may wait on. The worker pool hands requests to its
// workers through one.
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tolvane::platform {

struct TCompletionPacket {
  std::uint32_t Bytes = 0;
  std::uintptr_t Key = 0;
  void* Overlapped = nullptr;
};

class TCompletionPort {
 public:
  TCompletionPort();
  // Closes the port. No thread may still be inside Wait or Post: share the
  // port (std::shared_ptr) when a waiter can outlive the one that closes it.
  ~TCompletionPort();
  TCompletionPort(const TCompletionPort&) = delete;
  TCompletionPort& operator=(const TCompletionPort&) = delete;

  // Queues a packet behind every packet posted before it and makes sure a
  // waiter takes it: on POSIX one that is awake and between packets does,
  // else the waiter that parked last is woken; on Windows the system's port
  // chooses. Answers false once the port is closed.
  bool Post(std::uint32_t Bytes, std::uintptr_t Key, void* Overlapped);

  // Blocks without a time-out until a packet is there and takes the oldest.
  // Answers no packet once the port is closed, even if packets were queued.
  // Nothing caps how many waiters run at once: a waiter busy with its packet
  // never keeps another waiter from taking the next one.
  std::optional<TCompletionPacket> Wait();

  // Makes every present and later Wait and Post fail. Answers the packets
  // nobody took, oldest first, so that their owner can release what they
  // carry; a second Close answers none.
  std::vector<TCompletionPacket> Close();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace tolvane::platform
