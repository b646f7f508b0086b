#pragma once
// Fixtures of the dispatch tests: a web module class read from a stored
// definition (resource TTESTWEBMODULE), the components it owns, an object
// whose handlers log what runs, and an installed process-wide exception hook.
#include <exception>
#include <set>
#include <vector>

#include <tolvane/dispatch/content_producer.h>
#include <tolvane/dispatch/mask.h>
#include <tolvane/dispatch/web_module.h>
#include <tolvane/runtime/application_hook.h>
#include "support/test_web_request.h"

namespace tolvane::test {

// A producer whose content is a fixed text.
class TTestProducer : public TCustomContentProducer {
  TV_DECLARE_CLASS(TTestProducer)
 public:
  using TCustomContentProducer::TCustomContentProducer;
  String Content() override { return Text; }
  String Text = u"produced";
};

// A component that claims requests itself, and records those it was offered.
class TTestClaimer : public TComponent, public IWebDispatch {
  TV_DECLARE_CLASS(TTestClaimer)
 public:
  using TComponent::TComponent;
  const String& MaskText() const { return FMaskText; }
  void SetMaskText(const String& Value) {
    FMask = std::make_unique<TMask>(Value);
    FMaskText = Value;
  }
  // Leaves the component without a mask: DispatchMask answers null.
  void DropMask() { FMask.reset(); }
  bool DispatchEnabled() override { return Enabled; }
  TMethodType DispatchMethodType() override { return MethodType; }
  TMask* DispatchMask() override { return FMask.get(); }
  bool DispatchRequest(TObject* Sender, TWebRequest* Request, TWebResponse* Response) override;

  bool Enabled = true;
  TMethodType MethodType = TMethodType::mtAny;
  bool Result = true;
  TObject* LastSender = nullptr;
  std::vector<String>* Log = nullptr;  // where DispatchRequest records "<name>:<path>"

 private:
  String FMaskText;
  std::unique_ptr<TMask> FMask = std::make_unique<TMask>(u"*");
};

// What a module's or recorder's handlers do, set by each test.
struct TBehaviour {
  bool BeforeHandles = false;  // BeforeDispatch sets Handled
  bool BeforeSends = false;    // BeforeDispatch sends the response
  bool AfterClears = false;    // AfterDispatch clears Handled
  std::set<String> Declines;   // action items whose handler clears Handled
  std::set<String> ClearsActions;  // action items whose handler frees every item
  std::set<String> FreesItself;    // action items whose handler frees its own item
  // OnException: leaves Handled as given, or clears it; may send itself.
  bool ExceptionClears = false;
  bool ExceptionSends = false;
};

class TTestWebModule : public TWebModule {
  TV_DECLARE_CLASS(TTestWebModule)
 public:
  explicit TTestWebModule(TComponent* AOwner) : TWebModule(AOwner) {}

  // Published handlers. Each logs its name; action handlers log the item
  // name and set the content to it.
  void ModuleBeforeDispatch(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void ModuleAfterDispatch(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void ModuleException(TObject* Sender, const Exception& E, bool& Handled);
  void ItemsAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void HomeAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void FormAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  // Raises Exception "Boom".
  void FailAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);

  // Published fields: the owned components of those names land here.
  TTestProducer* Producer1 = nullptr;
  TTestClaimer* Claimer1 = nullptr;

  TBehaviour Behaviour;
  std::vector<String> Log;
  int ExceptionStatus = 0;  // the response's status when OnException started

 private:
  void Act(TObject* Sender, TWebResponse* Response, bool& Handled);
};

// Read from two definitions, its ancestor's first; creates under the old
// order, so OnCreate runs inside construction.
class TTestOldOrderModule : public TTestWebModule {
  TV_DECLARE_CLASS(TTestOldOrderModule)
 public:
  using TTestWebModule::TTestWebModule;
  // Published: logs "Create", then raises Exception "create failed" when
  // CreateFails is set.
  void ModuleCreate(TObject* Sender);
  static inline bool CreateFails = false;
};

// An object whose handlers log, for dispatchers built in code.
class TRecorder : public TObject {
 public:
  void Action(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void Before(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void After(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
  void OnException(TObject* Sender, const Exception& E, bool& Handled);
  // Raises Exception "destroy failed".
  void Destroying(TObject* Sender);
  THTTPMethodEvent ActionEvent() { return THTTPMethodEvent::Of<&TRecorder::Action>(this); }

  TBehaviour Behaviour;
  std::vector<String> Log;
  // Names of items to decline only on their first call.
  std::set<String> DeclineOnce;
  int ExceptionStatus = 0;
  TWebResponse* ExceptionResponse = nullptr;  // the response OnException may send
};

// Installs itself as the process-wide exception hook while it lives, and
// records each call: the sender and the current exception's class and
// message. With Rethrow it raises the exception again, as the extension's
// hook does for an exception no dispatcher handles.
class THookRecorder : public TObject {
 public:
  explicit THookRecorder(bool Rethrow = false);
  ~THookRecorder() override;
  void Hook(TObject* Sender);

  struct TCall {
    TObject* Sender;
    String Exception;  // "<class>: <message>"
  };
  std::vector<TCall> Calls;
  bool Rethrow;
  // When set, the hook hands Exception instances to this handler, as the
  // request handler's hook does with the dispatcher.
  IWebExceptionHandler* Handler = nullptr;
  bool LastHandled = false;
};

// A GET (or other method) request for Path.
std::unique_ptr<testing::TTestWebRequest> MakeRequest(const AnsiString& Method, const AnsiString& Path);

}  // namespace tolvane::test
