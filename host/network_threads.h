// The threads that run the host's network loop. A thread that has to wait
// for one client (a direct extension call writing to a slow reader) first
// hands its place to a spare thread, so a slow client costs its own
// connection only; the pool shrinks back when the wait ends.
#pragma once

#include <boost/asio/io_context.hpp>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tolvane::host {

class TNetworkThreads {
 public:
  explicit TNetworkThreads(boost::asio::io_context& Io) : FIo(Io) {}
  ~TNetworkThreads();
  TNetworkThreads(const TNetworkThreads&) = delete;
  TNetworkThreads& operator=(const TNetworkThreads&) = delete;

  void Start(unsigned Count);
  // Around a wait for one client on a network thread.
  // BeginWait tells whether a spare was started; EndWait takes that answer.
  bool BeginWait();
  void EndWait(bool Spared);
  // After the io_context stopped: joins the threads, or leaves them (one
  // may be stuck inside an extension) when Join is false.
  void Finish(bool Join);

 private:
  struct TThread {
    std::thread FThread;
    std::shared_ptr<std::atomic<bool>> FDone;
  };
  void Add();  // under FLock
  void Loop(std::atomic<bool>& Done);

  boost::asio::io_context& FIo;
  std::mutex FLock;
  std::vector<TThread> FThreads;
  // Spare threads started for waits that have ended: that many threads
  // leave the loop after their current handler.
  std::atomic<int> FSurplus{0};
  int FSpares = 0;  // under FLock
};

}  // namespace tolvane::host
