#pragma once
// The request handler: keeps a pool of module sets, hands one to each request
// (building a new set when none is idle), finds the per-request services
// object that dispatches the request, and takes the set back afterwards. It
// enforces the limit on sets in use at once and decides whether a used set is
// kept for reuse.
//
// Locking: FCriticalSection guards the two pools and every write of
// FAddingActiveModules, and is held only for list work. Freeing a module
// takes the component name-space lock; when both are held the handler's lock
// is always the one taken first. Modules are made, and requests dispatched,
// without the handler's lock.
#include <atomic>
#include <deque>
#include <memory>
#include <vector>

#include <tolvane/dispatch/web_interfaces.h>
#include <tolvane/platform/critical_section.h>
#include <tolvane/webapp/web_module_factory.h>
#include <tolvane/webapp/web_module_list.h>

namespace tolvane {

class TWebRequestHandler : public TComponent {
  TV_DECLARE_CLASS(TWebRequestHandler)
 public:
  // The default limit of module sets in use at once.
  static constexpr int DefaultMaxConnections = 32;

  explicit TWebRequestHandler(TComponent* AOwner);
  // Frees every module set (active ones included), module and factory.
  ~TWebRequestHandler() override;
  // Frees the module sets while the handler is whole, so that a module that
  // fails to stop reaches Free's caller.
  void BeforeDestruction() override;

  // Serves one request with a set from the pool. Answers whether the request
  // was handled; false when dispatching raised and the exception hook settled
  // it. Exceptions raised before a services object exists (the connection
  // limit, no module, a module that cannot be made) leave unchanged, after
  // the set is given back.
  bool HandleRequest(TWebRequest* Request, TWebResponse* Response);
  // The process-wide exception hook's handler: hands an Exception to Sender
  // when it is an IWebExceptionHandler, otherwise writes the default report
  // to standard error. Call it inside a catch block. Never raises.
  void HandleException(TObject* Sender);

  // Frees every set in both pools. Of a set that is serving a request only
  // the modules go at once; the set itself goes when the request gives it
  // back, so that no later set can take its address (and its identity)
  // meanwhile. When freeing a module raises, the rest are freed all the same
  // and the first failure is raised.
  virtual void FreeModules();
  // Registers a factory; the handler owns it from now on (AddFactory's rules).
  void AddWebModuleFactory(std::unique_ptr<TAbstractWebModuleFactory> AFactory);

  // A set for one request: an idle one (the one returned longest ago) or a
  // new, empty one. Raises ECorvelException for the connection limit and when
  // no factory can be had.
  TWebModuleList* ActivateWebModules();
  // Takes the set back: frees the modules not kept between requests, then
  // keeps the set for reuse or frees it. A set whose modules FreeModules took
  // while it served is freed now.
  void DeactivateWebModules(TWebModuleList* WebModules);

  // 0 or less: no limit.
  int MaxConnections() const { return FMaxConnections.load(std::memory_order_relaxed); }
  void SetMaxConnections(int Value) { FMaxConnections.store(Value, std::memory_order_relaxed); }
  bool CacheConnections() const { return FCacheConnections.load(std::memory_order_relaxed); }
  // Turning caching off frees the idle sets at once; active ones are freed
  // when they come back.
  void SetCacheConnections(bool Value);
  int ActiveCount();
  int InactiveCount();
  // The class a default factory is made for when none is registered.
  TComponentClass WebModuleClass() const { return FWebModuleClass; }
  void SetWebModuleClass(TComponentClass Value) { FWebModuleClass = Value; }
  int WebModuleFactoryCount();
  // Raises EListError for an index out of range.
  TAbstractWebModuleFactory* WebModuleFactory(int I);

 private:
  using TSetPtr = std::unique_ptr<TWebModuleList>;
  bool ServeRequest(TWebModuleList* WebModules, TWebRequest* Request, TWebResponse* Response);
  static std::shared_ptr<IWebAppServices> FindServices(TWebModuleList* WebModules);
  // Frees the sets in list order; empties the list first, so that a set
  // being freed is no longer reachable through the pool. Every set goes even
  // when freeing a module raises; then the first failure is raised.
  template <class L>
  static void FreeSets(L& List);
  static void FreeSet(TSetPtr Set);

  // Declared first so that it outlives the sets that make modules with it.
  TWebModuleFactoryList FWebModuleFactories;
  platform::TCriticalSection FCriticalSection;
  std::vector<TSetPtr> FActiveWebModules;
  // Read without the lock by the quick limit test; written under the lock.
  std::atomic<int> FAddingActiveModules{0};
  std::deque<TSetPtr> FInactiveWebModules;
  // Sets emptied by FreeModules while they served, until their request ends.
  std::vector<TSetPtr> FRetiredWebModules;
  std::atomic<int> FMaxConnections{DefaultMaxConnections};
  std::atomic<bool> FCacheConnections{true};
  TComponentClass FWebModuleClass = nullptr;
};

// Answers the process's request handler; set by the web application object.
using TWebRequestHandlerProc = TWebRequestHandler* (*)();
extern TWebRequestHandlerProc WebRequestHandlerProc;

// The default exception report for the exception being handled (call inside
// a catch block): "Exception <class> in module <file> at <address>.\r\n
// <message>[.]\r\n".
String DefaultExceptionReport();
// Writes the default exception report to standard error.
void ShowDefaultException();

}  // namespace tolvane
