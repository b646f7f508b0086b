#include "hello_module.h"

#include "http/http_utils.h"
#include "runtime/published.h"

namespace hello {

using namespace tolvane;

namespace {
constinit const TMethodInfo HelloMethods[] = {TV_METHOD(THelloModule, GreetAction), TV_METHOD(THelloModule, HomeAction)};
}  // namespace

TV_DEFINE_CLASS(THelloModule, TWebModule, CreateComponent<THelloModule>, {}, HelloMethods);

void THelloModule::GreetAction(TObject*, TWebRequest* Request, TWebResponse* Response, bool&) {
  String Name = Request->QueryFields().Values(u"name");
  if (Name.empty()) Name = u"stranger";
  Response->SetContentType("text/html; charset=utf-8");
  Response->SetUnicodeContent(u"<html><body><p>Hello, " + HTMLEscape(Name) + u"!</p></body></html>");
}

void THelloModule::HomeAction(TObject*, TWebRequest*, TWebResponse* Response, bool&) {
  Response->SetContentType("text/html; charset=utf-8");
  Response->SetUnicodeContent(u"<html><body><h1>Hello from a tolvane extension</h1></body></html>");
}

}  // namespace hello
