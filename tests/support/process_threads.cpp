#include "support/process_threads.h"

#include <thread>

namespace tolvane::testing {

std::size_t ThreadCount() {
  static const bool HelperStarted = (std::thread([] {}).join(), true);
  (void)HelperStarted;
  return ProcessThreadIds().size();
}

bool AwaitThreadCount(std::size_t Expected, std::chrono::milliseconds Timeout) {
  const auto Deadline = std::chrono::steady_clock::now() + Timeout;
  while (ThreadCount() != Expected) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace tolvane::testing
