// Building a module from the application module's 159-byte definition: what a
// new module set costs beyond its allocation.
#include <benchmark/benchmark.h>

#include <tolvane/platform/resource.h>
#include "support/test_module.h"

using namespace tolvane;
using namespace tolvane::test;

static void BM_LoadModuleFromDefinition(benchmark::State& State) {
  auto definition = *platform::FindRCData(u"TWEBMODULE1");
  for (auto _ : State) {
    auto module = TTestModule::Load(definition);
    benchmark::DoNotOptimize(module.get());
  }
}
BENCHMARK(BM_LoadModuleFromDefinition);

// The whole construction path: resource lookup along the class chain, then
// reading.
static void BM_ConstructModuleFromResource(benchmark::State& State) {
  for (auto _ : State) {
    TComponentPtr<TWebModule1> module(NewComponent<TWebModule1>(nullptr));
    benchmark::DoNotOptimize(module.get());
  }
}
BENCHMARK(BM_ConstructModuleFromResource);
