// Request targets from the network and URLs from extensions: whatever comes
// in, a mapped path stays below the root and a path info below the mount.
#include "url_path.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool Condition) {
  if (!Condition) std::abort();
}

bool HasDotSegment(std::string_view Path) {
  for (size_t Start = 0; Start <= Path.size();) {
    size_t End = Path.find('/', Start);
    if (End == std::string_view::npos) End = Path.size();
    const std::string_view Segment = Path.substr(Start, End - Start);
    if (Segment == "." || Segment == "..") return true;
    Start = End + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace tolvane::host;
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  std::string Path, Query, Decoded;
  if (SplitTarget(Input, Path, Query) && PercentDecode(Path, Decoded)) {
    Check(Decoded.find('\0') == std::string::npos);
    if (const auto Clean = RemoveDotSegments(Decoded)) {
      Check(!Clean->empty() && Clean->front() == '/');
      Check(!HasDotSegment(*Clean));
      if (const auto Below = PathBelowMount(*Clean, "/app")) Check(Below->empty() || Below->front() == '/');
    }
  }
  const std::string Root = "/srv/www";
  if (const auto Mapped = MapUrlToPath(Root, Input)) {
    Check(Mapped->compare(0, Root.size() + 1, Root + "/") == 0);
    Check(!HasDotSegment(Mapped->substr(Root.size())));
  }
  return 0;
}
