#include "notes_pages.h"

#include "notes_text.h"

namespace notes {

using namespace tolvane;

namespace {

constexpr std::u16string_view Style =
    u"body{font-family:sans-serif;max-width:42rem;margin:2rem auto;padding:0 1rem;line-height:1.4}"
    u"label{display:block;margin:.5rem 0}input,textarea{width:100%;box-sizing:border-box;font:inherit}"
    u"ul{list-style:none;padding:0}li{display:flex;gap:1rem;align-items:baseline;"
    u"border-bottom:1px solid #ddd;padding:.4rem 0}li a{flex:1}.by{color:#666}"
    u".text{white-space:pre-wrap;border-left:3px solid #ccc;padding-left:1rem}"
    u".error{color:#a00;font-weight:bold}form.inline{margin:0}";

String Page(std::u16string_view Title, std::u16string_view Body) {
  String page = u"<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                u"<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>";
  page += Title;
  page += u"</title><style>";
  page += Style;
  page += u"</style></head>\n<body>\n";
  page += Body;
  page += u"\n</body></html>\n";
  return page;
}

String Author(std::string_view Utf8) { return Utf8.empty() ? String(u"anonymous") : Html(Utf8); }

String NewNoteForm(const TNote& Draft, std::string_view Base) {
  return u"<form method=\"post\" action=\"" + Html(Base) + u"/notes\">\n"
         u"<label>Title <input name=\"title\" required value=\"" + Html(Draft.Title) + u"\"></label>\n"
         u"<label>Note <textarea name=\"body\" rows=\"5\" required>" + Html(Draft.Body) + u"</textarea></label>\n"
         u"<label>Your name <input name=\"author\" value=\"" + Html(Draft.Author) + u"\"></label>\n"
         u"<button type=\"submit\">Add note</button>\n</form>\n";
}

String DeleteButton(std::int64_t Id, std::string_view Base) {
  return u"<form class=\"inline\" method=\"post\" action=\"" + Html(Base) + u"/notes/" + IntToStr(Id) +
         u"/delete\"><button type=\"submit\">Delete</button></form>";
}

String BackLink(std::string_view Base) { return u"<p><a href=\"" + Html(Base) + u"/\">All notes</a></p>"; }

}  // namespace

String ListPage(const std::vector<TNote>& Notes, const TNote& Draft, std::string_view Base) {
  String body = u"<h1>Notes</h1>\n" + NewNoteForm(Draft, Base);
  body += u"<h2>All notes (" + IntToStr(std::int64_t(Notes.size())) + u")</h2>\n";
  if (Notes.empty()) {
    body += u"<p>No notes yet.</p>\n";
  } else {
    body += u"<ul>\n";
    for (const TNote& note : Notes)
      body += u"<li><a href=\"" + Html(Base) + u"/notes/" + IntToStr(note.Id) + u"\">" + Html(note.Title) +
              u"</a> <span class=\"by\">by " + Author(note.Author) + u"</span> " + DeleteButton(note.Id, Base) +
              u"</li>\n";
    body += u"</ul>\n";
  }
  body += u"<p><a href=\"" + Html(Base) + u"/api/notes\">JSON</a> &middot; <a href=\"" + Html(Base) +
          u"/export\">Export as JSON lines</a></p>";
  return Page(u"Notes", body);
}

String NotePage(const TNote& Note, std::string_view Base) {
  const String title = Html(Note.Title);
  String body = u"<h1>" + title + u"</h1>\n<p class=\"by\">by " + Author(Note.Author) + u"</p>\n";
  body += u"<div class=\"text\">" + Html(Note.Body) + u"</div>\n";
  body += u"<p>" + DeleteButton(Note.Id, Base) + u"</p>\n" + BackLink(Base);
  return Page(title + u" - Notes", body);
}

String FormErrorPage(std::string_view Reason, const TNote& Entered, std::string_view Base) {
  String body = u"<h1>The note was not saved</h1>\n<p class=\"error\">" + Html(Reason) + u"</p>\n";
  body += NewNoteForm(Entered, Base) + BackLink(Base);
  return Page(u"Not saved - Notes", body);
}

String NotFoundPage(std::string_view Reason, std::string_view Base) {
  return Page(u"Not found - Notes", u"<h1>Not found</h1>\n<p>" + Html(Reason) + u"</p>\n" + BackLink(Base));
}

String RedirectPage(std::string_view Location) {
  return Page(u"Notes", u"<p>See <a href=\"" + Html(Location) + u"\">" + Html(Location) + u"</a>.</p>");
}

}  // namespace notes
