#include <benchmark/benchmark.h>

#include <iterator>
#include <memory>
#include <vector>

#include <tolvane/dispatch/mask.h>

using namespace tolvane;

namespace {

struct TPathCase {
  const char16_t* Mask;
  const char16_t* Path;
};

// Masks as action items write them, each against a path it is offered.
const TPathCase ActionPaths[] = {
    {u"/", u"/"},
    {u"/customers", u"/orders/2024/17"},
    {u"/customers/*", u"/customers/17/addresses"},
    {u"*.html", u"/static/pages/about/company.html"},
    {u"/api/v[0-9]/orders/*/items", u"/api/v2/orders/88213/items"},
    {u"/reports/*/[!_]*.csv", u"/reports/2024/q3-summary.csv"},
};

void BM_MaskMatchesActionPaths(benchmark::State& State) {
  std::vector<std::unique_ptr<TMask>> Masks;
  for (const auto& C : ActionPaths) Masks.push_back(std::make_unique<TMask>(C.Mask));
  const std::size_t Count = std::size(ActionPaths);
  for (auto _ : State) {
    for (std::size_t I = 0; I < Count; ++I) benchmark::DoNotOptimize(Masks[I]->Matches(ActionPaths[I].Path));
  }
  State.SetItemsProcessed(State.iterations() * Count);
}
BENCHMARK(BM_MaskMatchesActionPaths);

void BM_MaskCompile(benchmark::State& State) {
  for (auto _ : State) {
    TMask M(u"/reports/*/[!_]*.csv");
    benchmark::DoNotOptimize(M.MaskStates().data());
  }
}
BENCHMARK(BM_MaskCompile);

// Many stars against a long run of one letter that never matches: the case a
// client can force by choosing the path. Argument: path length.
void BM_MaskStarsAgainstLetters(benchmark::State& State) {
  TMask M(u"*a*a*a*a*a*ab");
  const String Path(State.range(0), u'a');
  for (auto _ : State) benchmark::DoNotOptimize(M.Matches(Path));
}
BENCHMARK(BM_MaskStarsAgainstLetters)->Arg(96)->Arg(1024)->Arg(8192);

}  // namespace
