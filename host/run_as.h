// The identity the host process serves under.
#pragma once

#include <string>

namespace tolvane::host {

// Whether the process runs with root's effective user id.
bool RunningAsRoot();

// Makes the whole process, every thread, the user Name: its supplementary
// groups, then Group (the user's own group when empty), then its user id,
// real, effective and saved, so root cannot be taken back. Throws
// EOptionError with a one-line message when the user or group is unknown or
// the change is not permitted.
void RunAs(const std::string& Name, const std::string& Group);

}  // namespace tolvane::host
