#pragma once
// The application's own web module: one default action that answers every
// request with a fixed page. Its design lives in the stored definition
// TWEBMODULE1.
#include "dispatch/web_module.h"

namespace tolvane {

class TWebModule1 : public TWebModule {
  TV_DECLARE_CLASS(TWebModule1)
 public:
  using TWebModule::TWebModule;

  // Published: the stored definition binds the DefaultHandler action to it.
  void WebModule1DefaultHandlerAction(TObject* Sender, TWebRequest* Request, TWebResponse* Response, bool& Handled);
};

}  // namespace tolvane
