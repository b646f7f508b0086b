// Arbitrary bytes as the stored definition of a module: reading either
// succeeds or fails with the reader's own errors, and the module (with all
// it made) is freed either way.
#include <cstddef>
#include <cstdint>

#include "runtime/exception.h"
#include "streaming/reader.h"
#include "support/test_module.h"

using namespace tolvane;
using namespace tolvane::test;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static bool registered = (RegisterClass(TTestRegisteredPart::StaticClass()), true);
  (void)registered;
  try {
    auto module = TTestModule::Load({Data, Size});
    // Use what was read: events bound to the module must call into it.
    for (int i = 0; i < module->Actions()->Count(); ++i) {
      TTestActionItem* item = module->Actions()->Items(i);
      String content;
      bool handled = false;
      if (item->OnAction()) item->OnAction()(item, content, handled);
    }
  } catch (const EFilerError&) {
  } catch (const EComponentError&) {
  }
  return 0;
}
