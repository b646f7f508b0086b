#include "definition_decompiler.h"

#include <string_view>

#include "definition_format.h"

namespace tolvane::defc {

namespace {

struct EBadBytes {
  std::size_t Offset;
  std::string Message;
};

class TDecompiler {
 public:
  explicit TDecompiler(std::span<const std::uint8_t> Bytes) : FData(Bytes) {}

  std::string Run() {
    if (FData.size() < Signature.size() || std::string_view(reinterpret_cast<const char*>(FData.data()), 4) != Signature)
      throw EBadBytes{0, "not a stored definition: it does not begin with \"TPF0\""};
    FPos = Signature.size();
    Component(0);
    if (FPos != FData.size())
      throw EBadBytes{FPos, "unexpected data after the root component"};
    FOut += '\n';
    return std::move(FOut);
  }

 private:
  struct TLevel {
    int& Depth;
    TLevel(int& D, std::size_t Offset) : Depth(D) {
      if (++Depth > MaxNesting) {
        --Depth;
        throw EBadBytes{Offset, "nested more than " + std::to_string(MaxNesting) + " levels deep"};
      }
    }
    ~TLevel() { --Depth; }
  };

  void Need(std::size_t Count, std::size_t Start, std::string_view What) const {
    if (Count > FData.size() - FPos) throw EBadBytes{Start, std::string(What) + " runs past the end of the data"};
  }

  std::uint8_t Peek(std::string_view What) const {
    Need(1, FPos, What);
    return FData[FPos];
  }

  std::uint8_t Byte(std::string_view What) {
    std::uint8_t b = Peek(What);
    ++FPos;
    return b;
  }

  std::uint64_t Unsigned(std::size_t Width, std::size_t Start, std::string_view What) {
    Need(Width, Start, What);
    std::uint64_t v = 0;
    for (std::size_t i = Width; i-- > 0;) v = v << 8 | FData[FPos + i];
    FPos += Width;
    return v;
  }

  std::string_view Bytes(std::size_t Count, std::size_t Start, std::string_view What) {
    Need(Count, Start, What);
    std::string_view s(reinterpret_cast<const char*>(FData.data() + FPos), Count);
    FPos += Count;
    return s;
  }

  std::string_view ShortString(std::string_view What) {
    std::size_t start = FPos;
    std::size_t n = Byte(What);
    return Bytes(n, start, What);
  }

  // The payload of a 4-byte counted value.
  std::string_view Counted(std::size_t Start, std::string_view What) {
    std::size_t n = std::size_t(Unsigned(4, Start, What));
    return Bytes(n, Start, What);
  }

  void NewLine(int Indent) {
    FOut += '\n';
    FOut.append(std::size_t(Indent) * 2, ' ');
  }

  // An integer value whose tag byte has been read; the width is written
  // only when it is not the one the number would get anyway.
  void Integer(TValueTag Tag, std::size_t Start) {
    static constexpr std::size_t Widths[] = {0, 0, 1, 2, 4};
    std::size_t width = Tag == vtInt64 ? 8 : Widths[Tag];
    std::uint64_t raw = Unsigned(width, Start, TagKeyword(Tag));
    unsigned shift = unsigned(64 - 8 * width);
    std::int64_t v = std::int64_t(raw << shift) >> shift;
    if (Tag != SmallestIntegerTag(v)) {
      FOut += TagKeyword(Tag);
      FOut += ' ';
    }
    FOut += std::to_string(v);
  }

  // A tagged integer where only int8, int16 and int32 may stand (child
  // positions and order values).
  void SmallInteger(std::string_view What) {
    std::size_t start = FPos;
    auto tag = TValueTag(Byte(What));
    if (tag != vtInt8 && tag != vtInt16 && tag != vtInt32)
      throw EBadBytes{start, std::string(What) + " must be an int8, int16 or int32 value"};
    Integer(tag, start);
  }

  void Component(int Indent) {
    std::size_t start = FPos;
    TLevel level(FDepth, start);
    std::string modifiers;
    if (Peek("a component") >= PrefixMarker) {
      std::uint8_t flags = Byte("a component") & 0x0F;
      std::string position;
      if (flags & FlagChildPos) {
        std::swap(FOut, position);
        SmallInteger("a child position");
        std::swap(FOut, position);
      }
      modifiers = " (";
      auto add = [&](std::string_view Word) {
        if (modifiers.size() > 2) modifiers += ", ";
        modifiers += Word;
      };
      if (flags & FlagInherited) add("inherited");
      if (flags & FlagChildPos) add("position " + position);
      if (flags & FlagInline) add("inline");
      if (flags & FlagUnassigned) add("flag8");
      modifiers += ')';
    }
    std::string_view className = ShortString("a class name");
    std::string_view name = ShortString("a component name");
    AppendName(FOut, className);
    FOut += ' ';
    AppendName(FOut, name);
    FOut += modifiers;
    FOut += " {";
    bool empty = true;
    while (Peek("a property list") != vtNull) {
      Property(Indent + 1);
      empty = false;
    }
    ++FPos;
    while (Peek("a child list") != vtNull) {
      NewLine(Indent + 1);
      Component(Indent + 1);
      empty = false;
    }
    ++FPos;
    if (!empty) NewLine(Indent);
    FOut += '}';
  }

  void Property(int Indent) {
    NewLine(Indent);
    AppendName(FOut, ShortString("a property name"));
    FOut += " = ";
    Value(Indent);
  }

  void Value(int Indent) {
    std::size_t start = FPos;
    auto tag = TValueTag(Byte("a value"));
    switch (tag) {
      case vtNull:
      case vtFalse:
      case vtTrue:
      case vtNil:
        FOut += TagKeyword(tag);
        break;
      case vtInt8:
      case vtInt16:
      case vtInt32:
      case vtInt64:
        Integer(tag, start);
        break;
      case vtSingle:
      case vtDouble:
      case vtDate:
      case vtExtended: {
        std::string_view raw = Bytes(FloatWidth(tag), start, TagKeyword(tag));
        auto* bytes = reinterpret_cast<const std::uint8_t*>(raw.data());
        auto decimal = FloatDecimal(tag, bytes);
        if (tag == vtDouble && decimal) {
          // A plain number with a point or an exponent is a double.
          if (decimal->find_first_of(".e") == std::string::npos) *decimal += ".0";
        } else {
          FOut += TagKeyword(tag);
          FOut += ' ';
        }
        FOut += decimal ? *decimal : FloatBits(tag, bytes);
        break;
      }
      case vtCurrency:
        FOut += "currency ";
        FOut += CurrencyText(std::int64_t(Unsigned(8, start, "a currency value")));
        break;
      case vtString:
      case vtLString:
      case vtUTF8String: {
        std::string_view text = tag == vtString ? ShortString("a string") : Counted(start, TagKeyword(tag));
        if (DefaultStringTag(text) != tag) {
          FOut += TagKeyword(tag);
          FOut += ' ';
        }
        AppendQuoted(FOut, text, tag == vtUTF8String);
        break;
      }
      case vtWString: {
        std::uint64_t count = Unsigned(4, start, "a wstring");
        std::string_view raw = Bytes(std::size_t(count * 2), start, "a wstring");
        std::u16string units(std::size_t(count), u'\0');
        for (std::size_t i = 0; i < units.size(); ++i)
          units[i] = char16_t(std::uint8_t(raw[2 * i]) | std::uint8_t(raw[2 * i + 1]) << 8);
        FOut += "wstring ";
        AppendQuotedWide(FOut, units);
        break;
      }
      case vtIdent: {
        std::string_view ident = ShortString("an identifier");
        if (IsBareWord(ident) && !IsKeyword(ident)) {
          FOut += ident;
        } else {
          FOut += "ident ";
          AppendQuoted(FOut, ident, true);
        }
        break;
      }
      case vtBinary:
        Binary(Counted(start, "binary data"), Indent);
        break;
      case vtSet: {
        FOut += "set [";
        bool first = true;
        for (std::string_view element = ShortString("a set element"); !element.empty();
             element = ShortString("a set element")) {
          if (!first) FOut += ", ";
          first = false;
          AppendName(FOut, element);
        }
        FOut += ']';
        break;
      }
      case vtList:
        List(start, Indent);
        break;
      case vtCollection:
        Collection(start, Indent);
        break;
      default: {
        static const char Hex[] = "0123456789ABCDEF";
        throw EBadBytes{start, std::string("unknown value tag 0x") + Hex[tag >> 4] + Hex[tag & 15]};
      }
    }
  }

  void Binary(std::string_view Data, int Indent) {
    static const char Hex[] = "0123456789ABCDEF";
    constexpr std::size_t Line = 32;
    FOut += "binary ";
    for (std::size_t i = 0; i == 0 || i < Data.size(); i += Line) {
      if (i > 0) {
        FOut += " +";
        NewLine(Indent + 1);
      }
      FOut += '"';
      for (std::size_t j = i; j < Data.size() && j < i + Line; ++j) {
        auto b = std::uint8_t(Data[j]);
        FOut += Hex[b >> 4];
        FOut += Hex[b & 15];
      }
      FOut += '"';
    }
  }

  void List(std::size_t Start, int Indent) {
    TLevel level(FDepth, Start);
    FOut += '[';
    bool first = true;
    while (Peek("a list") != vtNull) {
      if (!first) FOut += ',';
      first = false;
      NewLine(Indent + 1);
      Value(Indent + 1);
    }
    ++FPos;
    if (!first) NewLine(Indent);
    FOut += ']';
  }

  void Collection(std::size_t Start, int Indent) {
    TLevel level(FDepth, Start);
    FOut += "collection {";
    bool empty = true;
    while (Peek("a collection") != vtNull) {
      empty = false;
      std::size_t itemStart = FPos;
      TLevel itemLevel(FDepth, itemStart);
      NewLine(Indent + 1);
      FOut += "item";
      auto tag = TValueTag(Peek("a collection item"));
      if (tag == vtInt8 || tag == vtInt16 || tag == vtInt32) {
        FOut += ' ';
        SmallInteger("an order value");
      }
      if (Peek("a collection item") != vtList)
        throw EBadBytes{FPos, "a collection item must open with a list tag (0x01)"};
      ++FPos;
      FOut += " {";
      bool emptyItem = true;
      while (Peek("a collection item") != vtNull) {
        Property(Indent + 2);
        emptyItem = false;
      }
      ++FPos;
      if (!emptyItem) NewLine(Indent + 1);
      FOut += '}';
    }
    ++FPos;
    if (!empty) NewLine(Indent);
    FOut += '}';
  }

  std::span<const std::uint8_t> FData;
  std::size_t FPos = 0;
  int FDepth = 0;
  std::string FOut;
};

}  // namespace

TDecompileResult DecompileDefinition(std::span<const std::uint8_t> Bytes) {
  TDecompileResult result;
  try {
    result.Text = TDecompiler(Bytes).Run();
    result.Ok = true;
  } catch (EBadBytes& E) {
    result.Offset = E.Offset;
    result.Message = std::move(E.Message);
  }
  return result;
}

}  // namespace tolvane::defc
