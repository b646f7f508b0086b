#include "notes_text.h"

#include <tolvane/http/http_utils.h>

namespace notes {

using namespace tolvane;

std::string FieldText(const String& Field) { return ValidUTF8(AnsiOf(Field)); }

std::string ValidUTF8(std::string_view Text) { return UTF8Encode(UTF8ToString(Text)); }

std::string JSONString(std::string_view Utf8) {
  static constexpr char Hex[] = "0123456789abcdef";
  const std::string text = ValidUTF8(Utf8);
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += Hex[byte >> 4];
          out += Hex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

std::string NoteJSON(const TNote& Note) {
  return "{\"id\":" + std::to_string(Note.Id) + ",\"title\":" + JSONString(Note.Title) +
         ",\"body\":" + JSONString(Note.Body) + ",\"author\":" + JSONString(Note.Author) + "}";
}

String Html(std::string_view Utf8) { return HTMLEscape(UTF8ToString(Utf8)); }

bool IsBlank(std::string_view Text) { return Text.find_first_not_of(" \t\r\n") == std::string_view::npos; }

}  // namespace notes
