#pragma once
// Builds stored definitions byte by byte for tests: the product only reads
// them.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::test {

class TDefinitionWriter {
 public:
  std::vector<std::uint8_t> Bytes;

  TDefinitionWriter& Signature() { return Raw("TPF0"); }
  TDefinitionWriter& Byte(std::uint8_t B) {
    Bytes.push_back(B);
    return *this;
  }
  TDefinitionWriter& Raw(std::string_view S) {
    Bytes.insert(Bytes.end(), S.begin(), S.end());
    return *this;
  }
  template <class T>
  TDefinitionWriter& LE(T Value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) Byte(std::uint8_t(std::uint64_t(Value) >> (8 * i)));
    return *this;
  }
  // A short string: its length byte, then the bytes (UTF-8).
  TDefinitionWriter& Str(std::string_view S) { return Byte(std::uint8_t(S.size())).Raw(S); }
  // A component record's head: class name and component name.
  TDefinitionWriter& Component(std::string_view ClassName, std::string_view Name) { return Str(ClassName).Str(Name); }
  TDefinitionWriter& End() { return Byte(0); }
  TDefinitionWriter& Prop(std::string_view Name) { return Str(Name); }

  TDefinitionWriter& Int8(std::int8_t V) { return Byte(2).LE(V); }
  TDefinitionWriter& Int16(std::int16_t V) { return Byte(3).LE(V); }
  TDefinitionWriter& Int32(std::int32_t V) { return Byte(4).LE(V); }
  TDefinitionWriter& Int64(std::int64_t V) { return Byte(19).LE(V); }
  TDefinitionWriter& String(std::string_view S) { return Byte(6).Str(S); }
  TDefinitionWriter& Ident(std::string_view S) { return Byte(7).Str(S); }
  TDefinitionWriter& False() { return Byte(8); }
  TDefinitionWriter& True() { return Byte(9); }
  TDefinitionWriter& Nil() { return Byte(13); }
  TDefinitionWriter& List() { return Byte(1); }
  TDefinitionWriter& Collection() { return Byte(14); }
  TDefinitionWriter& LString(std::string_view S) { return Byte(12).LE(std::uint32_t(S.size())).Raw(S); }
  TDefinitionWriter& UTF8String(std::string_view S) { return Byte(20).LE(std::uint32_t(S.size())).Raw(S); }
  TDefinitionWriter& WString(std::u16string_view S) {
    Byte(18).LE(std::uint32_t(S.size()));
    for (char16_t c : S) LE(std::uint16_t(c));
    return *this;
  }
  TDefinitionWriter& Binary(std::string_view S) { return Byte(10).LE(std::uint32_t(S.size())).Raw(S); }
  TDefinitionWriter& Double(double V) {
    std::uint64_t bits;
    static_assert(sizeof bits == sizeof V);
    std::memcpy(&bits, &V, sizeof V);
    return Byte(21).LE(bits);
  }
  TDefinitionWriter& Set(std::initializer_list<std::string_view> Names) {
    Byte(11);
    for (auto n : Names) Str(n);
    return Byte(0);
  }
};

// The definition of the application module, built from its documented layout:
// 159 bytes.
std::vector<std::uint8_t> WebModule1Definition();

}  // namespace tolvane::test
