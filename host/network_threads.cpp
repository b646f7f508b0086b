#include "network_threads.h"

#include <algorithm>

namespace tolvane::host {

namespace {

// A bound on the threads waits may add: past it a wait holds its thread.
constexpr int MaxSpares = 256;

}  // namespace

TNetworkThreads::~TNetworkThreads() { Finish(false); }

void TNetworkThreads::Start(unsigned Count) {
  std::lock_guard Guard(FLock);
  for (unsigned I = 0; I < Count; ++I) Add();
}

void TNetworkThreads::Add() {
  auto Done = std::make_shared<std::atomic<bool>>(false);
  FThreads.push_back({std::thread([this, Done] { Loop(*Done); }), Done});
}

void TNetworkThreads::Loop(std::atomic<bool>& Done) {
  while (FIo.run_one() != 0) {
    int Surplus = FSurplus.load(std::memory_order_relaxed);
    while (Surplus > 0 && !FSurplus.compare_exchange_weak(Surplus, Surplus - 1)) {
    }
    if (Surplus > 0) break;
  }
  Done.store(true);
}

bool TNetworkThreads::BeginWait() {
  std::lock_guard Guard(FLock);
  // Threads that left after earlier waits are joined here, so the list stays short.
  for (auto& Entry : FThreads)
    if (Entry.FDone->load() && Entry.FThread.joinable()) Entry.FThread.join();
  std::erase_if(FThreads, [](const TThread& Entry) { return !Entry.FThread.joinable(); });
  if (FSpares >= MaxSpares) return false;
  ++FSpares;
  Add();
  return true;
}

void TNetworkThreads::EndWait(bool Spared) {
  if (!Spared) return;
  std::lock_guard Guard(FLock);
  --FSpares;
  FSurplus.fetch_add(1);
}

void TNetworkThreads::Finish(bool Join) {
  std::vector<TThread> Threads;
  {
    std::lock_guard Guard(FLock);
    Threads.swap(FThreads);
  }
  for (auto& Entry : Threads) {
    if (!Entry.FThread.joinable()) continue;
    if (Join)
      Entry.FThread.join();
    else
      Entry.FThread.detach();
  }
}

}  // namespace tolvane::host
