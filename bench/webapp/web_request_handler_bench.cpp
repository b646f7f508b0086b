#include <benchmark/benchmark.h>

#include <tolvane/dispatch/web_dispatcher.h>
#include "support/bench_web_objects.h"
#include <tolvane/webapp/web_request_handler.h>

using namespace tolvane;
using tolvane::bench::TBenchRequest;
using tolvane::bench::TBenchResponse;

namespace {

// A module built in code, answering every request with the application's page.
class TBenchModule : public TCustomWebDispatcher {
  TV_DECLARE_CLASS(TBenchModule)
 public:
  explicit TBenchModule(TComponent* AOwner) : TCustomWebDispatcher(AOwner) {
    TWebActionItem* item = Actions()->Add();
    item->SetDefault(true);
    item->SetPathInfo(u"/");
    item->SetOnAction(THTTPMethodEvent::Of<&TBenchModule::Page>(this));
  }
  void Page(TObject*, TWebRequest*, TWebResponse* Response, bool&) {
    Response->SetContent("<html><heading/><body>Vantro Version Worked OK</body></html>");
  }
};
TV_DEFINE_CLASS(TBenchModule, TCustomWebDispatcher, CreateComponent<TBenchModule>);

TWebRequestHandler& Handler() {
  static TComponentPtr<TWebRequestHandler> handler = [] {
    TComponentPtr<TWebRequestHandler> h(NewComponent<TWebRequestHandler>(nullptr));
    h->SetWebModuleClass(TBenchModule::StaticClass());
    return h;
  }();
  return *handler;
}

// One request through the handler with a set that is reused (after the first).
void HandleRequestReusedSet(benchmark::State& State) {
  TWebRequestHandler& handler = Handler();
  TBenchRequest request("GET", "/");
  for (auto _ : State) {
    TBenchResponse response(&request);
    bool handled = handler.HandleRequest(&request, &response);
    if (!handled || !response.Sent()) State.SkipWithError("not handled");
    benchmark::DoNotOptimize(handled);
  }
}
BENCHMARK(HandleRequestReusedSet)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
