// The application object's answer to a request that fails, with the library
// core loaded in process and a module whose services write part of a response
// before they fail; and a host that takes fewer bytes per write than offered.
#include "isapi/isapi_app.h"

#include <gtest/gtest.h>

#include <string>

#include "dispatch/web_interfaces.h"
#include "http/web_request.h"
#include "http/web_response.h"
#include "isapi/extension_library.h"
#include "runtime/data_module.h"
#include "support/fake_isapi_host.h"

using namespace tolvane;
using tolvane::testing::TFakeIsapiConnection;

namespace {

enum TServing {
  svFailAtOnce,        // raises before anything is written
  svFailAfterHeaders,  // the status and header block went out, then it raises
  svFailAfterContent,  // part of the content went out, then it raises
  svAnswer,            // sends a whole response
};

constexpr const char* kPart = "first part of the page";

// What the module's services do with the next request.
TServing Serving = svAnswer;

// Services that answer as Serving says. The raised object is no exception
// object, so that no exception handler settles it and it leaves the
// request handler for the application object.
class TScriptedServices : public TComponent, public IWebAppServices {
 public:
  using TComponent::TComponent;
  void InitContext(TAbstractWebModuleList*, TWebRequest* Request, TWebResponse* Response) override {
    FRequest = Request;
    FResponse = Response;
  }
  bool HandleRequest() override {
    switch (Serving) {
      case svFailAtOnce:
        throw 42;
      case svFailAfterHeaders:
        FRequest->WriteHeaders(200, "200 OK", "Content-Type: text/html\r\nContent-Length: 1000\r\n\r\n");
        throw 42;
      case svFailAfterContent:
        FRequest->WriteString(kPart);
        throw 42;
      case svAnswer:
        FResponse->SetContent(kPart);
        FResponse->SendResponse();
        return true;
    }
    return false;
  }
  void FinishContext() override {}
  TObject* GetExceptionHandler() override { return nullptr; }
  bool GetActive() override { return true; }

 private:
  TWebRequest* FRequest = nullptr;
  TWebResponse* FResponse = nullptr;
};

class TScriptedModule : public TDataModule {
  TV_DECLARE_CLASS(TScriptedModule)
 public:
  explicit TScriptedModule(TComponent* AOwner) : TDataModule(AOwner) { new TScriptedServices(this); }
};
TV_DEFINE_CLASS(TScriptedModule, TDataModule, CreateComponent<TScriptedModule>);

class ISAPIApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadExtensionLibrary({TScriptedModule::StaticClass()});
  }
  void TearDown() override { UnloadExtensionLibrary(); }
};

std::string HeaderBlocks(const TFakeIsapiConnection& C) {
  std::string Out;
  for (const auto& Call : C.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER)) Out += Call.Extra.value_or("") + "|";
  return Out;
}

TEST_F(ISAPIApplicationTest, TheServerErrorPageGoesOnlyToAClientThatHasNoPartOfAResponse) {
  const std::string Page = ServerErrorAnswer(u"int", u"").Page;
  const std::string PageHeaders = ServerErrorAnswer(u"int", u"").Headers;
  struct TCase {
    const char* Name;
    TServing Serving;
    DWORD Status;
    std::string Headers;  // the header blocks sent, each followed by "|"
    std::string Written;
  } Cases[] = {
      {"fails before writing", svFailAtOnce, HSE_STATUS_ERROR, PageHeaders + "|", Page},
      {"fails after the headers", svFailAfterHeaders, HSE_STATUS_ERROR,
       "Content-Type: text/html\r\nContent-Length: 1000\r\n\r\n|", ""},
      {"fails after part of the content", svFailAfterContent, HSE_STATUS_ERROR, "", kPart},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Serving = Case.Serving;
    TFakeIsapiConnection C;
    C.SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
    EXPECT_EQ(tolvane::HttpExtensionProc(C.ECB()), Case.Status);
    EXPECT_EQ(HeaderBlocks(C), Case.Headers);
    EXPECT_EQ(C.Written(), Case.Written);
  }
}

TEST_F(ISAPIApplicationTest, AHostTakingFewerBytesThanOfferedIsOfferedTheRestUntilAllAreWritten) {
  const std::string Page = ServerErrorAnswer(u"int", u"").Page;
  struct TCase {
    const char* Name;
    TServing Serving;
    DWORD MaxWriteSize;
    std::string Written;
  } Cases[] = {
      {"the response", svAnswer, 5, kPart},
      {"the response, one byte at a time", svAnswer, 1, kPart},
      {"the server error page", svFailAtOnce, 7, Page},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Serving = Case.Serving;
    TFakeIsapiConnection C;
    C.SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
    C.MaxWriteSize = Case.MaxWriteSize;
    tolvane::HttpExtensionProc(C.ECB());
    EXPECT_EQ(C.Written(), Case.Written);
    const std::size_t Calls = C.Calls(tolvane::testing::TIsapiCallKind::ckWriteClient).size();
    EXPECT_EQ(Calls, (Case.Written.size() + Case.MaxWriteSize - 1) / Case.MaxWriteSize);
  }
}

TEST_F(ISAPIApplicationTest, AHostThatFailsOrTakesNothingEndsTheWriteAtOnce) {
  struct TCase {
    const char* Name;
    bool Fails;
  } Cases[] = {{"fails", true}, {"takes nothing", false}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Serving = svAnswer;
    TFakeIsapiConnection C;
    C.SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
    C.FailWrites = Case.Fails;
    C.MaxWriteSize = 0;
    tolvane::HttpExtensionProc(C.ECB());
    EXPECT_EQ(C.Calls(tolvane::testing::TIsapiCallKind::ckWriteClient).size(), 1u);
    EXPECT_EQ(C.Written(), "");
  }
}

}  // namespace
