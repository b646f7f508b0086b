#pragma once
// Message formatting: "%s", "%d", "%u", "%x", an argument index ("%0:s"), a
// width and precision ("%-8.3s"), and "%%" for one percent sign.
#include <cstdint>
#include <initializer_list>
#include <variant>

#include <tolvane/runtime/system_string.h>

namespace tolvane {

class TVarRec {
 public:
  TVarRec(int Value) : FValue(std::int64_t(Value)) {}
  TVarRec(unsigned Value) : FValue(std::int64_t(Value)) {}
  TVarRec(long Value) : FValue(std::int64_t(Value)) {}
  TVarRec(long long Value) : FValue(std::int64_t(Value)) {}
  TVarRec(unsigned long Value) : FValue(std::int64_t(Value)) {}
  TVarRec(const String& Value) : FValue(Value) {}
  TVarRec(const char16_t* Value) : FValue(String(Value)) {}
  TVarRec(std::u16string_view Value) : FValue(String(Value)) {}
  // 8-bit text is read in the system's ANSI code page.
  TVarRec(const AnsiString& Value) : FValue(StringOf(Value)) {}

  bool IsText() const { return std::holds_alternative<String>(FValue); }
  const String& Text() const { return std::get<String>(FValue); }
  std::int64_t Integer() const { return std::get<std::int64_t>(FValue); }

 private:
  std::variant<std::int64_t, String> FValue;
};

// Raises EConvertError "Format '%s' invalid or incompatible with argument" for a
// directive without a matching argument.
String Format(std::u16string_view Fmt, std::initializer_list<TVarRec> Args);

}  // namespace tolvane
