#pragma once
// The application object of an ISAPI extension: the web application bound to
// the host. It reports the extension's version, serves each request through
// request and response objects made over the host's control block, writes the
// server-error page when serving fails, and runs a hook at termination.
//
// Beside it, the direct request path and the other two host calls as the
// entry points use them: they find the application object in Application.
#include <memory>

#include <tolvane/isapi/isapi.h>
#include <tolvane/isapi/isapi_request.h>
#include <tolvane/isapi/isapi_response.h>
#include <tolvane/webapp/web_application.h>

namespace tolvane {

// Makes the request and response objects of each request; the caller owns
// what it returns.
class TISAPIFactory : public TObject {
  TV_DECLARE_CLASS(TISAPIFactory)
 public:
  virtual std::unique_ptr<TISAPIRequest> NewRequest(EXTENSION_CONTROL_BLOCK* ECB);
  virtual std::unique_ptr<TISAPIResponse> NewResponse(TISAPIRequest* Request);
};

using TISAPITerminateProc = void (*)();

class TISAPIApplication : public TWebApplication {
  TV_DECLARE_CLASS(TISAPIApplication)
 public:
  // Records the library's file name and installs ISAPIHandleException as the
  // process-wide exception hook.
  explicit TISAPIApplication(TComponent* AOwner);
  ~TISAPIApplication() override;

  // Version 2.0 and the title as description (at most 255 bytes of it).
  // FALSE when the description could not be made.
  BOOL GetExtensionVersion(HSE_VERSION_INFO* Ver);
  // Serves one request: HSE_STATUS_SUCCESS when it was handled, else
  // HSE_STATUS_ERROR (after the server-error page when serving raised).
  // Lets no exception out.
  DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB);
  // Runs OnTerminate when set; TRUE whatever the flags.
  BOOL TerminateExtension(DWORD dwFlags);

  std::unique_ptr<TISAPIRequest> NewRequest(EXTENSION_CONTROL_BLOCK* ECB);
  std::unique_ptr<TISAPIResponse> NewResponse(TISAPIRequest* Request);

  // The process-wide exception hook; call it inside a catch block. Offers an
  // Exception to Sender when it is an IWebExceptionHandler; raises the
  // exception again unless that handler marked it handled.
  void ISAPIHandleException(TObject* Sender);

  TISAPITerminateProc OnTerminate() const { return FTerminateProc; }
  void SetOnTerminate(TISAPITerminateProc Value) { FTerminateProc = Value; }

 private:
  std::unique_ptr<TISAPIFactory> FFactory;
  TISAPITerminateProc FTerminateProc = nullptr;
};

// Writes the "Internal Server Error 500" answer for the exception being
// handled straight through the control block. Call it inside a catch block.
// The class name and message are HTML-escaped in the page, and control
// characters of the message become spaces in the status text, so no message
// can add markup or header lines. Never raises.
void HandleServerException(EXTENSION_CONTROL_BLOCK* ECB) noexcept;

// The page and status text HandleServerException sends for an exception of
// class ClassName with Message (both 8-bit, ready for the host).
struct TServerErrorAnswer {
  AnsiString StatusText;
  AnsiString Headers;
  AnsiString Page;
};
TServerErrorAnswer ServerErrorAnswer(const String& ClassName, const String& Message);

// The library's own full file name, without a leading "\\?\".
String GetISAPIFileName();
// The file name of the running web application, recorded by the application
// object; cleared at unload. Written only while the library loads and unloads.
String& WebApplicationFileName();

// Replaces the direct request path when set: Code(Data, ECB) answers whether
// the request was taken.
struct TDispatchThreadEvent {
  TObject* Data = nullptr;
  bool (*Code)(TObject* Data, EXTENSION_CONTROL_BLOCK* ECB) = nullptr;
  explicit operator bool() const { return Code != nullptr; }
};
extern TDispatchThreadEvent DispatchThread;

// The host calls as the application object answers them. Each raises
// EInvalidCast when Application is not a TISAPIApplication.
BOOL GetExtensionVersion(HSE_VERSION_INFO* Ver);
// The direct request path.
DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB);
BOOL TerminateExtension(DWORD dwFlags);

// Application := a new TISAPIApplication without owner.
void InitApplication();

}  // namespace tolvane
