#include "test_definitions.h"

#include "support/definition_writer.h"

namespace tolvane::test {

std::vector<std::uint8_t> TestWebModuleDefinition() {
  TDefinitionWriter w;
  w.Signature().Component("TTestWebModule", "TestWebModule");
  w.Prop("OldCreateOrder").False();
  w.Prop("BeforeDispatch").Ident("ModuleBeforeDispatch");
  w.Prop("AfterDispatch").Ident("ModuleAfterDispatch");
  w.Prop("OnException").Ident("ModuleException");
  w.Prop("Actions").Collection();
  w.List().Prop("Name").String("Items").Prop("MethodType").Ident("mtGet");
  w.Prop("PathInfo").String("/items/*").Prop("OnAction").Ident("ItemsAction").End();
  w.List().Prop("Default").True().Prop("Name").String("Home").Prop("PathInfo").String("/");
  w.Prop("OnAction").Ident("HomeAction").End();
  w.List().Prop("Name").String("Page").Prop("PathInfo").String("/page").Prop("Producer").Ident("Producer1").End();
  w.List().Prop("Name").String("Form").Prop("MethodType").Ident("mtPost");
  w.Prop("PathInfo").String("form\\sent").Prop("OnAction").Ident("FormAction").End();
  w.List().Prop("Name").String("Fail").Prop("PathInfo").String("/fail").Prop("OnAction").Ident("FailAction").End();
  w.End();  // the collection
  w.End();  // the module's properties
  w.Component("TTestProducer", "Producer1").End().End();
  w.Component("TTestClaimer", "Claimer1").Prop("MaskText").String("/claim/*").End().End();
  w.End();  // the module's children
  return w.Bytes;
}

std::vector<std::uint8_t> TestOldOrderModuleDefinition() {
  TDefinitionWriter w;
  w.Signature().Component("TTestOldOrderModule", "TestWebModule");
  w.Prop("OnCreate").Ident("ModuleCreate");
  w.End().End();
  return w.Bytes;
}

}  // namespace tolvane::test
