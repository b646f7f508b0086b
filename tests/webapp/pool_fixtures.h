#pragma once
// Fixtures of the request handler tests: a web module read from a stored
// definition (resource TPOOLTESTMODULE) answering a fixed page, a variant
// whose construction fails after its definition was read, a services
// component that records its calls, modules that own or hand out services, and a gate that holds requests inside their handlers.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <tolvane/dispatch/web_module.h>
#include <tolvane/runtime/data_module.h>
#include "support/test_web_request.h"
#include "test_modules.h"
#include <tolvane/webapp/web_module_factory.h>

namespace tolvane::test {

inline constexpr const char* PoolTestPage = "<html><body>pool test page</body></html>";

// Requests for "/hold" wait here until released.
class TGate {
 public:
  void Arrive();
  // Waits until Count requests have arrived and are waiting.
  void AwaitArrivals(int Count);
  void Release();
  void Reset();

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  int FArrived = 0;
  bool FOpen = true;
  friend class TGateScope;
};

// Closes the process's gate while it lives; opens it when it goes.
class TGateScope {
 public:
  TGateScope();
  ~TGateScope();
};

TGate& HoldGate();

class TPoolTestModule : public TWebModule {
  TV_DECLARE_CLASS(TPoolTestModule)
 public:
  explicit TPoolTestModule(TComponent* AOwner) : TWebModule(AOwner) { ++Live; }
  ~TPoolTestModule() override { --Live; }

  // Published handlers. Page: the fixed page, counting the calls in Hits;
  // Fail raises Exception "action failed"; Hold waits at the gate, then
  // answers the page.
  void PageAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void FailAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void HoldAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);

  int Hits = 0;
  static inline std::atomic<int> Live{0};
};

// Fails once its definition has been read and its action items exist.
class TPoolFailingModule : public TPoolTestModule {
  TV_DECLARE_CLASS(TPoolFailingModule)
 public:
  using TPoolTestModule::TPoolTestModule;
  void AfterConstruction() override;
};

// Services that a module owns (or hands out), recording each call.
class TServicesRecorder : public TComponent, public IWebAppServices {
 public:
  using TComponent::TComponent;
  void InitContext(TAbstractWebModuleList* WebModuleList, TWebRequest* Request, TWebResponse* Response) override;
  bool HandleRequest() override;
  void FinishContext() override { Log.push_back("Finish"); }
  TObject* GetExceptionHandler() override { return ExceptionHandler; }
  bool GetActive() override { return Active; }

  bool Active = true;
  bool Result = true;
  bool Raises = false;     // HandleRequest raises Exception "services failed"
  bool Sends = false;      // HandleRequest sends the response itself
  TObject* ExceptionHandler = nullptr;
  std::vector<std::string> Log;

 private:
  TWebResponse* FResponse = nullptr;
};

// A plain module owning a TServicesRecorder.
class TServicesOwnerModule : public TDataModule {
  TV_DECLARE_CLASS(TServicesOwnerModule)
 public:
  explicit TServicesOwnerModule(TComponent* AOwner);
  TServicesRecorder* Services;
  static inline TServicesOwnerModule* Last = nullptr;
};

// A plain module that hands out services of its own.
class TServicesProviderModule : public TDataModule, public IGetWebAppServices {
  TV_DECLARE_CLASS(TServicesProviderModule)
 public:
  explicit TServicesProviderModule(TComponent* AOwner);
  // Raises Exception "no services" when AskRaises is set.
  std::shared_ptr<IWebAppServices> GetWebAppServices() override;
  static inline bool AskRaises = false;
  std::shared_ptr<TServicesRecorder> Provided;
  static inline TServicesProviderModule* Last = nullptr;
};

std::vector<std::uint8_t> PoolTestModuleDefinition();

struct TExchange {
  std::unique_ptr<testing::TTestWebRequest> Request;
  std::unique_ptr<testing::TTestWebResponse> Response;
};
TExchange MakeExchange(const AnsiString& Method, const AnsiString& Path);

}  // namespace tolvane::test
