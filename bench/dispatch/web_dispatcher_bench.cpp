#include <benchmark/benchmark.h>

#include <tolvane/dispatch/web_dispatcher.h>
#include <tolvane/runtime/format.h>
#include "support/bench_web_objects.h"

using namespace tolvane;
using tolvane::bench::TBenchRequest;
using tolvane::bench::TBenchResponse;

namespace {

class THandler : public TObject {
 public:
  void Action(TObject*, TWebRequest*, TWebResponse* Response, bool&) {
    Response->SetUnicodeContent(u"<html><heading/><body>Vantro Version Worked OK</body></html>");
  }
};

// A module with Count items on "/page0" ... and one request for the last.
void DispatchThroughItems(benchmark::State& State) {
  const int count = int(State.range(0));
  THandler handler;
  TComponentPtr<TCustomWebDispatcher> module(NewComponent<TCustomWebDispatcher>(nullptr));
  for (int i = 0; i < count; ++i) {
    TWebActionItem* item = module->Actions()->Add();
    item->SetPathInfo(Format(u"/page%d", {i}));
    item->SetOnAction(THTTPMethodEvent::Of<&THandler::Action>(&handler));
  }
  TBenchRequest request("GET", AnsiOf(Format(u"/page%d", {count - 1})));
  for (auto _ : State) {
    TBenchResponse response(&request);
    bool handled = module->HandleRequest(&request, &response);
    if (!handled) State.SkipWithError("not handled");
    benchmark::DoNotOptimize(handled);
  }
}
BENCHMARK(DispatchThroughItems)->Arg(1)->Arg(20);

}  // namespace
