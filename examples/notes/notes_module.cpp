#include "notes_module.h"

#include <charconv>

#include "export_stream.h"
#include <tolvane/http/http_utils.h>
#include <tolvane/http/web_request.h>
#include <tolvane/http/web_response.h>
#include "notes_pages.h"
#include "notes_text.h"
#include <tolvane/runtime/published.h>

namespace notes {

using namespace tolvane;

namespace {

constinit const TMethodInfo NotesModuleMethods[] = {
    TV_METHOD(TNotesModule, NotesModuleBeforeDispatch), TV_METHOD(TNotesModule, ShowNoteAction),
    TV_METHOD(TNotesModule, CreateNoteAction),          TV_METHOD(TNotesModule, DeleteNoteAction),
    TV_METHOD(TNotesModule, NotesJSONAction),           TV_METHOD(TNotesModule, ExportAction),
    TV_METHOD(TNotesModule, NotFoundAction),
};
constinit const TFieldInfo NotesModuleFields[] = {TV_FIELD(TNotesModule, NotesList)};

constexpr char16_t AuthorCookieName[] = u"author";

bool StartsWithNoCase(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameTextAscii(Text.substr(0, Prefix.size()), Prefix);
}

void NotFound(TWebResponse* Response, std::string_view Reason, std::string_view Base) {
  Response->SetStatusCode(404);
  Response->SetUnicodeContent(NotFoundPage(Reason, Base));
}

// The remembered author goes with every later request of the browser, so an
// empty name forgets it and a name too long to carry leaves it as it was.
void RememberAuthor(TWebResponse* Response, const std::string& Author, const std::string& Base) {
  // The cookie's header value is URL-encoded as it is sent.
  if (HTTPEncode(Author).size() > TNotesModule::MaxCookieBytes) return;
  TCookie* cookie = Response->Cookies().Add();
  cookie->SetName(AnsiOf(AuthorCookieName));
  cookie->SetValue(Author);
  cookie->SetPath(Base + "/");
  cookie->SetExpires(Author.empty() ? EncodeDate(1970, 1, 1) : NowUTC() + 365);
}

}  // namespace

TV_DEFINE_CLASS(TNotesModule, TWebModule, CreateComponent<TNotesModule>, {}, NotesModuleMethods, NotesModuleFields);

TNotesModule::TNotesModule(TComponent* AOwner) : TWebModule(AOwner) {}

TNotesModule::~TNotesModule() = default;

TNotesStore& TNotesModule::Store() {
  if (!FStore) FStore = std::make_unique<TNotesStore>(TNotesStore::DefaultPath());
  return *FStore;
}

std::string TNotesModule::AuthorCookie(TWebRequest* Request) {
  try {
    return FieldText(Request->CookieFields().Values(AuthorCookieName));
  } catch (const Exception&) {
    // A cookie that does not decode is as good as none.
    return {};
  }
}

std::string TNotesModule::Base(TWebRequest* Request) {
  std::string base = Request->ScriptName();
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::optional<std::int64_t> NoteIdOf(std::string_view Path, std::string_view Suffix) {
  constexpr std::string_view Prefix = "/notes/";
  if (!StartsWithNoCase(Path, Prefix) || Path.size() < Prefix.size() + Suffix.size() ||
      !SameTextAscii(Path.substr(Path.size() - Suffix.size()), Suffix))
    return std::nullopt;
  const std::string_view digits = Path.substr(Prefix.size(), Path.size() - Prefix.size() - Suffix.size());
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  std::int64_t id = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return id;
}

void TNotesModule::NotesModuleBeforeDispatch(TObject*, TWebRequest*, TWebResponse* Response, bool&) {
  // Every page is UTF-8, so that SetUnicodeContent encodes it so; actions
  // that answer something else say so themselves.
  Response->SetContentType("text/html; charset=utf-8");
  // User text is only ever meant as what the content type says.
  Response->SetCustomHeader(u"X-Content-Type-Options", u"nosniff");
}

void TNotesModule::ShowNoteAction(TObject*, TWebRequest* Request, TWebResponse* Response, bool&) {
  const std::string base = Base(Request);
  const std::optional<std::int64_t> id = NoteIdOf(Request->InternalPathInfo(), "");
  const std::optional<TNote> note = id ? Store().Find(*id) : std::nullopt;
  if (!note) return NotFound(Response, "There is no such note.", base);
  Response->SetUnicodeContent(NotePage(*note, base));
}

void TNotesModule::CreateNoteAction(TObject*, TWebRequest* Request, TWebResponse* Response, bool&) {
  const std::string base = Base(Request);
  TNote note;
  auto refuse = [&](int Status, const std::string& Reason) {
    Response->SetStatusCode(Status);
    Response->SetUnicodeContent(FormErrorPage(Reason, note, base));
  };
  if (!StartsWithNoCase(Request->ContentType(), "application/x-www-form-urlencoded"))
    return refuse(415, "The form must be sent as application/x-www-form-urlencoded.");
  if (Request->ContentLength() > MaxFormBytes)
    return refuse(400, "The form is larger than " + std::to_string(MaxFormBytes) + " bytes.");
  try {
    TStrings& fields = Request->ContentFields();
    note.Title = FieldText(fields.Values(u"title"));
    note.Body = FieldText(fields.Values(u"body"));
    note.Author = FieldText(fields.Values(u"author"));
  } catch (const Exception&) {
    return refuse(400, "The form could not be decoded: a \"%\" is not followed by two hexadecimal digits.");
  }
  const struct {
    const char* Name;
    const std::string& Text;
    bool Required;
  } Fields[] = {{"title", note.Title, true}, {"body", note.Body, true}, {"author", note.Author, false}};
  for (const auto& field : Fields) {
    if (field.Required && IsBlank(field.Text)) return refuse(400, std::string("The ") + field.Name + " is empty.");
    if (field.Text.size() > MaxFieldBytes)
      return refuse(400, std::string("The ") + field.Name + " is longer than 64 KiB (" +
                             std::to_string(MaxFieldBytes) + " bytes).");
  }
  const std::string location = base + "/notes/" + std::to_string(Store().Add(note));
  Response->SetStatusCode(303);
  Response->SetLocation(location);
  RememberAuthor(Response, note.Author, base);
  Response->SetUnicodeContent(RedirectPage(location));
}

void TNotesModule::DeleteNoteAction(TObject*, TWebRequest* Request, TWebResponse* Response, bool&) {
  const std::string base = Base(Request);
  const std::optional<std::int64_t> id = NoteIdOf(Request->InternalPathInfo(), "/delete");
  if (!id || !Store().Delete(*id)) return NotFound(Response, "There is no such note.", base);
  Response->SetStatusCode(303);
  Response->SetLocation(base + "/");
  Response->SetUnicodeContent(RedirectPage(base + "/"));
}

void TNotesModule::NotesJSONAction(TObject*, TWebRequest*, TWebResponse* Response, bool&) {
  std::string json = "[";
  for (const TNote& note : Store().All()) {
    if (json.size() > 1) json += ',';
    json += NoteJSON(note);
  }
  json += "]";
  Response->SetContentType("application/json; charset=utf-8");
  Response->SetContent(json);
}

void TNotesModule::ExportAction(TObject*, TWebRequest*, TWebResponse* Response, bool&) {
  Response->SetContentType("application/x-ndjson; charset=utf-8");
  Response->SetCustomHeader(u"Content-Disposition", u"attachment; filename=\"notes.jsonl\"");
  // The response owns the stream and frees it once it is sent.
  Response->SetContentStream(new TNotesExportStream(Store().Path()));
}

void TNotesModule::NotFoundAction(TObject*, TWebRequest* Request, TWebResponse* Response, bool&) {
  NotFound(Response, "There is no page at " + Request->InternalPathInfo() + ".", Base(Request));
}

}  // namespace notes
