#pragma once
// The extension being built, as its load hooks hand it to the framework. The
// build generates the definition from the extension's module class and
// resources.
#include "isapi/extension_library.h"

namespace tolvane::extension {

TExtensionLibrary ThisLibrary();

}  // namespace tolvane::extension
