#pragma once
// The web module that applications derive from: a dispatcher that reads its
// stored definition (the RCDATA resources named after its classes) as it is
// built.
#include <tolvane/dispatch/web_dispatcher.h>

namespace tolvane {

class TWebModule : public TCustomWebDispatcher {
  TV_DECLARE_CLASS(TWebModule)
 public:
  explicit TWebModule(TComponent* AOwner) : TCustomWebDispatcher(AOwner) {}

  // The end of construction (NewComponent and class references call it, once
  // the most derived constructor is done, so that the definition reaches the
  // derived class's own fields and handlers): reads the definitions of the
  // classes below TCustomWebDispatcher, ancestors first, and under the old
  // creation order runs OnCreate. A failure there, "Resource %s not found"
  // (EResNotFound) when no class has a definition, goes to the process-wide
  // exception hook with no sender; when the hook returns (or none is
  // installed) the module is kept as far as it was built. Then the data
  // module's own completion runs (OnCreate under the new order).
  void AfterConstruction() override;

 private:
  void ReadDefinition();

  bool FDefinitionRead = false;
};

}  // namespace tolvane
