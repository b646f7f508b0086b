#include <tolvane/dispatch/web_module.h>

#include <tolvane/runtime/application_hook.h>
#include <tolvane/runtime/published.h>
#include <tolvane/streaming/component_res.h>

namespace tolvane {

namespace {

constinit const TPropInfo WebModuleProps[] = {
    TV_PROPERTY(TWebModule, Actions),
    TV_PROPERTY(TWebModule, BeforeDispatch),
    TV_PROPERTY(TWebModule, AfterDispatch),
    TV_PROPERTY(TWebModule, OnException),
};

}  // namespace

TV_DEFINE_CLASS(TWebModule, TCustomWebDispatcher, CreateComponent<TWebModule>, WebModuleProps);

void TWebModule::AfterConstruction() {
  if (!FDefinitionRead) {
    FDefinitionRead = true;
    if (!ComponentState().Contains(csDesigning)) ReadDefinition();
  }
  TCustomWebDispatcher::AfterConstruction();
}

void TWebModule::ReadDefinition() {
  try {
    if (!InitInheritedComponent(this, TCustomWebDispatcher::StaticClass()))
      throw EResNotFound(u"Resource %s not found", {ClassName()});
    if (OldCreateOrder() && OnCreate()) OnCreate()(this);
  } catch (...) {
    // The hook decides: the extension's hook raises the exception again, and
    // the module is then not created. Without a hook it is dropped.
    HandleApplicationException(nullptr);
  }
}

}  // namespace tolvane
