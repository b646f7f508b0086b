#pragma once
// What a benchmark's requests cost the whole process, every thread counted
// (the callers and the workers serving them): processor time and context
// switches per request. On a shared machine these move far less than the
// wall-clock figures do.
#include <sys/resource.h>

#include <cstdint>

#include <benchmark/benchmark.h>

namespace tolvane::bench {

class TProcessCost {
 public:
  // Call from every benchmark thread just before its loop; only thread 0
  // measures, so that the sums Google Benchmark takes over threads stay the
  // process's figures.
  explicit TProcessCost(const benchmark::State& State) : FMeasures(State.thread_index() == 0) {
    if (FMeasures) FStart = Now();
  }

  // Call after the loop with the requests that every thread together served.
  void Report(benchmark::State& State, std::uint64_t Requests) const {
    if (!FMeasures || Requests == 0) return;
    const TSample End = Now();
    const double N = static_cast<double>(Requests);
    State.counters["cpu_us_per_req"] = (End.CpuUs - FStart.CpuUs) / N;
    State.counters["switches_per_req"] = static_cast<double>(End.Switches - FStart.Switches) / N;
  }

 private:
  struct TSample {
    double CpuUs = 0;
    std::int64_t Switches = 0;
  };
  static TSample Now() {
    rusage Usage{};
    getrusage(RUSAGE_SELF, &Usage);
    auto Us = [](const timeval& T) { return static_cast<double>(T.tv_sec) * 1e6 + static_cast<double>(T.tv_usec); };
    return {Us(Usage.ru_utime) + Us(Usage.ru_stime), Usage.ru_nvcsw + Usage.ru_nivcsw};
  }

  bool FMeasures;
  TSample FStart;
};

}  // namespace tolvane::bench
