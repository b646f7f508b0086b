#include "support/definition_writer.h"

namespace tolvane::test {

std::vector<std::uint8_t> WebModule1Definition() {
  TDefinitionWriter w;
  w.Signature().Component("TWebModule1", "WebModule1");
  w.Prop("OldCreateOrder").False();
  w.Prop("Actions").Collection().List();
  w.Prop("Default").True();
  w.Prop("Name").String("DefaultHandler");
  w.Prop("PathInfo").String("/");
  w.Prop("OnAction").Ident("WebModule1DefaultHandlerAction");
  w.End().End();
  w.Prop("Height").Int16(230);
  w.Prop("Width").Int16(415);
  w.End().End();
  return w.Bytes;
}

}  // namespace tolvane::test
