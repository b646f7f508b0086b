// The application object and the entry points, with the library core loaded
// in process (the load and unload functions the library's hooks call) and
// requests coming from the fake host.
#include "isapi/isapi_app.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "app/web_module1.h"
#include "dispatch/web_module.h"
#include "isapi/extension_library.h"
#include "isapi/isapi_entry_points.h"
#include "platform/process.h"
#include "runtime/application_hook.h"
#include "runtime/com_init.h"
#include "support/application_page.h"
#include "support/fake_isapi_host.h"

using namespace tolvane;
using tolvane::testing::kApplicationPage;
using tolvane::testing::TFakeIsapiConnection;
using namespace std::chrono_literals;

namespace {

// The application's extension as its load hooks describe it, with the
// definition among the test program's own resources.
const TExtensionLibrary WebModule1Library{TWebModule1::StaticClass()};

// A request as a browser sends it.
void Browse(TFakeIsapiConnection& C, const char* Method = "GET", const char* Path = "/") {
  C.SetMethod(Method).SetPathInfo(Path).SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
}

std::string StatusText(const TFakeIsapiConnection& C) {
  auto Calls = C.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
  return Calls.size() == 1 && Calls[0].Data ? *Calls[0].Data : "<" + std::to_string(Calls.size()) + " header calls>";
}

std::string Headers(const TFakeIsapiConnection& C) {
  auto Calls = C.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
  return Calls.size() == 1 && Calls[0].Extra ? *Calls[0].Extra : "";
}

std::string ErrorPage(const std::string& Class, const std::string& Message) {
  return "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1><hr>\r\nException: " +
         Class + "<br>\r\nMessage: " + Message + "<br></html>\r\n";
}

// Module classes whose construction fails, for failures outside dispatch.
TObject* RaiseConvertError(TObject*) { throw EConvertError(u"bad <b>\"value\"</b> & 'more'"); }
TObject* RaiseNonException(TObject*) { throw 42; }
const TClassInfo ConvertFailingModule{u"TConvertFailingModule", &TWebModule::ClassInfo_, &RaiseConvertError};
const TClassInfo OtherFailingModule{u"TOtherFailingModule", &TWebModule::ClassInfo_, &RaiseNonException};

bool TerminateCalled = false;
void RecordTerminate() { TerminateCalled = true; }
void RaiseFromTerminate() { throw ECorvelException(u"terminate failed"); }

class LoadedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetPlatformId(platform::kPlatformWin32NT);
    LoadExtensionLibrary(WebModule1Library);
    ASSERT_NE(App(), nullptr);
  }
  void TearDown() override {
    UnloadExtensionLibrary();
    platform::SetPlatformId(platform::kPlatformWin32NT);
    IsNetscape = false;
    TerminateCalled = false;
  }
  static TISAPIApplication* App() { return dynamic_cast<TISAPIApplication*>(Application); }
  static HSE_VERSION_INFO Version() {
    HSE_VERSION_INFO Ver{};
    EXPECT_EQ(exports::GetExtensionVersion(&Ver), ISAPI_TRUE);
    return Ver;
  }
};

}  // namespace

TEST(ServerErrorAnswer, PageStatusAndHeadersForEachMessage) {
  struct TCase {
    const char16_t* Class;
    const char16_t* Message;
    std::string Status;
    std::string PageClass, PageMessage;
  } Cases[] = {
      {u"ECorvelException", u"Maximum number of concurrent connections exceeded.  Please try again later",
       "500 Maximum number of concurrent connections exceeded.  Please try again later", "ECorvelException",
       "Maximum number of concurrent connections exceeded.  Please try again later"},
      {u"EConvertError", u"", "500 ", "EConvertError", ""},
      // Markup in either part is shown as text.
      {u"E<x>", u"a & b < c > d \"e\" 'f'", "500 a & b < c > d \"e\" 'f'", "E&lt;x&gt;",
       "a &amp; b &lt; c &gt; d &quot;e&quot; &#39;f&#39;"},
      // No message can end the status line and add header lines of its own.
      {u"Exception", u"bad\r\nSet-Cookie: x=1\tend\x7f\x85.", "500 bad  Set-Cookie: x=1 end  .", "Exception",
       "bad\r\nSet-Cookie: x=1\tend\x7f\x85."},
      // Beyond the code page: converted as the system converts, counted in bytes.
      {u"Exception", u"caf\u00e9 \u20ac \u4e2d", "500 caf\xe9 \x80 ?", "Exception", "caf\xe9 \x80 ?"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Status);
    TServerErrorAnswer A = ServerErrorAnswer(C.Class, C.Message);
    EXPECT_EQ(A.StatusText, C.Status);
    std::string Expected = ErrorPage(C.PageClass, C.PageMessage);
    // The fourth case keeps its control characters in the page (as 8-bit text).
    if (C.Status.starts_with("500 bad")) Expected = ErrorPage("Exception", "bad\r\nSet-Cookie: x=1\tend\x7f?.");
    EXPECT_EQ(A.Page, Expected);
    EXPECT_EQ(A.Headers, "Content-Type: text/html\r\nContent-Length: " + std::to_string(A.Page.size()) + "\r\n\r\n");
  }
}

TEST(NetscapeCheck, OnlyTheLastPathComponentNamedHttpdExeCounts) {
  struct TCase {
    const char16_t* FileName;
    bool Netscape;
  } Cases[] = {
      {u"C:\\Program Files\\bin\\HTTPD.EXE", true},
      {u"httpd.exe", true},
      {u"C:httpd.exe", true},
      {u"/usr/sbin/HTTPD.EXE", true},
      {u"/usr/sbin/HtTpD.eXe", true},
      {u"C:\\inetpub\\httpd.exe\\w3wp.exe", false},
      {u"/srv/httpd.exe/w3wp", false},
      {u"/usr/sbin/httpd", false},
      {u"/usr/sbin/xhttpd.exe", false},
      {u"/usr/sbin/httpd.exe ", false},
      {u"", false},
      // Only A to Z fold: a dotless capital I is another letter.
      {u"/usr/sbin/\u0130TTPD.EXE", false},
      {u"/usr/sbin/\u0131ttpd.exe", false},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(AnsiOf(C.FileName));
    EXPECT_EQ(IsNetscapeServerFileName(C.FileName), C.Netscape);
  }
}

TEST_F(LoadedLibrary, LoadingSetsUpTheApplicationAndThePoolSettings) {
  EXPECT_EQ(Application->WebModuleClass(), TWebModule1::StaticClass());
  EXPECT_EQ(ApplicationHandleException.Data(), Application);
  EXPECT_EQ(ThreadPoolClass, ThreadPoolClassOf<TISAPIThreadPool>());
  EXPECT_EQ(NumberOfThreads, 25);
  EXPECT_FALSE(IsNetscape);  // the test program is not named httpd.exe
  EXPECT_EQ(ThreadPool.load(), nullptr);
  EXPECT_EQ(WebApplicationFileName(), platform::LibraryFileName());
  EXPECT_EQ(CoInitFlags, 0);
}

TEST_F(LoadedLibrary, UnloadFreesTheApplicationAndALaterLoadStartsAfresh) {
  UnloadExtensionLibrary();
  EXPECT_EQ(Application, nullptr);
  EXPECT_FALSE(ApplicationHandleException);
  EXPECT_EQ(DllProc, nullptr);
  LoadExtensionLibrary(WebModule1Library);
  ASSERT_NE(App(), nullptr);
  TFakeIsapiConnection C;
  Browse(C);
  EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_SUCCESS);
  EXPECT_EQ(C.Written(), kApplicationPage);
}

std::vector<int> ChainedReasons;
void RecordReason(int Reason) { ChainedReasons.push_back(Reason); }

TEST_F(LoadedLibrary, ThreadNotificationsPassAlongTheUnloadChainAndFreeNothing) {
  // A callback installed before the library loads is the one it chains to.
  UnloadExtensionLibrary();
  DllProc = &RecordReason;
  ChainedReasons.clear();
  LoadExtensionLibrary(WebModule1Library);
  NotifyExtensionLibrary(kDllThreadAttach);
  NotifyExtensionLibrary(kDllThreadDetach);
  EXPECT_EQ(ChainedReasons, (std::vector<int>{kDllThreadAttach, kDllThreadDetach}));
  ASSERT_NE(App(), nullptr);
  TFakeIsapiConnection C;
  Browse(C);
  EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_SUCCESS);
  EXPECT_EQ(C.Written(), kApplicationPage);
  UnloadExtensionLibrary();
  EXPECT_EQ(ChainedReasons.back(), kDllProcessDetach);
  EXPECT_EQ(DllProc, &RecordReason);
  // Unloaded, the library passes nothing on.
  NotifyExtensionLibrary(kDllThreadAttach);
  EXPECT_EQ(ChainedReasons.size(), 3u);
  DllProc = nullptr;
  LoadExtensionLibrary(WebModule1Library);
}

TEST_F(LoadedLibrary, GetExtensionVersionReportsTwoPointZeroAndCutsTheTitle) {
  App()->SetTitle(String(300, u't'));
  HSE_VERSION_INFO Ver;
  std::memset(&Ver, 'x', sizeof Ver);
  ASSERT_EQ(exports::GetExtensionVersion(&Ver), ISAPI_TRUE);
  EXPECT_EQ(Ver.dwExtensionVersion, 0x00020000u);
  EXPECT_EQ(std::string(Ver.lpszExtensionDesc, 255), std::string(255, 't'));
  EXPECT_EQ(Ver.lpszExtensionDesc[255], '\0');

  App()->SetTitle(u"Caf\u00e9");
  ASSERT_EQ(exports::GetExtensionVersion(&Ver), ISAPI_TRUE);
  EXPECT_STREQ(Ver.lpszExtensionDesc, "Caf\xe9");
}

TEST_F(LoadedLibrary, DirectPathServesThePageOnTheCallingThread) {
  TFakeIsapiConnection C;
  Browse(C, "POST", "/any/where");
  EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_SUCCESS);
  EXPECT_EQ(StatusText(C), "200 OK");
  EXPECT_NE(Headers(C).find("Content-Type: text/html\r\n"), std::string::npos);
  EXPECT_NE(Headers(C).find("Content-Length: 60\r\n"), std::string::npos);
  EXPECT_EQ(C.Written(), kApplicationPage);
  EXPECT_EQ(C.DoneCount(), 0);
  for (const auto& Call : C.Calls()) EXPECT_EQ(Call.Thread, std::this_thread::get_id());
}

// Which path a request takes: the pool only on the NT family, outside an
// httpd.exe host, and once GetExtensionVersion made the pool.
TEST_F(LoadedLibrary, RequestsArePooledOnlyWhenAllConditionsHold) {
  struct TCase {
    std::uint32_t Platform;
    bool Netscape;
    bool Pooled;
  } Cases[] = {
      {platform::kPlatformWin32NT, false, true},
      {platform::kPlatformWin32NT, true, false},
      {platform::kPlatformWin32Windows, false, false},
      {platform::kPlatformWin32s, true, false},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(::testing::Message() << "platform " << Case.Platform << " netscape " << Case.Netscape);
    platform::SetPlatformId(Case.Platform);
    IsNetscape = Case.Netscape;
    Version();
    EXPECT_EQ(ThreadPool.load() != nullptr, Case.Pooled);
    TFakeIsapiConnection C;
    Browse(C);
    DWORD Status = exports::HttpExtensionProc(C.ECB());
    if (Case.Pooled) {
      EXPECT_EQ(Status, HSE_STATUS_PENDING);
      ASSERT_TRUE(C.WaitDone(10s));
      EXPECT_EQ(ThreadPool.load()->ThreadCount(), 25u);
      for (const auto& Call : C.Calls()) EXPECT_NE(Call.Thread, std::this_thread::get_id());
    } else {
      EXPECT_EQ(Status, HSE_STATUS_SUCCESS);
      EXPECT_EQ(C.DoneCount(), 0);
    }
    EXPECT_EQ(StatusText(C), "200 OK");
    EXPECT_EQ(C.Written(), kApplicationPage);
    EXPECT_EQ(exports::TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
    EXPECT_EQ(ThreadPool.load(), nullptr);
  }
}

TEST_F(LoadedLibrary, GetExtensionVersionMakesThePoolWithoutStartingIt) {
  Version();
  TISAPIThreadPool* Pool = ThreadPool.load();
  ASSERT_NE(Pool, nullptr);
  EXPECT_FALSE(Pool->InitCOM());
  EXPECT_EQ(Pool->ThreadCount(), 0u);
  EXPECT_EQ(Pool->RequestQueue(), nullptr);
  Version();  // a second call keeps the pool it has
  EXPECT_EQ(ThreadPool.load(), Pool);
}

TEST_F(LoadedLibrary, TerminateRunsTheHookAndARequestAfterItIsServedDirectly) {
  for (DWORD Flags : {HSE_TERM_MUST_UNLOAD, HSE_TERM_ADVISORY_UNLOAD}) {
    SCOPED_TRACE(Flags);
    TerminateCalled = false;
    App()->SetOnTerminate(&RecordTerminate);
    Version();
    EXPECT_EQ(exports::TerminateExtension(Flags), ISAPI_TRUE);
    EXPECT_TRUE(TerminateCalled);
    EXPECT_EQ(ThreadPool.load(), nullptr);
    TFakeIsapiConnection C;
    Browse(C);
    EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_SUCCESS);
    EXPECT_EQ(C.Written(), kApplicationPage);
  }
}

TEST_F(LoadedLibrary, AFailingTerminateHookStillStopsThePoolAndAgreesToUnload) {
  App()->SetOnTerminate(&RaiseFromTerminate);
  Version();
  TFakeIsapiConnection C;
  Browse(C);
  ASSERT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_PENDING);
  EXPECT_EQ(exports::TerminateExtension(HSE_TERM_MUST_UNLOAD), ISAPI_TRUE);
  EXPECT_EQ(ThreadPool.load(), nullptr);
  EXPECT_EQ(C.DoneCount(), 1);
  // On the direct path as well.
  EXPECT_EQ(exports::TerminateExtension(HSE_TERM_ADVISORY_UNLOAD), ISAPI_TRUE);
}

TEST_F(LoadedLibrary, TheConnectionLimitGivesTheServerErrorPage) {
  App()->SetMaxConnections(1);
  TWebModuleList* Held = App()->ActivateWebModules();
  TFakeIsapiConnection C;
  Browse(C);
  EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_ERROR);
  App()->DeactivateWebModules(Held);
  const std::string Message = "Maximum number of concurrent connections exceeded.  Please try again later";
  const std::string Page = ErrorPage("ECorvelException", Message);
  EXPECT_EQ(C.ECB()->dwHttpStatusCode, 500u);
  EXPECT_EQ(StatusText(C), "500 " + Message);
  EXPECT_EQ(Headers(C), "Content-Type: text/html\r\nContent-Length: " + std::to_string(Page.size()) + "\r\n\r\n");
  EXPECT_EQ(C.Written(), Page);
  // The next request has its set again.
  TFakeIsapiConnection Next;
  Browse(Next);
  EXPECT_EQ(exports::HttpExtensionProc(Next.ECB()), HSE_STATUS_SUCCESS);
}

TEST_F(LoadedLibrary, FailuresOutsideDispatchNameTheirClass) {
  struct TCase {
    const TClassInfo* Module;
    std::string Status, Page;
  } Cases[] = {
      {&ConvertFailingModule, "500 bad <b>\"value\"</b> & 'more'",
       ErrorPage("EConvertError", "bad &lt;b&gt;&quot;value&quot;&lt;/b&gt; &amp; &#39;more&#39;")},
      {&OtherFailingModule, "500 ", ErrorPage("int", "")},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Status);
    // A fresh application: the first request fixes the module factory.
    UnloadExtensionLibrary();
    LoadExtensionLibrary({Case.Module});
    TFakeIsapiConnection C;
    Browse(C);
    EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_ERROR);
    EXPECT_EQ(C.ECB()->dwHttpStatusCode, 500u);
    EXPECT_EQ(StatusText(C), Case.Status);
    EXPECT_EQ(C.Written(), Case.Page);
  }
}

TEST_F(LoadedLibrary, UnloadWithoutTerminateServesTheQueuedRequestsFirst) {
  Version();
  std::vector<std::unique_ptr<TFakeIsapiConnection>> Connections;
  for (int I = 0; I < 60; ++I) {
    Connections.push_back(std::make_unique<TFakeIsapiConnection>());
    Browse(*Connections.back());
    ASSERT_EQ(exports::HttpExtensionProc(Connections.back()->ECB()), HSE_STATUS_PENDING);
  }
  UnloadExtensionLibrary();
  EXPECT_EQ(ThreadPool.load(), nullptr);
  for (auto& C : Connections) {
    EXPECT_EQ(C->DoneCount(), 1);
    EXPECT_EQ(C->Written(), kApplicationPage);
  }
}

TEST_F(LoadedLibrary, AnApplicationOfAnotherClassFailsEveryCallWithoutRaising) {
  TWebApplication* Own = Application;
  auto* Other = NewComponent<TWebApplication>(nullptr);
  Application = Other;
  TFakeIsapiConnection C;
  Browse(C);
  HSE_VERSION_INFO Ver{};
  EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_ERROR);
  EXPECT_EQ(exports::GetExtensionVersion(&Ver), ISAPI_FALSE);
  EXPECT_THROW(tolvane::TerminateExtension(0), EInvalidCast);
  EXPECT_TRUE(C.Written().empty());
  Application = Own;
  // The other object replaced the hooks; put the loaded library's back.
  DllProc = OldDllProc;
  OldDllProc = nullptr;
  ApplicationHandleException = TNotifyEvent();
  Other->Free();
  ApplicationHandleException = TNotifyEvent::Of<&TISAPIApplication::ISAPIHandleException>(App());
}

TEST_F(LoadedLibrary, DispatchThreadReplacesTheDirectPath) {
  struct TTaker : TObject {
    int Calls = 0;
    bool Answer = true;
  } Taker;
  DispatchThread = {&Taker, [](TObject* Data, EXTENSION_CONTROL_BLOCK*) {
                      auto* T = static_cast<TTaker*>(Data);
                      ++T->Calls;
                      return T->Answer;
                    }};
  TFakeIsapiConnection C;
  EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_PENDING);
  Taker.Answer = false;
  EXPECT_EQ(exports::HttpExtensionProc(C.ECB()), HSE_STATUS_ERROR);
  DispatchThread = {};
  EXPECT_EQ(Taker.Calls, 2);
  EXPECT_TRUE(C.Calls().empty());
}
