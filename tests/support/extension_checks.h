#pragma once
// What a host sees of the built extension library, shared by the tests that
// load it the way a host does (dlopen on POSIX, LoadLibraryW on Windows).
#include <string>

#include <tolvane/isapi/isapi.h>
#include "support/application_page.h"
#include "support/fake_isapi_host.h"

namespace tolvane::testing {

// A plain browser request for "/".
void Browse(TFakeIsapiConnection& Connection);

// The connection got the page: status 200, its type and length, its bytes.
void ExpectPage(const TFakeIsapiConnection& Connection);

// Sends a browser request through HttpExtensionProc and checks that it was
// served on this thread before the call returned: success, the page, every
// host call made from here, no end of session.
void ExpectServedOnThisThread(PFN_HTTPEXTENSIONPROC HttpExtensionProc);

// Calls GetExtensionVersion and checks it answered TRUE.
HSE_VERSION_INFO StartUp(PFN_GETEXTENSIONVERSION GetExtensionVersion);

}  // namespace tolvane::testing
