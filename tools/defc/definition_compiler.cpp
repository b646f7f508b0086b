#include "definition_compiler.h"

#include <charconv>
#include <cstddef>
#include <cstring>
#include <limits>

#include "definition_format.h"

namespace tolvane::defc {

namespace {

struct EBadText {
  int Line;
  int Column;
  std::string Message;
};

enum TTokenKind { tkEnd, tkWord, tkNumber, tkString, tkPunct };

// A quoted part of a string token: the offset just after its opening quote.
struct TStringPart {
  std::size_t Begin;
  int Line;
  int Column;
};

struct TToken {
  TTokenKind Kind = tkEnd;
  std::string_view Text;  // a word, a number or a punctuation character
  std::vector<TStringPart> Parts;  // adjacent quoted parts make one string
  int Line = 1;
  int Column = 1;
};

bool IsDigit(char C) { return C >= '0' && C <= '9'; }
bool IsHexDigit(char C) { return IsDigit(C) || (C >= 'a' && C <= 'f') || (C >= 'A' && C <= 'F'); }
bool IsWordChar(char C) { return IsDigit(C) || (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || C == '_' || C == '.'; }

unsigned HexValue(char C) {
  if (IsDigit(C)) return unsigned(C - '0');
  return unsigned((C | 0x20) - 'a' + 10);
}

class TLexer {
 public:
  explicit TLexer(std::string_view Text) : FText(Text) {
    if (FText.substr(0, 3) == "\xEF\xBB\xBF") FPos = 3;
  }

  std::string_view Text() const { return FText; }

  TToken Next() {
    SkipBlanks();
    TToken t;
    t.Line = FLine;
    t.Column = FColumn;
    if (FPos == FText.size()) return t;
    char c = FText[FPos];
    if (c == '"') {
      t.Kind = tkString;
      // Parts joined by "+" make one string.
      for (;;) {
        t.Parts.push_back(QuotedPart());
        SkipBlanks();
        if (FPos == FText.size() || FText[FPos] != '+') break;
        Advance();
        SkipBlanks();
        if (FPos == FText.size() || FText[FPos] != '"') Fail(FLine, FColumn, "expected a string after '+'");
      }
    } else if (IsDigit(c) || (c == '-' && FPos + 1 < FText.size() && IsDigit(FText[FPos + 1]))) {
      t.Kind = tkNumber;
      t.Text = Number();
    } else if (IsWordChar(c) && c != '.') {
      t.Kind = tkWord;
      std::size_t start = FPos;
      while (FPos < FText.size() && IsWordChar(FText[FPos])) Advance();
      t.Text = FText.substr(start, FPos - start);
      if (!IsBareWord(t.Text)) Fail(t.Line, t.Column, "a name's parts are joined by single dots: \"" + std::string(t.Text) + "\"");
    } else if (std::strchr("{}[]()=,", c) && c != '\0') {
      t.Kind = tkPunct;
      t.Text = FText.substr(FPos, 1);
      Advance();
    } else {
      Fail(t.Line, t.Column, "unexpected character " + Describe(c));
    }
    return t;
  }

  [[noreturn]] static void Fail(int Line, int Column, std::string Message) {
    throw EBadText{Line, Column, std::move(Message)};
  }

 private:
  static std::string Describe(char C) {
    auto u = static_cast<unsigned char>(C);
    if (u >= 0x21 && u < 0x7F) return std::string("'") + C + "'";
    static const char Hex[] = "0123456789ABCDEF";
    return std::string("0x") + Hex[u >> 4] + Hex[u & 15];
  }

  // Moves over one character (a whole UTF-8 sequence), checking the encoding.
  void Advance() {
    char32_t c;
    std::size_t n = DecodeUTF8(FText.substr(FPos), c);
    if (n == 0) Fail(FLine, FColumn, "the text is not valid UTF-8");
    FPos += n;
    if (c == '\n') {
      ++FLine;
      FColumn = 1;
    } else {
      ++FColumn;
    }
  }

  void SkipBlanks() {
    while (FPos < FText.size()) {
      char c = FText[FPos];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        Advance();
      } else if (c == '#') {
        while (FPos < FText.size() && FText[FPos] != '\n') Advance();
      } else {
        break;
      }
    }
  }

  std::string_view Number() {
    std::size_t start = FPos;
    int line = FLine, column = FColumn;
    auto digits = [&](bool Hex) {
      std::size_t from = FPos;
      while (FPos < FText.size() && (Hex ? IsHexDigit(FText[FPos]) : IsDigit(FText[FPos]))) Advance();
      return FPos > from;
    };
    bool ok = true;
    if (FText.substr(FPos, 2) == "0x" || FText.substr(FPos, 2) == "0X") {
      Advance(), Advance();
      ok = digits(true);
    } else {
      if (FText[FPos] == '-') Advance();
      digits(false);
      if (FPos < FText.size() && FText[FPos] == '.') {
        Advance();
        ok = digits(false);
      }
      if (ok && FPos < FText.size() && (FText[FPos] == 'e' || FText[FPos] == 'E')) {
        Advance();
        if (FPos < FText.size() && (FText[FPos] == '+' || FText[FPos] == '-')) Advance();
        ok = digits(false);
      }
    }
    if (!ok || (FPos < FText.size() && IsWordChar(FText[FPos])))
      Fail(line, column, "malformed number");
    return FText.substr(start, FPos - start);
  }

  // Checks one quoted part and moves past it; the converters read it again.
  TStringPart QuotedPart() {
    TStringPart part{FPos + 1, FLine, FColumn};
    Advance();
    for (;;) {
      if (FPos == FText.size() || FText[FPos] == '\n' || FText[FPos] == '\r')
        Fail(part.Line, part.Column, "the string is not closed on its line");
      char c = FText[FPos];
      if (c == '"') break;
      auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F) Fail(FLine, FColumn, "control character in a string: write it as an escape");
      if (c == '\\') {
        int line = FLine, column = FColumn;
        Advance();
        char e = FPos < FText.size() ? FText[FPos] : '\0';
        std::size_t hex = e == 'x' ? 2 : e == 'u' ? 4 : 0;
        if (hex) {
          Advance();
          for (std::size_t i = 0; i < hex; ++i) {
            if (FPos == FText.size() || !IsHexDigit(FText[FPos]))
              Fail(line, column, std::string("\\") + e + " needs " + std::to_string(hex) + " hexadecimal digits");
            Advance();
          }
        } else if (e == '"' || e == '\\' || e == 'n' || e == 'r' || e == 't') {
          Advance();
        } else {
          Fail(line, column, "unknown escape in a string");
        }
      } else {
        Advance();
      }
    }
    Advance();
    return part;
  }

  std::string_view FText;
  std::size_t FPos = 0;
  int FLine = 1;
  int FColumn = 1;
};

// One character of a checked quoted part: a byte (\x), a code unit (\u) or a
// character written as it is.
struct TStringChar {
  enum { Byte, Unit, Character } Kind;
  char32_t Value;
  int Column;
};

template <class F>
void ForEachChar(std::string_view Text, const TStringPart& Part, F&& Visit) {
  std::size_t pos = Part.Begin;
  int column = Part.Column + 1;
  while (Text[pos] != '"') {
    TStringChar c{TStringChar::Character, 0, column};
    if (Text[pos] == '\\') {
      char e = Text[pos + 1];
      pos += 2;
      column += 2;
      if (e == 'x' || e == 'u') {
        std::size_t n = e == 'x' ? 2 : 4;
        for (std::size_t i = 0; i < n; ++i) c.Value = c.Value << 4 | HexValue(Text[pos + i]);
        c.Kind = e == 'x' ? TStringChar::Byte : TStringChar::Unit;
        pos += n;
        column += int(n);
      } else {
        c.Value = e == 'n' ? U'\n' : e == 'r' ? U'\r' : e == 't' ? U'\t' : char32_t(e);
      }
    } else {
      pos += DecodeUTF8(Text.substr(pos), c.Value);
      ++column;
    }
    Visit(c);
  }
}

class TCompiler {
 public:
  explicit TCompiler(std::string_view Text) : FLexer(Text) {
    FToken = FLexer.Next();
    FAhead = FLexer.Next();
  }

  std::vector<std::uint8_t> Run() {
    EmitBytes(Signature);
    Component(true);
    if (FToken.Kind != tkEnd) Fail(FToken, "text after the root component");
    return std::move(FOut);
  }

 private:
  struct TLevel {
    int& Depth;
    TLevel(int& D, const TToken& At) : Depth(D) {
      if (++Depth > MaxNesting) {
        --Depth;
        Fail(At, "nested more than " + std::to_string(MaxNesting) + " levels deep");
      }
    }
    ~TLevel() { --Depth; }
  };

  [[noreturn]] static void Fail(const TToken& At, std::string Message) {
    TLexer::Fail(At.Line, At.Column, std::move(Message));
  }

  static std::string Describe(const TToken& T) {
    switch (T.Kind) {
      case tkEnd:
        return "the end of the text";
      case tkString:
        return "a string";
      case tkNumber:
        return "the number " + std::string(T.Text);
      default:
        return "'" + std::string(T.Text) + "'";
    }
  }

  [[noreturn]] void Expected(std::string_view What) const {
    Fail(FToken, "expected " + std::string(What) + ", found " + Describe(FToken));
  }

  TToken Take() {
    TToken t = std::move(FToken);
    FToken = std::move(FAhead);
    FAhead = FLexer.Next();
    return t;
  }

  bool IsPunct(const TToken& T, char C) const { return T.Kind == tkPunct && T.Text[0] == C; }
  bool IsWord(const TToken& T, std::string_view W) const { return T.Kind == tkWord && T.Text == W; }

  void ExpectPunct(char C) {
    if (!IsPunct(FToken, C)) Expected(std::string("'") + C + "'");
    Take();
  }

  void Emit(std::uint8_t B) { FOut.push_back(B); }
  void EmitLE(std::uint64_t V, std::size_t Width) {
    for (std::size_t i = 0; i < Width; ++i) Emit(std::uint8_t(V >> (8 * i)));
  }
  void EmitBytes(std::string_view S) { FOut.insert(FOut.end(), S.begin(), S.end()); }
  void EmitShortString(std::string_view S, const TToken& At) {
    if (S.size() > MaxShortString)
      Fail(At, "too long: " + std::to_string(S.size()) + " bytes where at most 255 fit");
    Emit(std::uint8_t(S.size()));
    EmitBytes(S);
  }
  void EmitCounted(std::size_t Count, const TToken& At) {
    if (Count > 0xFFFFFFFFu) Fail(At, "too long for a 4-byte length");
    EmitLE(Count, 4);
  }

  // The bytes of a string token: characters as UTF-8, \x escapes as bytes.
  std::string StringBytes(const TToken& T) const {
    std::string bytes;
    for (const TStringPart& part : T.Parts)
      ForEachChar(FLexer.Text(), part, [&](const TStringChar& c) {
        if (c.Kind == TStringChar::Byte) bytes += char(c.Value);
        else if (c.Value >= 0xD800 && c.Value <= 0xDFFF)
          TLexer::Fail(part.Line, c.Column, "a surrogate has no place in an 8-bit string");
        else AppendUTF8(bytes, c.Value);
      });
    return bytes;
  }

  std::u16string StringUnits(const TToken& T) const {
    std::u16string units;
    for (const TStringPart& part : T.Parts)
      ForEachChar(FLexer.Text(), part, [&](const TStringChar& c) {
        if (c.Kind == TStringChar::Byte)
          TLexer::Fail(part.Line, c.Column, "a wstring holds characters: write \\u, not \\x");
        if (c.Value >= 0x10000) {
          units += char16_t(0xD800 + ((c.Value - 0x10000) >> 10));
          units += char16_t(0xDC00 + ((c.Value - 0x10000) & 0x3FF));
        } else {
          units += char16_t(c.Value);
        }
      });
    return units;
  }

  // A class, component or property name, or a set element: bare or quoted.
  std::string Name(std::string_view What) {
    if (FToken.Kind == tkWord) return std::string(Take().Text);
    if (FToken.Kind == tkString) return StringBytes(Take());
    Expected(What);
  }

  std::int64_t Integer(TValueTag Tag) {
    if (FToken.Kind != tkNumber || FToken.Text.find_first_of(".eExX") != std::string_view::npos)
      Expected("an integer");
    TToken number = Take();
    std::int64_t v = 0;
    auto [end, error] = std::from_chars(number.Text.data(), number.Text.data() + number.Text.size(), v);
    if (error != std::errc() || end != number.Text.data() + number.Text.size() || !IntegerFits(v, Tag))
      Fail(number, "out of range for " + std::string(TagKeyword(Tag)));
    return v;
  }

  void EmitInteger(TValueTag Tag, std::int64_t V) {
    Emit(Tag);
    EmitLE(std::uint64_t(V), Tag == vtInt8 ? 1 : Tag == vtInt16 ? 2 : Tag == vtInt32 ? 4 : 8);
  }

  // A child position or an order value: int8, int16 or int32, the smallest
  // unless a width is named.
  void SmallInteger(std::string_view What) {
    if (FToken.Kind == tkWord) {
      TValueTag tag = FToken.Text == "int8" ? vtInt8 : FToken.Text == "int16" ? vtInt16 : FToken.Text == "int32" ? vtInt32 : vtNull;
      if (tag == vtNull) Fail(FToken, std::string(What) + " is an int8, int16 or int32 value");
      Take();
      EmitInteger(tag, Integer(tag));
      return;
    }
    std::int64_t v = Integer(vtInt32);
    EmitInteger(SmallestIntegerTag(v), v);
  }

  void Component(bool Root) {
    TLevel level(FDepth, FToken);
    TToken start = FToken;
    std::string className = Name("a class name");
    TToken nameToken = FToken;
    std::string name = Name("a component name");
    if (IsPunct(FToken, '(')) {
      Prefix();
    } else if (className.size() >= PrefixMarker) {
      Fail(start, "a class name of 240 bytes or more needs a prefix: add \"()\" after the component name");
    } else if (!Root && className.empty()) {
      Fail(start, "a child with an empty class name needs a prefix: add \"()\" after the component name");
    }
    EmitShortString(className, start);
    EmitShortString(name, nameToken);
    ExpectPunct('{');
    bool children = false;
    for (;;) {
      if (IsPunct(FToken, '}')) break;
      if (FToken.Kind != tkWord && FToken.Kind != tkString) Expected("a property, a child component or '}'");
      if (IsPunct(FAhead, '=')) {
        if (children) Fail(FToken, "properties come before the child components");
        Property();
      } else {
        if (!children) Emit(vtNull);
        children = true;
        Component(false);
      }
    }
    Take();
    if (!children) Emit(vtNull);
    Emit(vtNull);
  }

  void Prefix() {
    Take();
    std::size_t marker = FOut.size();
    Emit(PrefixMarker);
    std::uint8_t flags = 0;
    while (!IsPunct(FToken, ')')) {
      if (flags) ExpectPunct(',');
      TToken word = FToken;
      std::uint8_t flag = IsWord(word, "inherited") ? FlagInherited
                          : IsWord(word, "position")  ? FlagChildPos
                          : IsWord(word, "inline")    ? FlagInline
                          : IsWord(word, "flag8")     ? FlagUnassigned
                                                      : 0;
      if (!flag) Expected("inherited, position, inline or flag8");
      if (flags & flag) Fail(word, std::string(word.Text) + " is given twice");
      flags |= flag;
      Take();
      // Only the position stores anything after the prefix byte.
      if (flag == FlagChildPos) SmallInteger("a child position");
    }
    Take();
    FOut[marker] = std::uint8_t(PrefixMarker | flags);
  }

  void Property() {
    TToken at = FToken;
    std::string name = Name("a property name");
    if (name.empty()) Fail(at, "a property name cannot be empty");
    EmitShortString(name, at);
    ExpectPunct('=');
    Value(true);
  }

  void Value(bool NullAllowed) {
    TToken at = FToken;
    switch (FToken.Kind) {
      case tkNumber:
        if (FToken.Text.find_first_of("xX") != std::string_view::npos)
          Fail(FToken, "a bit pattern needs its kind before it: single, double, extended or date");
        if (FToken.Text.find_first_of(".eE") != std::string_view::npos) Float(vtDouble);
        else {
          std::int64_t v = Integer(vtInt64);
          EmitInteger(SmallestIntegerTag(v), v);
        }
        return;
      case tkString: {
        std::string bytes = StringBytes(Take());
        EmitString(DefaultStringTag(bytes), bytes, at);
        return;
      }
      case tkPunct:
        if (IsPunct(FToken, '[')) return List();
        Expected("a value");
      case tkWord:
        break;
      case tkEnd:
        Expected("a value");
    }
    std::string_view word = FToken.Text;
    if (!IsKeyword(word)) {
      Emit(vtIdent);
      EmitShortString(word, at);
      Take();
      return;
    }
    Take();
    TValueTag tag = vtNull;
    while (TagKeyword(tag) != word) tag = TValueTag(tag + 1);
    switch (tag) {
      case vtNull:
        if (!NullAllowed) Fail(at, "null would end the list: it cannot be a list element");
        [[fallthrough]];
      case vtFalse:
      case vtTrue:
      case vtNil:
        Emit(tag);
        return;
      case vtInt8:
      case vtInt16:
      case vtInt32:
      case vtInt64:
        EmitInteger(tag, Integer(tag));
        return;
      case vtSingle:
      case vtDouble:
      case vtDate:
      case vtExtended:
        Float(tag);
        return;
      case vtCurrency: {
        if (FToken.Kind != tkNumber) Expected("a number");
        std::int64_t v;
        if (!ParseCurrency(FToken.Text, v))
          Fail(FToken, "a currency value is a decimal with at most four fraction digits, within range");
        Take();
        Emit(vtCurrency);
        EmitLE(std::uint64_t(v), 8);
        return;
      }
      case vtString:
      case vtLString:
      case vtUTF8String:
        if (FToken.Kind != tkString) Expected("a string");
        EmitString(tag, StringBytes(FToken), FToken);
        Take();
        return;
      case vtWString: {
        if (FToken.Kind != tkString) Expected("a string");
        std::u16string units = StringUnits(FToken);
        Emit(vtWString);
        EmitCounted(units.size(), FToken);
        for (char16_t u : units) EmitLE(u, 2);
        Take();
        return;
      }
      case vtIdent: {
        TToken name = FToken;
        std::string ident = Name("an identifier");
        Emit(vtIdent);
        EmitShortString(ident, name);
        return;
      }
      case vtBinary:
        Binary();
        return;
      case vtSet:
        Set();
        return;
      case vtCollection:
        Collection(at);
        return;
      default:
        Fail(at, "unexpected " + std::string(word));
    }
  }

  void EmitString(TValueTag Tag, std::string_view Bytes, const TToken& At) {
    Emit(Tag);
    if (Tag == vtString) {
      EmitShortString(Bytes, At);
    } else {
      EmitCounted(Bytes.size(), At);
      EmitBytes(Bytes);
    }
  }

  void Float(TValueTag Tag) {
    if (FToken.Kind != tkNumber) Expected("a number");
    TToken number = Take();
    std::uint8_t bytes[10];
    std::string_view text = number.Text;
    if (text.size() > 2 && (text[1] == 'x' || text[1] == 'X')) {
      if (!ParseFloatBits(Tag, text.substr(2), bytes))
        Fail(number, "the bits of " + std::string(TagKeyword(Tag)) + " are " + std::to_string(2 * FloatWidth(Tag)) +
                         " hexadecimal digits");
    } else if (!ParseFloatDecimal(Tag, text, bytes)) {
      Fail(number, "out of range for " + std::string(TagKeyword(Tag)));
    }
    Emit(Tag);
    FOut.insert(FOut.end(), bytes, bytes + FloatWidth(Tag));
  }

  void Binary() {
    if (FToken.Kind != tkString) Expected("a string of hexadecimal digits");
    TToken token = Take();
    std::string bytes;
    int pending = -1;
    for (const TStringPart& part : token.Parts)
      ForEachChar(FLexer.Text(), part, [&](const TStringChar& c) {
        if (c.Kind == TStringChar::Character && (c.Value == ' ' || c.Value == '\t')) return;
        if (c.Kind != TStringChar::Character || c.Value > 0x7F || !IsHexDigit(char(c.Value)))
          TLexer::Fail(part.Line, c.Column, "binary data is written as hexadecimal digits");
        unsigned v = HexValue(char(c.Value));
        if (pending < 0) {
          pending = int(v);
        } else {
          bytes += char(pending << 4 | int(v));
          pending = -1;
        }
      });
    if (pending >= 0) Fail(token, "binary data needs an even number of hexadecimal digits");
    Emit(vtBinary);
    EmitCounted(bytes.size(), token);
    EmitBytes(bytes);
  }

  void Set() {
    ExpectPunct('[');
    Emit(vtSet);
    bool first = true;
    while (!IsPunct(FToken, ']')) {
      if (!first) ExpectPunct(',');
      first = false;
      TToken at = FToken;
      std::string element = Name("a set element");
      if (element.empty()) Fail(at, "a set element cannot be empty");
      EmitShortString(element, at);
    }
    Take();
    Emit(0);
  }

  void List() {
    TLevel level(FDepth, FToken);
    Take();
    Emit(vtList);
    bool first = true;
    while (!IsPunct(FToken, ']')) {
      if (!first) ExpectPunct(',');
      first = false;
      Value(false);
    }
    Take();
    Emit(vtNull);
  }

  void Collection(const TToken& At) {
    TLevel level(FDepth, At);
    ExpectPunct('{');
    Emit(vtCollection);
    while (!IsPunct(FToken, '}')) {
      if (!IsWord(FToken, "item")) Expected("'item' or '}'");
      TLevel itemLevel(FDepth, FToken);
      Take();
      if (!IsPunct(FToken, '{')) SmallInteger("an order value");
      ExpectPunct('{');
      Emit(vtList);
      while (!IsPunct(FToken, '}')) {
        if (FToken.Kind != tkWord && FToken.Kind != tkString) Expected("a property or '}'");
        Property();
      }
      Take();
      Emit(vtNull);
    }
    Take();
    Emit(vtNull);
  }

  TLexer FLexer;
  TToken FToken;
  TToken FAhead;
  std::vector<std::uint8_t> FOut;
  int FDepth = 0;
};

}  // namespace

TCompileResult CompileDefinition(std::string_view Text) {
  TCompileResult result;
  try {
    result.Bytes = TCompiler(Text).Run();
    result.Ok = true;
  } catch (EBadText& E) {
    result.Bytes.clear();
    result.Line = E.Line;
    result.Column = E.Column;
    result.Message = std::move(E.Message);
  }
  return result;
}

}  // namespace tolvane::defc
