#pragma once
// The page the application module answers every request with.
#include <string>

namespace tolvane::testing {

inline const std::string kApplicationPage = "<html><heading/><body>Vantro Version Worked OK</body></html>";

}  // namespace tolvane::testing
