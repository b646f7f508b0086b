#include <tolvane/runtime/format.h>

#include <vector>

#include <tolvane/runtime/exception.h>

namespace tolvane {
namespace {

[[noreturn]] void FormatError(std::u16string_view Fmt) {
  throw EConvertError(u"Format '" + String(Fmt) + u"' invalid or incompatible with argument");
}

String ToBase(std::uint64_t v, unsigned Base) {
  String digits;
  do {
    unsigned d = unsigned(v % Base);
    digits.insert(digits.begin(), char16_t(d < 10 ? u'0' + d : u'A' + d - 10));
    v /= Base;
  } while (v);
  return digits;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int ReadNumber(std::u16string_view Fmt, std::size_t& i) {
  int n = 0;
  while (i < Fmt.size() && IsDigit(Fmt[i])) {
    n = n * 10 + (Fmt[i++] - u'0');
    if (n > 100000) FormatError(Fmt);
  }
  return n;
}

}  // namespace

String Format(std::u16string_view Fmt, std::initializer_list<TVarRec> Args) {
  std::vector<const TVarRec*> args;
  for (const TVarRec& a : Args) args.push_back(&a);
  String Out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < Fmt.size();) {
    char16_t c = Fmt[i++];
    if (c != u'%') {
      Out += c;
      continue;
    }
    if (i >= Fmt.size()) FormatError(Fmt);
    if (Fmt[i] == u'%') {
      Out += u'%';
      ++i;
      continue;
    }
    std::size_t start = i;
    int number = IsDigit(Fmt[i]) ? ReadNumber(Fmt, i) : -1;
    if (number >= 0 && i < Fmt.size() && Fmt[i] == u':') {
      next = std::size_t(number);
      ++i;
      number = -1;
    } else if (number >= 0) {
      i = start;  // it was the width
    }
    bool left = false;
    if (i < Fmt.size() && Fmt[i] == u'-') {
      left = true;
      ++i;
    }
    int width = ReadNumber(Fmt, i);
    int precision = -1;
    if (i < Fmt.size() && Fmt[i] == u'.') {
      ++i;
      precision = ReadNumber(Fmt, i);
    }
    if (i >= Fmt.size() || next >= args.size()) FormatError(Fmt);
    const TVarRec& arg = *args[next++];
    char16_t type = UpCaseAscii(Fmt[i++]);
    String text;
    switch (type) {
      case u'S':
        if (!arg.IsText()) FormatError(Fmt);
        text = arg.Text();
        if (precision >= 0 && std::size_t(precision) < text.size()) text.resize(std::size_t(precision));
        break;
      case u'D':
      case u'U':
      case u'X': {
        if (arg.IsText()) FormatError(Fmt);
        std::int64_t v = arg.Integer();
        bool negative = type == u'D' && v < 0;
        std::uint64_t magnitude = type == u'D' ? (negative ? 0 - std::uint64_t(v) : std::uint64_t(v))
                                               : std::uint64_t(std::uint32_t(v));
        text = ToBase(magnitude, type == u'X' ? 16 : 10);
        if (precision > 0 && text.size() < std::size_t(precision)) text.insert(0, std::size_t(precision) - text.size(), u'0');
        if (negative) text.insert(text.begin(), u'-');
        break;
      }
      default:
        FormatError(Fmt);
    }
    if (text.size() < std::size_t(width)) {
      String pad(std::size_t(width) - text.size(), u' ');
      text = left ? text + pad : pad + text;
    }
    Out += text;
  }
  return Out;
}

}  // namespace tolvane
