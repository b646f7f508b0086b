#include <benchmark/benchmark.h>

#include "dispatch/web_dispatcher.h"
#include "webapp/web_request_handler.h"

using namespace tolvane;

namespace {

// The least a request must answer to be dispatched: its method and path.
class TBenchRequest : public TWebRequest {
 public:
  AnsiString GetStringVariable(int Index) override {
    return Index == rvMethod ? AnsiString("GET") : Index == rvPathInfo ? AnsiString("/") : AnsiString();
  }
  TDateTime GetDateVariable(int) override { return -1; }
  int GetIntegerVariable(int) override { return -1; }
  int ReadClient(void*, int) override { return -1; }
  String TranslateURI(const String&) override { return {}; }
  int WriteClient(const void*, int Count) override { return Count; }
  bool WriteString(const AnsiString&) override { return true; }
  bool WriteHeaders(int, const AnsiString&, const AnsiString&) override { return true; }
  AnsiString GetFieldByName(const AnsiString&) override { return {}; }
};

// Keeps the content and status; sending only marks it sent.
class TBenchResponse : public TWebResponse {
 public:
  using TWebResponse::TWebResponse;
  AnsiString GetStringVariable(int) override { return {}; }
  void SetStringVariable(int, const AnsiString&) override {}
  TDateTime GetDateVariable(int) override { return -1; }
  void SetDateVariable(int, TDateTime) override {}
  int GetIntegerVariable(int) override { return int(FContent.size()); }
  void SetIntegerVariable(int, int) override {}
  AnsiString GetContent() override { return FContent; }
  void SetContent(const AnsiString& Value) override { FContent = Value; }
  int GetStatusCode() override { return FStatus; }
  void SetStatusCode(int Value) override { FStatus = Value; }
  String GetLogMessage() override { return {}; }
  void SetLogMessage(const String&) override {}
  void SendResponse() override { FSent = true; }
  void SendRedirect(const AnsiString&) override { FSent = true; }
  void SendStream(TStream&) override {}
  bool Sent() override { return FSent; }

 private:
  AnsiString FContent;
  int FStatus = 200;
  bool FSent = false;
};

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
  TBenchRequest request;
  for (auto _ : State) {
    TBenchResponse response(&request);
    bool handled = handler.HandleRequest(&request, &response);
    if (!handled || !response.Sent()) State.SkipWithError("not handled");
    benchmark::DoNotOptimize(handled);
  }
}
BENCHMARK(HandleRequestReusedSet)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
