#include "web_module1.h"

#include <tolvane/runtime/published.h>

namespace tolvane {

namespace {
constinit const TMethodInfo WebModule1Methods[] = {TV_METHOD(TWebModule1, WebModule1DefaultHandlerAction)};
}  // namespace

TV_DEFINE_CLASS(TWebModule1, TWebModule, CreateComponent<TWebModule1>, {}, WebModule1Methods);

void TWebModule1::WebModule1DefaultHandlerAction(TObject*, TWebRequest*, TWebResponse* Response, bool&) {
  Response->SetUnicodeContent(u"<html><heading/><body>Vantro Version Worked OK</body></html>");
}

}  // namespace tolvane
