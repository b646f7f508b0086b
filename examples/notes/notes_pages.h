#pragma once
// The HTML pages of the notes service. Every text that came from a user is
// escaped; Base is the URL path the service is mounted under ("" at the
// root), put before every link and form action.
#include <string>
#include <string_view>
#include <vector>

#include "notes_store.h"
#include <tolvane/runtime/system_string.h>

namespace notes {

// The form for a new note (prefilled with Draft, the author from the
// cookie) above the list of notes, newest first, each a link with a delete
// button. The notes' bodies are not shown.
tolvane::String ListPage(const std::vector<TNote>& Notes, const TNote& Draft, std::string_view Base);
tolvane::String NotePage(const TNote& Note, std::string_view Base);
// The form again, with what was entered and why it was refused.
tolvane::String FormErrorPage(std::string_view Reason, const TNote& Entered, std::string_view Base);
tolvane::String NotFoundPage(std::string_view Reason, std::string_view Base);
// The little page a redirect carries for clients that do not follow it.
tolvane::String RedirectPage(std::string_view Location);

}  // namespace notes
