#pragma once
// The process-wide exception hook: called inside exception handling with the
// object responsible for the current exception (or null). The application
// object installs it; unset, exceptions that would go to it propagate.
#include <tolvane/runtime/method_event.h>

namespace tolvane {

extern TNotifyEvent ApplicationHandleException;

// Inside a catch block: hands the current exception to the hook and answers
// true, or answers false when no hook is installed.
bool HandleApplicationException(TObject* Sender);

}  // namespace tolvane
