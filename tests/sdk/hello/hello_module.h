#pragma once
// The hello extension's web module. Its actions are laid out in the
// definition THELLOMODULE; the handlers they name are published here.
#include "dispatch/web_module.h"

namespace hello {

class THelloModule : public tolvane::TWebModule {
  TV_DECLARE_CLASS(THelloModule)
 public:
  using TWebModule::TWebModule;

  // GET /greet?name=...: greets the name, escaped for HTML.
  void GreetAction(tolvane::TObject* Sender, tolvane::TWebRequest* Request, tolvane::TWebResponse* Response,
                   bool& Handled);
  // Every other request: a fixed page.
  void HomeAction(tolvane::TObject* Sender, tolvane::TWebRequest* Request, tolvane::TWebResponse* Response,
                  bool& Handled);
};

}  // namespace hello
