// Arbitrary bytes as the stored definition of a module: reading either
// succeeds or fails with the reader's own errors, and the module (with all
// it made) is freed either way. References by name, in components and in
// nested collection items, may name a component of another module ("Other",
// owning "Thing"), which appears only after the module was read: they wait in
// the process-wide list, and whatever of them is freed takes them along.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <tolvane/runtime/exception.h>
#include <tolvane/streaming/reader.h>
#include "support/test_module.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

TComponent* OtherModule = nullptr;
bool OtherVisible = false;

TComponent* FindOther(const String& Name) { return OtherVisible && SameText(Name, u"Other") ? OtherModule : nullptr; }

void Setup() {
  RegisterClass(TTestRegisteredPart::StaticClass());
  auto* other = NewComponent<TTestModule>(nullptr);
  other->SetName(u"Other");
  NewComponent<TTestPart>(other)->SetName(u"Thing");
  OtherModule = other;
  RegisterFindGlobalComponentProc(FindOther);
}

// Every reference that was set must lead to a live component.
std::size_t Touch(TComponent* Target) { return Target ? Target->Name().size() : 0; }

std::size_t TouchLinks(TTestLinks* Links) {
  std::size_t n = 0;
  for (int i = 0; i < Links->Count(); ++i) n += Touch(Links->Items(i)->Target()) + TouchLinks(Links->Items(i)->Links());
  return n;
}

std::size_t TouchAll(TTestModule& Module) {
  std::size_t n = TouchLinks(Module.Links());
  for (int i = 0; i < Module.ComponentCount(); ++i)
    if (auto* part = dynamic_cast<TTestPart*>(Module.Components(i))) n += Touch(part->Partner());
  return n;
}

void UseActions(TTestModule& Module) {
  // Events bound to the module must call into it.
  for (int i = 0; i < Module.Actions()->Count(); ++i) {
    TTestActionItem* item = Module.Actions()->Items(i);
    String content;
    bool handled = false;
    if (item->OnAction()) item->OnAction()(item, content, handled);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static bool ready = (Setup(), true);
  (void)ready;
  volatile std::size_t sink = 0;
  try {
    OtherVisible = false;
    auto module = TTestModule::Load({Data, Size});
    UseActions(*module);
    sink = sink + TouchAll(*module);
    // The other module appears: waiting references are set.
    OtherVisible = true;
    GlobalFixupReferences();
    sink = sink + TouchAll(*module);
    // Parts and items freed while the module lives take their references
    // along; a later pass sets nothing in them. (References to the freed
    // part are not followed any more: nothing tells the objects holding them.)
    if (module->ComponentCount() > 0) module->Components(0)->Free();
    if (module->Links()->Count() > 0) module->Links()->Delete(0);
    GlobalFixupReferences();
  } catch (const EFilerError&) {
  } catch (const EComponentError&) {
  }
  // Nothing of a freed module may wait any more.
  if (GlobalFixupCount() != 0) std::abort();
  return 0;
}
