#include <tolvane/runtime/application_hook.h>

namespace tolvane {

TNotifyEvent ApplicationHandleException;

bool HandleApplicationException(TObject* Sender) {
  if (!ApplicationHandleException) return false;
  ApplicationHandleException(Sender);
  return true;
}

}  // namespace tolvane
