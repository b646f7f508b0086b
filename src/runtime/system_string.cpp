#include <tolvane/runtime/system_string.h>

#include <tolvane/platform/code_page.h>

namespace tolvane {

using platform::TCodePage;

String StringOf(std::string_view Ansi) { return platform::MultiByteToWide(TCodePage::cpAnsi, Ansi); }
AnsiString AnsiOf(std::u16string_view Text) { return platform::WideToMultiByte(TCodePage::cpAnsi, Text); }
AnsiString UTF8Encode(std::u16string_view Text) { return platform::WideToMultiByte(TCodePage::cpUTF8, Text); }
String UTF8ToString(std::string_view Bytes) { return platform::MultiByteToWide(TCodePage::cpUTF8, Bytes); }

int CompareText(std::u16string_view A, std::u16string_view B) { return platform::CompareTextLocale(A, B); }
bool SameText(std::u16string_view A, std::u16string_view B) { return CompareText(A, B) == 0; }

namespace {
template <class Char>
bool SameAscii(std::basic_string_view<Char> A, std::basic_string_view<Char> B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (UpCaseAscii(char16_t(A[i])) != UpCaseAscii(char16_t(B[i]))) return false;
  return true;
}
}  // namespace

bool SameTextAscii(std::string_view A, std::string_view B) { return SameAscii(A, B); }
bool SameTextAscii(std::u16string_view A, std::u16string_view B) { return SameAscii(A, B); }

AnsiString UpperCaseAscii(std::string_view S) {
  AnsiString R(S);
  for (char& c : R) c = char(UpCaseAscii(static_cast<unsigned char>(c)));
  return R;
}

String UpperCaseAscii(std::u16string_view S) {
  String R(S);
  for (char16_t& c : R) c = UpCaseAscii(c);
  return R;
}

String IntToStr(std::int64_t Value) { return AsciiToString(std::to_string(Value)); }

String AsciiToString(std::string_view Ascii) { return String(Ascii.begin(), Ascii.end()); }

}  // namespace tolvane
