#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "definition_compiler.h"
#include "definition_decompiler.h"
#include <tolvane/streaming/reader.h>
#include "support/definition_writer.h"

using namespace tolvane::defc;
using TBytes = std::vector<std::uint8_t>;
using namespace std::string_view_literals;

namespace {

TBytes Hex(std::string_view Text) {
  TBytes bytes;
  for (std::size_t i = 0; i < Text.size();) {
    if (Text[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(std::uint8_t(std::stoi(std::string(Text.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

TBytes Concat(std::initializer_list<TBytes> Parts) {
  TBytes all;
  for (const TBytes& p : Parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TBytes Raw(std::string_view S) { return TBytes(S.begin(), S.end()); }

// A root "T" named "N" with the one property P.
TBytes OneProperty(const TBytes& Value) { return Concat({Raw("TPF0\x01T\x01N\x01P"sv), Value, {0, 0}}); }
std::string OnePropertyText(std::string_view Value) { return "T N {\n  P = " + std::string(Value) + "\n}\n"; }

std::string Compiled(std::string_view Text) {
  TCompileResult r = CompileDefinition(Text);
  return r.Ok ? "" : std::to_string(r.Line) + ":" + std::to_string(r.Column) + ": " + r.Message;
}

std::string Decompiled(const TBytes& Bytes) {
  TDecompileResult r = DecompileDefinition(Bytes);
  return r.Ok ? "" : std::to_string(r.Offset) + ": " + r.Message;
}

std::string HexOf(const TBytes& Bytes) {
  static const char Digits[] = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t b : Bytes) {
    if (!s.empty()) s += ' ';
    s += Digits[b >> 4];
    s += Digits[b & 15];
  }
  return s;
}

struct TValueCase {
  const char* Text;
  const char* Hex;
  const char* Canonical;  // what decompiling writes, when not Text itself
};

// Every kind of value, written both the plain way and with the tag or width
// named; Canonical shows where the decompiler names it and where not.
const TValueCase ValueCases[] = {
    {"0", "02 00", nullptr},
    {"127", "02 7F", nullptr},
    {"-128", "02 80", nullptr},
    {"128", "03 80 00", nullptr},
    {"-129", "03 7F FF", nullptr},
    {"230", "03 E6 00", nullptr},
    {"32768", "04 00 80 00 00", nullptr},
    {"-2147483648", "04 00 00 00 80", nullptr},
    {"2147483648", "13 00 00 00 80 00 00 00 00", nullptr},
    {"-9223372036854775808", "13 00 00 00 00 00 00 00 80", nullptr},
    {"int16 5", "03 05 00", nullptr},
    {"int32 -1", "04 FF FF FF FF", nullptr},
    {"int64 1", "13 01 00 00 00 00 00 00 00", nullptr},
    {"int8 -128", "02 80", "-128"},
    {"int16 230", "03 E6 00", "230"},
    {"1.5", "15 00 00 00 00 00 00 F8 3F", nullptr},
    {"-0.0", "15 00 00 00 00 00 00 00 80", nullptr},
    {"1e+100", "15 7D C3 94 25 AD 49 B2 54", nullptr},
    {"1E100", "15 7D C3 94 25 AD 49 B2 54", "1e+100"},
    {"double 2", "15 00 00 00 00 00 00 00 40", "2.0"},
    {"double 0x7FF0000000000000", "15 00 00 00 00 00 00 F0 7F", nullptr},
    {"double 0x7ff8000000000001", "15 01 00 00 00 00 00 F8 7F", "double 0x7FF8000000000001"},
    {"single 1.5", "0F 00 00 C0 3F", nullptr},
    {"single 0.1", "0F CD CC CC 3D", nullptr},
    {"single 0xFFC00000", "0F 00 00 C0 FF", nullptr},
    {"extended 1.5", "05 00 00 00 00 00 00 00 C0 FF 3F", nullptr},
    {"extended 0.1", "05 CD CC CC CC CC CC CC CC FB 3F", nullptr},
    {"extended -0", "05 00 00 00 00 00 00 00 00 00 80", nullptr},
    // An unnormal number (no integer bit) has no decimal form that keeps it.
    {"extended 0x40000000000000000000", "05 00 00 00 00 00 00 00 00 00 40", nullptr},
    {"date 45000.5", "11 00 00 00 00 10 F9 E5 40", nullptr},
    {"currency 1.5", "10 98 3A 00 00 00 00 00 00", nullptr},
    {"currency 0", "10 00 00 00 00 00 00 00 00", nullptr},
    {"currency -0.0001", "10 FF FF FF FF FF FF FF FF", nullptr},
    {"currency -922337203685477.5808", "10 00 00 00 00 00 00 00 80", nullptr},
    {"\"abc\"", "06 03 61 62 63", nullptr},
    {"\"\"", "06 00", nullptr},
    {"string \"\\xE9\"", "06 01 E9", nullptr},
    {"string \"\u00e9\"", "06 02 C3 A9", "string \"\\xC3\\xA9\""},
    {"lstring \"A\"", "0C 01 00 00 00 41", nullptr},
    {"utf8 \"abc\"", "14 03 00 00 00 61 62 63", nullptr},
    {"\"\u00e9\"", "14 02 00 00 00 C3 A9", nullptr},
    {"\"\\u00e9\"", "14 02 00 00 00 C3 A9", "\"\u00e9\""},
    {"\"\\xFF\"", "14 01 00 00 00 FF", nullptr},
    {"utf8 \"\\x80\"", "14 01 00 00 00 80", "\"\\x80\""},
    {"\"tab\\there \\\"q\\\" back\\\\slash\\n\"", "06 18 74 61 62 09 68 65 72 65 20 22 71 22 20 62 61 63 6B 5C 73 6C 61 73 68 0A",
     nullptr},
    {"\"\\x01\\x7F\"", "06 02 01 7F", nullptr},
    {"\"split\" + \" parts\"", "06 0B 73 70 6C 69 74 20 70 61 72 74 73", "\"split parts\""},
    {"wstring \"a\u00e9\"", "12 02 00 00 00 61 00 E9 00", nullptr},
    {"wstring \"\U0001F600\"", "12 02 00 00 00 3D D8 00 DE", nullptr},
    {"wstring \"\\uD83D\\uDE00\"", "12 02 00 00 00 3D D8 00 DE", "wstring \"\U0001F600\""},
    {"wstring \"\\uD800\"", "12 01 00 00 00 00 D8", nullptr},
    {"wstring \"\\u0001\"", "12 01 00 00 00 01 00", nullptr},
    {"wstring \"\"", "12 00 00 00 00", nullptr},
    {"Foo", "07 03 46 6F 6F", nullptr},
    {"Other.Thing", "07 0B 4F 74 68 65 72 2E 54 68 69 6E 67", nullptr},
    {"ident Foo", "07 03 46 6F 6F", "Foo"},
    {"True", "07 04 54 72 75 65", nullptr},
    {"ident \"true\"", "07 04 74 72 75 65", nullptr},
    {"ident \"\"", "07 00", nullptr},
    {"ident \"a b\"", "07 03 61 20 62", nullptr},
    {"true", "09", nullptr},
    {"false", "08", nullptr},
    {"nil", "0D", nullptr},
    {"null", "00", nullptr},
    {"set []", "0B 00", nullptr},
    {"set [a, Bb]", "0B 01 61 02 42 62 00", nullptr},
    {"set [\"odd name\", date]", "0B 08 6F 64 64 20 6E 61 6D 65 04 64 61 74 65 00", nullptr},
    {"[]", "01 00", nullptr},
    {"[1, \"x\"]", "01 02 01 06 01 78 00", "[\n    1,\n    \"x\"\n  ]"},
    {"[[], nil, set [a]]", "01 01 00 0D 0B 01 61 00 00", "[\n    [],\n    nil,\n    set [a]\n  ]"},
    {"binary \"\"", "0A 00 00 00 00", nullptr},
    {"binary \"00ff 7A\"", "0A 03 00 00 00 00 FF 7A", "binary \"00FF7A\""},
    {"binary \"000102030405060708090A0B0C0D0E0F\" +\n \"101112131415161718191A1B1C1D1E1F20\"",
     "0A 21 00 00 00 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20",
     "binary \"000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F\" +\n    \"20\""},
    {"collection {}", "0E 00", nullptr},
    {"collection { item {} }", "0E 01 00 00", "collection {\n    item {}\n  }"},
    {"collection { item int16 7 { A = 1 } item -1 { B = nil } }",
     "0E 03 07 00 01 01 41 02 01 00 02 FF 01 01 42 0D 00 00",
     "collection {\n    item int16 7 {\n      A = 1\n    }\n    item -1 {\n      B = nil\n    }\n  }"},
    {"[collection {}]", "01 0E 00 00", "[\n    collection {}\n  ]"},
};

TEST(DefinitionText, EveryValueKindBothWays) {
  for (const TValueCase& c : ValueCases) {
    SCOPED_TRACE(c.Text);
    TBytes value = Hex(c.Hex);
    TBytes bytes = OneProperty(value);
    TCompileResult compiled = CompileDefinition(OnePropertyText(c.Text));
    ASSERT_TRUE(compiled.Ok) << compiled.Line << ":" << compiled.Column << ": " << compiled.Message;
    EXPECT_EQ(HexOf(compiled.Bytes), HexOf(bytes));
    TDecompileResult decompiled = DecompileDefinition(bytes);
    ASSERT_TRUE(decompiled.Ok) << decompiled.Offset << ": " << decompiled.Message;
    EXPECT_EQ(decompiled.Text, OnePropertyText(c.Canonical ? c.Canonical : c.Text));
    // The library's reader agrees on where every value ends.
    tolvane::TReader reader(value);
    reader.SkipValue();
    EXPECT_EQ(reader.Position(), value.size());
  }
}

TEST(DefinitionText, LongAsciiTextIsAnLStringUnlessNamedOtherwise) {
  std::string text(300, 'a');
  TBytes expected = Concat({Hex("0C 2C 01 00 00"), Raw(text)});
  TCompileResult r = CompileDefinition(OnePropertyText("\"" + text + "\""));
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.Bytes, OneProperty(expected));
  EXPECT_EQ(DecompileDefinition(r.Bytes).Text, OnePropertyText("\"" + text + "\""));
  // 255 bytes still fit a short string; 256 do not.
  EXPECT_EQ(Compiled(OnePropertyText("string \"" + std::string(255, 'a') + "\"")), "");
  EXPECT_EQ(Compiled(OnePropertyText("string \"" + std::string(256, 'a') + "\"")),
            "2:14: too long: 256 bytes where at most 255 fit");
  TBytes utf8 = Concat({Hex("14 2C 01 00 00"), Raw(text)});
  EXPECT_EQ(DecompileDefinition(OneProperty(utf8)).Text, OnePropertyText("utf8 \"" + text + "\""));
}

struct TComponentCase {
  const char* Text;
  const char* Hex;  // after the signature
  const char* Canonical;
};

const TComponentCase ComponentCases[] = {
    {"T N {}", "01 54 01 4E 00 00", nullptr},
    {"T N () {}", "F0 01 54 01 4E 00 00", nullptr},
    {"T N (inherited, inline, flag8) {}", "FD 01 54 01 4E 00 00", nullptr},
    {"T N (position 3) {}", "F2 02 03 01 54 01 4E 00 00", nullptr},
    {"T N (position int32 3, inherited) {}", "F3 04 03 00 00 00 01 54 01 4E 00 00", "T N (inherited, position int32 3) {}"},
    {"\"\" \"\" {}", "00 00 00 00", nullptr},
    {"\"my class\" \"a-b\" {}", "08 6D 79 20 63 6C 61 73 73 03 61 2D 62 00 00", nullptr},
    {"T N {\n  Font.Name = 1\n  \"x y\" = 2\n}", "01 54 01 4E 09 46 6F 6E 74 2E 4E 61 6D 65 02 01 03 78 20 79 02 02 00 00",
     nullptr},
    {"T N {\n  P = 1\n  C D {}\n  E F (inline, position -2) {\n    Q = 2\n    G H {}\n  }\n}",
     "01 54 01 4E 01 50 02 01 00 01 43 01 44 00 00 F6 02 FE 01 45 01 46 01 51 02 02 00 01 47 01 48 00 00 00 00",
     "T N {\n  P = 1\n  C D {}\n  E F (position -2, inline) {\n    Q = 2\n    G H {}\n  }\n}"},
    {"T N {\n  \"\" \"\" () {}\n}", "01 54 01 4E 00 F0 00 00 00 00 00", nullptr},
    // Names that look like keywords are names where a name stands.
    {"collection item {\n  date = set [null]\n}", "0A 63 6F 6C 6C 65 63 74 69 6F 6E 04 69 74 65 6D 04 64 61 74 65 0B 04 6E 75 6C 6C 00 00 00",
     nullptr},
};

TEST(DefinitionText, ComponentsWithPrefixesNamesAndChildren) {
  for (const TComponentCase& c : ComponentCases) {
    SCOPED_TRACE(c.Text);
    TBytes bytes = Concat({Raw("TPF0"sv), Hex(c.Hex)});
    TCompileResult compiled = CompileDefinition(c.Text);
    ASSERT_TRUE(compiled.Ok) << compiled.Line << ":" << compiled.Column << ": " << compiled.Message;
    EXPECT_EQ(HexOf(compiled.Bytes), HexOf(bytes));
    TDecompileResult decompiled = DecompileDefinition(bytes);
    ASSERT_TRUE(decompiled.Ok) << decompiled.Offset << ": " << decompiled.Message;
    EXPECT_EQ(decompiled.Text, std::string(c.Canonical ? c.Canonical : c.Text) + "\n");
  }
}

std::string Nested(int Depth, const std::string& Open, const std::string& Close) {
  std::string s;
  for (int i = 0; i < Depth; ++i) s += Open;
  for (int i = 0; i < Depth; ++i) s += Close;
  return s;
}

struct TErrorCase {
  std::string Text;
  const char* Error;
};

const TErrorCase TextErrors[] = {
    {"", "1:1: expected a class name, found the end of the text"},
    {"T", "1:2: expected a component name, found the end of the text"},
    {"T N {", "1:6: expected a property, a child component or '}', found the end of the text"},
    {"T N { P = }", "1:11: expected a value, found '}'"},
    {"T N { P 1 }", "1:9: expected a component name, found the number 1"},
    {"T N {} extra", "1:8: text after the root component"},
    {"# a comment\nT N {\n  P = 1\n  Q =\n}", "5:1: expected a value, found '}'"},
    {"T N { P = int8 128 }", "1:16: out of range for int8"},
    {"T N { P = int16 -32769 }", "1:17: out of range for int16"},
    {"T N { P = int32 2147483648 }", "1:17: out of range for int32"},
    {"T N { P = 9223372036854775808 }", "1:11: out of range for int64"},
    {"T N { P = int8 1.5 }", "1:16: expected an integer, found the number 1.5"},
    {"T N { P = 12ab }", "1:11: malformed number"},
    {"T N { P = 1. }", "1:11: malformed number"},
    {"T N { P = 0x12 }", "1:11: a bit pattern needs its kind before it: single, double, extended or date"},
    {"T N { P = double 0x12 }", "1:18: the bits of double are 16 hexadecimal digits"},
    {"T N { P = 1e999 }", "1:11: out of range for double"},
    {"T N { P = single 1e39 }", "1:18: out of range for single"},
    {"T N { P = currency 1.23456 }",
     "1:20: a currency value is a decimal with at most four fraction digits, within range"},
    {"T N { P = currency 922337203685477.5808 }",
     "1:20: a currency value is a decimal with at most four fraction digits, within range"},
    {"T N { P = \"abc }", "1:11: the string is not closed on its line"},
    {"T N { P = \"abc\n\" }", "1:11: the string is not closed on its line"},
    {"T N { P = \"\\q\" }", "1:12: unknown escape in a string"},
    {"T N { P = \"\\x4\" }", "1:12: \\x needs 2 hexadecimal digits"},
    {"T N { P = \"\\u12\" }", "1:12: \\u needs 4 hexadecimal digits"},
    {"T N { P = \"a\tb\" }", "1:13: control character in a string: write it as an escape"},
    {"T N { P = wstring \"ab\\x41\" }", "1:22: a wstring holds characters: write \\u, not \\x"},
    {"T N { P = \"\u00e9\\uD800\" }", "1:13: a surrogate has no place in an 8-bit string"},
    {"T N { P = string 5 }", "1:18: expected a string, found the number 5"},
    {"T N { P = [null] }", "1:12: null would end the list: it cannot be a list element"},
    {"T N { P = [1 2] }", "1:14: expected ',', found the number 2"},
    {"T N { P = binary \"0g\" }", "1:20: binary data is written as hexadecimal digits"},
    {"T N { P = binary \"0\" }", "1:18: binary data needs an even number of hexadecimal digits"},
    {"T N { P = set [a, \"\"] }", "1:19: a set element cannot be empty"},
    {"T N { P = set [1] }", "1:16: expected a set element, found the number 1"},
    {"T N { \"\" = 1 }", "1:7: a property name cannot be empty"},
    {"T N { P = collection { P = 1 } }", "1:24: expected 'item' or '}', found 'P'"},
    {"T N { P = collection { item int64 1 {} } }", "1:29: an order value is an int8, int16 or int32 value"},
    {"T N { P = collection { item 2147483648 {} } }", "1:29: out of range for int32"},
    {"T N { P = collection { item { C D {} } } }", "1:33: expected '=', found 'D'"},
    {"T N (position int64 1) {}", "1:15: a child position is an int8, int16 or int32 value"},
    {"T N (inline, inline) {}", "1:14: inline is given twice"},
    {"T N (sideways) {}", "1:6: expected inherited, position, inline or flag8, found 'sideways'"},
    {"T N (inline inherited) {}", "1:13: expected ',', found 'inherited'"},
    {"T N { C D {} P = 1 }", "1:14: properties come before the child components"},
    {"T N { \"\" C {} }", "1:7: a child with an empty class name needs a prefix: add \"()\" after the component name"},
    {"\"" + std::string(240, 'a') + "\" N {}",
     "1:1: a class name of 240 bytes or more needs a prefix: add \"()\" after the component name"},
    {"T \"" + std::string(256, 'a') + "\" {}", "1:3: too long: 256 bytes where at most 255 fit"},
    {"T N { P = a..b }", "1:11: a name's parts are joined by single dots: \"a..b\""},
    {"T N { P = a. }", "1:11: a name's parts are joined by single dots: \"a.\""},
    {"T N { P = @ }", "1:11: unexpected character '@'"},
    {"T N { P = \"a\" + }", "1:17: expected a string after '+'"},
    {"T N { P = \"a\" \"b\" }", "1:19: expected a component name, found '}'"},
    // Columns count characters, not bytes.
    {"T N { P = \"\u00e9\u00e9\" Q = ? }", "1:20: unexpected character '?'"},
    {"T N {\n  P = \"\xff\"\n}", "2:8: the text is not valid UTF-8"},
    {"T N { # \xc3\x28 }", "1:9: the text is not valid UTF-8"},
    {"T N { P = " + Nested(100, "[", "]") + " }", "1:110: nested more than 100 levels deep"},
    {Nested(101, "T N {", "}"), "1:501: nested more than 100 levels deep"},
};

TEST(DefinitionText, TextErrorsArePlacedAtTheirLineAndColumn) {
  for (const TErrorCase& c : TextErrors) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(Compiled(c.Text), c.Error);
  }
}

TEST(DefinitionText, NestingJustWithinTheLimitWorksBothWays) {
  // The root and 99 lists: 100 levels, on either side.
  std::string text = OnePropertyText(Nested(99, "[", "]"));
  TCompileResult r = CompileDefinition(text);
  ASSERT_TRUE(r.Ok) << r.Message;
  TDecompileResult back = DecompileDefinition(r.Bytes);
  ASSERT_TRUE(back.Ok) << back.Message;
  EXPECT_EQ(CompileDefinition(back.Text).Bytes, r.Bytes);
  // One more level in the bytes is refused where it opens.
  TBytes deeper = OneProperty(Concat({TBytes(100, 0x01), TBytes(100, 0x00)}));
  EXPECT_EQ(Decompiled(deeper), "109: nested more than 100 levels deep");
}

struct TBytesCase {
  TBytes Bytes;
  const char* Error;
};

TEST(DefinitionText, BadBytesAreReportedAtTheirOffset) {
  TBytes webModule1 = tolvane::test::WebModule1Definition();
  TBytes trailing = Concat({webModule1, {0}});
  TBytes truncated(webModule1.begin(), webModule1.end() - 1);
  const TBytesCase cases[] = {
      {{}, "0: not a stored definition: it does not begin with \"TPF0\""},
      {Raw("TPF1\x01T\x01N\0\0"sv), "0: not a stored definition: it does not begin with \"TPF0\""},
      {Raw("TPF0"sv), "4: a component runs past the end of the data"},
      {Raw("TPF0\x02T"sv), "4: a class name runs past the end of the data"},
      {Raw("TPF0\x01T\x01N"sv), "8: a property list runs past the end of the data"},
      {Raw("TPF0\x01T\x01N\x01P"sv), "10: a value runs past the end of the data"},
      {truncated, "158: a child list runs past the end of the data"},
      {trailing, "159: unexpected data after the root component"},
      {OneProperty({0x16}), "10: unknown value tag 0x16"},
      {OneProperty({0xFF}), "10: unknown value tag 0xFF"},
      {Raw("TPF0\xF2\x06"sv), "5: a child position must be an int8, int16 or int32 value"},
      {Raw("TPF0\xF2\x13\0\0\0\0\0\0\0\0\x01T\x01N\0\0"sv), "5: a child position must be an int8, int16 or int32 value"},
      {Raw("TPF0\xF2\x03\x01"sv), "5: int16 runs past the end of the data"},
      {OneProperty(Hex("0E 05 01 00 00")), "11: a collection item must open with a list tag (0x01)"},
      {OneProperty(Hex("0E 02 01 02 00")), "13: a collection item must open with a list tag (0x01)"},
      {OneProperty(Hex("0E 13 01 00 00 00 00 00 00 00 01 00 00")), "11: a collection item must open with a list tag (0x01)"},
      {OneProperty(Hex("0C FF FF FF FF")), "10: lstring runs past the end of the data"},
      {OneProperty(Hex("12 03 00 00 00 41 00")), "10: a wstring runs past the end of the data"},
      {OneProperty(Hex("0A 10 00 00 00")), "10: binary data runs past the end of the data"},
      {Raw("TPF0\x01T\x01N\x01P\x0B\x01" "a"sv), "13: a set element runs past the end of the data"},
      {OneProperty(Hex("05 00 00")), "10: extended runs past the end of the data"},
      {Raw("TPF0\x01T\x01N\x01P\x01\x02\x01"sv), "13: a list runs past the end of the data"},
  };
  for (const TBytesCase& c : cases) {
    SCOPED_TRACE(HexOf(c.Bytes));
    EXPECT_EQ(Decompiled(c.Bytes), c.Error);
  }
}

// Every stored definition of the tree: the shipped one, the test programs'
// and the reader's fuzz seeds.
std::vector<std::filesystem::path> StoredDefinitions() {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  fs::path root(TOLVANE_SOURCE_DIR);
  for (const fs::path& folder : {root / "tests", root / "fuzz"})
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      std::string parent = entry.path().parent_path().filename().string();
      if (entry.is_regular_file() && (parent == "rcdata" || parent == "reader_corpus")) files.push_back(entry.path());
    }
  return files;
}

TBytes ReadFile(const std::filesystem::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DefinitionText, StoredDefinitionsOfTheTreeRoundTripByteForByte) {
  auto files = StoredDefinitions();
  ASSERT_GE(files.size(), 6u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    TBytes bytes = ReadFile(file);
    TDecompileResult text = DecompileDefinition(bytes);
    // Fuzz seeds may be malformed on purpose, to reach the reader's errors.
    if (!text.Ok && file.parent_path().filename() == "reader_corpus") continue;
    ASSERT_TRUE(text.Ok) << text.Offset << ": " << text.Message;
    TCompileResult again = CompileDefinition(text.Text);
    ASSERT_TRUE(again.Ok) << again.Line << ":" << again.Column << ": " << again.Message;
    EXPECT_EQ(again.Bytes, bytes);
    EXPECT_EQ(DecompileDefinition(again.Bytes).Text, text.Text);
  }
}

TEST(DefinitionText, TheShippedTextCompilesToTheDocumentedBytes) {
  std::ifstream in(std::filesystem::path(TOLVANE_SOURCE_DIR) / "resources/definitions/TWEBMODULE1.def");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TCompileResult r = CompileDefinition(text);
  ASSERT_TRUE(r.Ok) << r.Line << ":" << r.Column << ": " << r.Message;
  EXPECT_EQ(r.Bytes, tolvane::test::WebModule1Definition());
  EXPECT_EQ(r.Bytes.size(), 159u);
}

TEST(DefinitionText, DecompiledTextIsStableWhateverTheSpelling) {
  // Comments, spacing, escapes and explicit default widths are not kept;
  // what comes back is the canonical text, which compiles to the same bytes.
  const char* text =
      "# header\n\xEF\xBB\xBF"
      "T   N{P=int8 1 Q=[1,2]R=\"\\x41\\u0042C\"#tail\n"
      "S=collection{item{}}C\"D\"(inline,position int8 0){}}";
  TCompileResult first = CompileDefinition(text);
  ASSERT_FALSE(first.Ok);  // the byte order mark only counts at the very start
  std::string clean = std::string(text).replace(9, 3, "");
  first = CompileDefinition(clean);
  ASSERT_TRUE(first.Ok) << first.Line << ":" << first.Column << ": " << first.Message;
  TDecompileResult canonical = DecompileDefinition(first.Bytes);
  ASSERT_TRUE(canonical.Ok);
  EXPECT_EQ(canonical.Text,
            "T N {\n  P = 1\n  Q = [\n    1,\n    2\n  ]\n  R = \"ABC\"\n  S = collection {\n    item {}\n  }\n"
            "  C D (position 0, inline) {}\n}\n");
  EXPECT_EQ(CompileDefinition(canonical.Text).Bytes, first.Bytes);
  EXPECT_EQ(CompileDefinition("\xEF\xBB\xBF" + clean).Bytes, first.Bytes);
}

}  // namespace
