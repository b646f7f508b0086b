#include <tolvane/webapp/web_request_handler.h>

#include <cstdio>
#include <exception>
#include <mutex>
#include <typeinfo>

#include <tolvane/dispatch/web_dispatcher.h>
#include <tolvane/platform/process.h>
#include <tolvane/runtime/application_hook.h>
#include <tolvane/runtime/exception.h>

namespace tolvane {

TV_DEFINE_CLASS(TWebRequestHandler, TComponent, CreateComponent<TWebRequestHandler>);

TWebRequestHandlerProc WebRequestHandlerProc = nullptr;

namespace {

const char16_t* const TooManyConnections =
    u"Maximum number of concurrent connections exceeded.  Please try again later";

// A component held by reference for one request; its owner keeps it alive.
void KeepComponent(IWebAppServices*) {}

}  // namespace

TWebRequestHandler::TWebRequestHandler(TComponent* AOwner) : TComponent(AOwner) {}

TWebRequestHandler::~TWebRequestHandler() {
  // Free has done this already; a failure left for a destructor has nowhere to go.
  try {
    TWebRequestHandler::BeforeDestruction();
  } catch (...) {
  }
}

void TWebRequestHandler::BeforeDestruction() {
  TFirstFailure failure;
  failure.Run([&] { TComponent::BeforeDestruction(); });
  failure.Run([&] { TWebRequestHandler::FreeModules(); });
  // No request is left to give these back.
  failure.Run([&] {
    std::lock_guard lock(FCriticalSection);
    FreeSets(FRetiredWebModules);
  });
  failure.RaiseIfFailed();
}

void TWebRequestHandler::FreeSet(TSetPtr Set) {
  TFirstFailure failure;
  failure.Run([&] { Set->DestroyModules(); });
  Set.reset();
  failure.RaiseIfFailed();
}

template <class L>
void TWebRequestHandler::FreeSets(L& List) {
  L sets = std::move(List);
  List.clear();
  TFirstFailure failure;
  for (TSetPtr& set : sets) failure.Run([&] { FreeSet(std::move(set)); });
  failure.RaiseIfFailed();
}

void TWebRequestHandler::FreeModules() {
  std::lock_guard lock(FCriticalSection);
  TFirstFailure failure;
  for (TSetPtr& set : FActiveWebModules) {
    failure.Run([&] { set->DestroyModules(); });
    FRetiredWebModules.push_back(std::move(set));
  }
  FActiveWebModules.clear();
  failure.Run([&] { FreeSets(FInactiveWebModules); });
  failure.RaiseIfFailed();
}

void TWebRequestHandler::AddWebModuleFactory(std::unique_ptr<TAbstractWebModuleFactory> AFactory) {
  std::lock_guard lock(FCriticalSection);
  FWebModuleFactories.AddFactory(std::move(AFactory));
}

int TWebRequestHandler::ActiveCount() {
  std::lock_guard lock(FCriticalSection);
  return int(FActiveWebModules.size());
}

int TWebRequestHandler::InactiveCount() {
  std::lock_guard lock(FCriticalSection);
  return int(FInactiveWebModules.size());
}

int TWebRequestHandler::WebModuleFactoryCount() {
  std::lock_guard lock(FCriticalSection);
  return FWebModuleFactories.GetItemCount();
}

TAbstractWebModuleFactory* TWebRequestHandler::WebModuleFactory(int I) {
  std::lock_guard lock(FCriticalSection);
  return FWebModuleFactories.GetItem(I);
}

void TWebRequestHandler::SetCacheConnections(bool Value) {
  if (FCacheConnections.exchange(Value) == Value || Value) return;
  std::lock_guard lock(FCriticalSection);
  FreeSets(FInactiveWebModules);
}

TWebModuleList* TWebRequestHandler::ActivateWebModules() {
  int max = MaxConnections();
  // A request fails at once, without waiting for the lock, while another
  // thread is adding the set that fills the pool; the test under the lock is
  // the one that enforces the limit.
  if (max > 0 && FAddingActiveModules.load(std::memory_order_relaxed) >= max)
    throw ECorvelException(TooManyConnections);

  std::lock_guard lock(FCriticalSection);
  FAddingActiveModules.store(int(FActiveWebModules.size()) + 1, std::memory_order_relaxed);
  struct TResetAdding {
    std::atomic<int>& Value;
    ~TResetAdding() { Value.store(0, std::memory_order_relaxed); }
  } resetAdding{FAddingActiveModules};

  if (max > 0 && int(FActiveWebModules.size()) >= max) throw ECorvelException(TooManyConnections);

  TSetPtr set;
  if (!FInactiveWebModules.empty()) {
    set = std::move(FInactiveWebModules.front());
    FInactiveWebModules.pop_front();
    set->SetOnModuleAdded(TModuleAddedProc());
  } else {
    if (FWebModuleFactories.GetItemCount() == 0 && FWebModuleClass)
      FWebModuleFactories.AddFactory(std::make_unique<TDefaultWebModuleFactory>(FWebModuleClass));
    if (FWebModuleFactories.GetItemCount() == 0) throw ECorvelException(u"No data modules registered");
    set = std::make_unique<TWebModuleList>(&FWebModuleFactories);
  }
  TWebModuleList* result = set.get();
  // An idle set that cannot be appended is freed here rather than lost.
  FActiveWebModules.push_back(std::move(set));
  return result;
}

namespace {

// Takes the set out of the list; null when it is not there.
std::unique_ptr<TWebModuleList> Take(std::vector<std::unique_ptr<TWebModuleList>>& List,
                                     const TWebModuleList* WebModules) {
  for (auto it = List.begin(); it != List.end(); ++it)
    if (it->get() == WebModules) {
      auto set = std::move(*it);
      List.erase(it);
      return set;
    }
  return nullptr;
}

}  // namespace

void TWebRequestHandler::DeactivateWebModules(TWebModuleList* WebModules) {
  std::lock_guard lock(FCriticalSection);
  TSetPtr set = Take(FActiveWebModules, WebModules);
  if (!set) {
    // FreeModules took its modules while it served: what is left goes now.
    if (TSetPtr retired = Take(FRetiredWebModules, WebModules))
      FreeSet(std::move(retired));
    return;
  }
  TFirstFailure failure;
  failure.Run([&] { set->AutoDestroyModules(); });
  // A set whose module failed to go is not kept.
  if (!failure.Failed() && CacheConnections() && set->GetItemCount() > 0)
    FInactiveWebModules.push_back(std::move(set));
  else
    failure.Run([&] { FreeSet(std::move(set)); });
  failure.RaiseIfFailed();
}

std::shared_ptr<IWebAppServices> TWebRequestHandler::FindServices(TWebModuleList* WebModules) {
  int count = WebModules->GetItemCount();
  for (int i = 0; i < count; ++i)
    if (auto* provider = Supports<IGetWebAppServices>(WebModules->GetItem(i)))
      if (std::shared_ptr<IWebAppServices> services = provider->GetWebAppServices()) return services;
  if (count == 1) {
    TComponent* module = WebModules->GetItem(0);
    for (int i = 0; i < module->ComponentCount(); ++i) {
      auto* services = Supports<IWebAppServices>(module->Components(i));
      if (services && services->GetActive()) return std::shared_ptr<IWebAppServices>(services, KeepComponent);
    }
  }
  return std::make_shared<TDefaultWebAppServices>();
}

bool TWebRequestHandler::ServeRequest(TWebModuleList* WebModules, TWebRequest* Request, TWebResponse* Response) {
  bool result = false;
  WebModules->AutoCreateModules();
  if (WebModules->GetItemCount() == 0) throw ECorvelException(u"No automatically activated data modules");

  std::shared_ptr<IWebAppServices> services;
  try {
    services = FindServices(WebModules);
    services->InitContext(WebModules, Request, Response);
    try {
      try {
        result = services->HandleRequest();
      } catch (...) {
        // Settled when the hook returns; without a hook the exception goes on.
        if (!HandleApplicationException(services->GetExceptionHandler())) throw;
      }
    } catch (...) {
      services->FinishContext();
      throw;
    }
    services->FinishContext();
    if (result && !Response->Sent()) Response->SendResponse();
  } catch (...) {
    // Before a services object exists there is no exception handler to name,
    // so the exception leaves unchanged.
    if (!services || !HandleApplicationException(services->GetExceptionHandler())) throw;
  }
  return result;
}

bool TWebRequestHandler::HandleRequest(TWebRequest* Request, TWebResponse* Response) {
  TWebModuleList* webModules = ActivateWebModules();
  bool result;
  try {
    result = ServeRequest(webModules, Request, Response);
  } catch (...) {
    DeactivateWebModules(webModules);
    throw;
  }
  DeactivateWebModules(webModules);
  return result;
}

void TWebRequestHandler::HandleException(TObject* Sender) {
  bool handled = false;
  try {
    throw;
  } catch (const Exception& E) {
    if (auto* handler = Supports<IWebExceptionHandler>(Sender)) {
      try {
        handler->HandleException(E, handled);
      } catch (...) {
        handled = true;
        ShowDefaultException();
      }
    }
  } catch (...) {
  }
  if (!handled) ShowDefaultException();
}

namespace {

String FileNameOnly(const String& Path) {
  std::size_t slash = Path.find_last_of(u"/\\");
  return slash == String::npos ? Path : Path.substr(slash + 1);
}

String HexAddress(const void* Address) {
  char text[2 + 2 * sizeof(void*) + 1];
  std::snprintf(text, sizeof text, "%0*llX", int(2 * sizeof(void*)),
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(Address)));
  return AsciiToString(text);
}

String ReportText(const String& ClassName, const String& Message, const void* Address) {
  String text = u"Exception " + ClassName + u" in module " + FileNameOnly(platform::LibraryFileName()) + u" at " +
                HexAddress(Address) + u".\r\n" + Message;
  if (text.empty() || text.back() != u'.') text += u'.';
  return text + u"\r\n";
}

}  // namespace

String DefaultExceptionReport() {
  // C++ does not record where an exception was raised: the address given is
  // that of the exception object.
  try {
    throw;
  } catch (const Exception& E) {
    return ReportText(E.ClassName(), E.Message(), &E);
  } catch (const std::exception& E) {
    return ReportText(AsciiToString(typeid(E).name()), StringOf(E.what()), &E);
  } catch (...) {
    return ReportText(u"(unknown)", String(), nullptr);
  }
}

void ShowDefaultException() {
  // Without a window to show it in, the report's title heads it on the console.
  AnsiString text = "Application Error\r\n" + AnsiOf(DefaultExceptionReport());
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace tolvane
