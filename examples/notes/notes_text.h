#pragma once
// Text of the notes service between its three encodings: form fields as the
// framework decodes them, UTF-8 in the database and in JSON, and UTF-16
// pages with every user text escaped.
#include <string>
#include <string_view>

#include "notes_store.h"
#include <tolvane/runtime/system_string.h>

namespace notes {

// A decoded form field or cookie value as UTF-8. The framework decodes
// "%XX" escapes into single code-page characters, which give back the bytes
// the browser sent; bytes that are not UTF-8 become U+FFFD.
std::string FieldText(const tolvane::String& Field);
// Malformed UTF-8 replaced by U+FFFD.
std::string ValidUTF8(std::string_view Text);

// A JSON string, quoted: quotation mark, reverse solidus and control
// characters escaped, everything else as UTF-8.
std::string JSONString(std::string_view Utf8);
// {"id":1,"title":"...","body":"...","author":"..."}
std::string NoteJSON(const TNote& Note);

// UTF-8 text made safe for an HTML page, element content or quoted
// attribute value alike.
tolvane::String Html(std::string_view Utf8);

// True when Text holds nothing but spaces, tabs and line breaks.
bool IsBlank(std::string_view Text);

}  // namespace notes
