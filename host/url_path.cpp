#include "url_path.h"

#include <vector>

namespace tolvane::host {

namespace {

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view Text, std::string_view Prefix) {
  if (Text.size() < Prefix.size()) return false;
  for (size_t I = 0; I < Prefix.size(); ++I) {
    char C = Text[I];
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
    if (C != Prefix[I]) return false;
  }
  return true;
}

}  // namespace

bool SplitTarget(std::string_view Target, std::string& Path, std::string& Query) {
  if (StartsWithNoCase(Target, "http://") || StartsWithNoCase(Target, "https://")) {
    const size_t AuthorityStart = Target.find("//") + 2;
    const size_t PathStart = Target.find_first_of("/?", AuthorityStart);
    if (PathStart == std::string_view::npos) {
      Target = "/";
    } else if (Target[PathStart] == '?') {
      Path.assign(1, '/');
      Query.assign(Target.substr(PathStart + 1));
      return true;
    } else {
      Target = Target.substr(PathStart);
    }
  }
  if (Target.empty() || Target.front() != '/') return false;
  const size_t QueryStart = Target.find('?');
  if (QueryStart == std::string_view::npos) {
    Path.assign(Target);
    Query.clear();
  } else {
    Path.assign(Target.substr(0, QueryStart));
    Query.assign(Target.substr(QueryStart + 1));
  }
  return true;
}

bool PercentDecode(std::string_view Text, std::string& Decoded) {
  Decoded.clear();
  Decoded.reserve(Text.size());
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '\0') return false;
    if (Text[I] != '%') {
      Decoded.push_back(Text[I]);
      continue;
    }
    if (I + 2 >= Text.size()) return false;
    const int High = HexValue(Text[I + 1]);
    const int Low = HexValue(Text[I + 2]);
    if (High < 0 || Low < 0) return false;
    const char C = static_cast<char>(High * 16 + Low);
    if (C == '\0') return false;
    Decoded.push_back(C);
    I += 2;
  }
  return true;
}

std::optional<std::string> RemoveDotSegments(std::string_view Path) {
  if (Path.empty() || Path.front() != '/') return std::nullopt;
  std::vector<std::string_view> Segments;
  size_t Start = 1;
  bool TrailingSlash = false;
  while (Start <= Path.size()) {
    size_t End = Path.find('/', Start);
    if (End == std::string_view::npos) End = Path.size();
    const std::string_view Segment = Path.substr(Start, End - Start);
    const bool Last = End == Path.size();
    if (Segment == ".") {
      TrailingSlash = Last;
    } else if (Segment == "..") {
      if (Segments.empty()) return std::nullopt;
      Segments.pop_back();
      TrailingSlash = Last;
    } else {
      Segments.push_back(Segment);
      TrailingSlash = false;
    }
    Start = End + 1;
  }
  std::string Result;
  for (const std::string_view Segment : Segments) {
    Result.push_back('/');
    Result.append(Segment);
  }
  if (TrailingSlash || Result.empty()) Result.push_back('/');
  return Result;
}

std::optional<std::string> NormalizeMount(std::string_view Mount) {
  auto Clean = RemoveDotSegments(Mount);
  if (!Clean) return std::nullopt;
  while (!Clean->empty() && Clean->back() == '/') Clean->pop_back();
  // Empty segments ("/a//b") are kept as they are: the mount is compared with
  // request paths byte for byte.
  return Clean;
}

std::optional<std::string> PathBelowMount(std::string_view Path, std::string_view Mount) {
  if (Mount.empty()) return std::string(Path);
  if (Path.substr(0, Mount.size()) != Mount) return std::nullopt;
  if (Path.size() == Mount.size()) return std::string();
  if (Path[Mount.size()] != '/') return std::nullopt;
  return std::string(Path.substr(Mount.size()));
}

std::optional<std::string> MapUrlToPath(std::string_view Root, std::string_view Url) {
  const size_t QueryStart = Url.find('?');
  if (QueryStart != std::string_view::npos) Url = Url.substr(0, QueryStart);
  std::string Absolute;
  if (Url.empty() || Url.front() != '/') Absolute.push_back('/');
  Absolute.append(Url);
  const auto Clean = RemoveDotSegments(Absolute);
  if (!Clean) return std::nullopt;
  std::string Result(Root);
  while (!Result.empty() && Result.back() == '/') Result.pop_back();
  Result.append(*Clean);
  return Result;
}

}  // namespace tolvane::host
