#include <tolvane/isapi/isapi_app.h>

#if defined(__GNUC__)
#include <cxxabi.h>
#endif

#include <cstdlib>
#include <cstring>
#include <typeinfo>

#include <tolvane/dispatch/web_interfaces.h>
#include <tolvane/http/http_utils.h>
#include <tolvane/platform/process.h>
#include <tolvane/runtime/application_hook.h>
#include <tolvane/runtime/format.h>

namespace tolvane {

TV_DEFINE_CLASS(TISAPIFactory, TObject);
TV_DEFINE_CLASS(TISAPIApplication, TWebApplication, CreateComponent<TISAPIApplication>);

TDispatchThreadEvent DispatchThread;

String& WebApplicationFileName() {
  static String Name;
  return Name;
}

std::unique_ptr<TISAPIRequest> TISAPIFactory::NewRequest(EXTENSION_CONTROL_BLOCK* ECB) {
  return std::make_unique<TISAPIRequest>(ECB);
}

std::unique_ptr<TISAPIResponse> TISAPIFactory::NewResponse(TISAPIRequest* Request) {
  return std::make_unique<TISAPIResponse>(Request);
}

TISAPIApplication::TISAPIApplication(TComponent* AOwner) : TWebApplication(AOwner) {
  WebApplicationFileName() = GetISAPIFileName();
  FFactory = std::make_unique<TISAPIFactory>();
  ApplicationHandleException = TNotifyEvent::Of<&TISAPIApplication::ISAPIHandleException>(this);
}

TISAPIApplication::~TISAPIApplication() {
  // Cleared first, so nothing reaches a factory being destroyed.
  std::unique_ptr<TISAPIFactory> Factory = std::move(FFactory);
  Factory.reset();
}

BOOL TISAPIApplication::GetExtensionVersion(HSE_VERSION_INFO* Ver) {
  try {
    Ver->dwExtensionVersion = HseMakeVersion(HSE_VERSION_MAJOR, HSE_VERSION_MINOR);
    const AnsiString Desc = AnsiOf(Title());
    // The field keeps room for its terminating zero.
    const std::size_t Count = std::min<std::size_t>(Desc.size(), HSE_MAX_EXT_DLL_NAME_LEN - 1);
    std::memcpy(Ver->lpszExtensionDesc, Desc.data(), Count);
    Ver->lpszExtensionDesc[Count] = '\0';
    return ISAPI_TRUE;
  } catch (...) {
    return ISAPI_FALSE;
  }
}

DWORD TISAPIApplication::HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB) {
  std::unique_ptr<TISAPIRequest> Request;
  std::unique_ptr<TISAPIResponse> Response;
  try {
    Request = NewRequest(ECB);
    Response = NewResponse(Request.get());
    const bool Handled = HandleRequest(Request.get(), Response.get());
    // The response before the request it answers.
    Response.reset();
    Request.reset();
    return Handled ? HSE_STATUS_SUCCESS : HSE_STATUS_ERROR;
  } catch (...) {
    // A client that has part of a response already (a content stream that
    // failed half-way) must not get an error page glued to it: the request
    // just ends, and the host closes the connection on the error status.
    const bool Started = (Request && Request->ResponseStarted()) || (Response && Response->Sent());
    Response.reset();
    Request.reset();
    if (!Started) HandleServerException(ECB);
    return HSE_STATUS_ERROR;
  }
}

BOOL TISAPIApplication::TerminateExtension(DWORD) {
  if (FTerminateProc) FTerminateProc();
  return ISAPI_TRUE;
}

std::unique_ptr<TISAPIRequest> TISAPIApplication::NewRequest(EXTENSION_CONTROL_BLOCK* ECB) {
  return FFactory->NewRequest(ECB);
}

std::unique_ptr<TISAPIResponse> TISAPIApplication::NewResponse(TISAPIRequest* Request) {
  return FFactory->NewResponse(Request);
}

void TISAPIApplication::ISAPIHandleException(TObject* Sender) {
  bool Handled = false;
  try {
    throw;
  } catch (const Exception& E) {
    if (auto* Handler = Supports<IWebExceptionHandler>(Sender)) Handler->HandleException(E, Handled);
  } catch (...) {
    // Not an exception object: nobody here can settle it.
  }
  if (!Handled) throw;
}

namespace {

// The name of the type of the exception being handled, for objects outside
// the class family.
String CurrentExceptionTypeName() {
#if defined(__GNUC__)
  if (const std::type_info* Type = abi::__cxa_current_exception_type()) {
    int Status = 0;
    char* Name = abi::__cxa_demangle(Type->name(), nullptr, nullptr, &Status);
    String Result = AsciiToString(Status == 0 && Name ? Name : Type->name());
    std::free(Name);
    return Result;
  }
#endif
  return u"unknown";
}

// A status text is one header line: no control character may end it early.
String StatusLineText(const String& Text) {
  String Out = Text;
  for (char16_t& C : Out)
    if (C < 0x20 || (C >= 0x7F && C <= 0x9F)) C = u' ';
  return Out;
}

}  // namespace

TServerErrorAnswer ServerErrorAnswer(const String& ClassName, const String& Message) {
  TServerErrorAnswer Answer;
  Answer.Page = AnsiOf(Format(
      u"<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>\r\n"
      u"Exception: %s<br>\r\nMessage: %s<br></html>\r\n",
      {HTMLEscape(ClassName), HTMLEscape(Message)}));
  Answer.StatusText = AnsiOf(u"500 " + StatusLineText(Message));
  Answer.Headers = AnsiOf(Format(u"Content-Type: text/html\r\nContent-Length: %d\r\n\r\n",
                                 {static_cast<int>(Answer.Page.size())}));
  return Answer;
}

void HandleServerException(EXTENSION_CONTROL_BLOCK* ECB) noexcept {
  try {
    ECB->dwHttpStatusCode = 500;
    String ClassName, Message;
    try {
      throw;
    } catch (const Exception& E) {
      ClassName = E.ClassName();
      Message = E.Message();
    } catch (const TObject& O) {
      ClassName = O.ClassName();
    } catch (...) {
      ClassName = CurrentExceptionTypeName();
    }
    TServerErrorAnswer Answer = ServerErrorAnswer(ClassName, Message);
    if (ECB->ServerSupportFunction)
      ECB->ServerSupportFunction(ECB->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, Answer.StatusText.data(), nullptr,
                                 reinterpret_cast<LPDWORD>(Answer.Headers.data()));
    DWORD Written = 0;
    WriteToClient(ECB, Answer.Page.data(), static_cast<DWORD>(Answer.Page.size()), Written);
  } catch (...) {
    // Nothing more can be told to this client.
  }
}

String GetISAPIFileName() {
  String Name = platform::LibraryFileName();
  if (Name.starts_with(u"\\\\?\\")) Name.erase(0, 4);
  return Name;
}

namespace {

TISAPIApplication& ISAPIApplication() {
  auto* App = dynamic_cast<TISAPIApplication*>(Application);
  if (!App) throw EInvalidCast(u"Invalid class typecast");
  return *App;
}

}  // namespace

BOOL GetExtensionVersion(HSE_VERSION_INFO* Ver) { return ISAPIApplication().GetExtensionVersion(Ver); }

DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ECB) {
  if (DispatchThread) return DispatchThread.Code(DispatchThread.Data, ECB) ? HSE_STATUS_PENDING : HSE_STATUS_ERROR;
  return ISAPIApplication().HttpExtensionProc(ECB);
}

BOOL TerminateExtension(DWORD dwFlags) { return ISAPIApplication().TerminateExtension(dwFlags); }

void InitApplication() { Application = NewComponent<TISAPIApplication>(nullptr); }

}  // namespace tolvane
