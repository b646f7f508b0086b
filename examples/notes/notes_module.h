#pragma once
// The notes service: a web module whose actions, content producer and
// BeforeDispatch come from its text definition TNOTESMODULE.def.
//
//   GET  /                  the notes and a form (TNotesListProducer)
//   GET  /notes/ID          one note; 404 with a page when there is none
//   POST /notes             a new note from the form fields title, body and
//                           author: 303 to /notes/ID, or 400 with the reason
//   POST /notes/ID/delete   303 to /
//   GET  /api/notes         every note as JSON, newest first
//   GET  /export            every note as JSON lines, streamed
//   anything else           404
//
// Each module set has one module and so one database connection of its own,
// opened on the first request that needs it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <tolvane/dispatch/web_module.h>
#include "notes_list_producer.h"
#include "notes_store.h"

namespace notes {

class TNotesModule : public tolvane::TWebModule {
  TV_DECLARE_CLASS(TNotesModule)
 public:
  explicit TNotesModule(tolvane::TComponent* AOwner);
  ~TNotesModule() override;

  // The largest title, body or author accepted, in bytes of UTF-8.
  static constexpr std::size_t MaxFieldBytes = 64 * 1024;
  // The largest form body read: three fields at their largest, each byte
  // written as "%XX", with room for the names.
  static constexpr int MaxFormBytes = 3 * 3 * int(MaxFieldBytes) + 1024;
  // The author cookie is not set for a name longer than this once encoded:
  // browsers drop large cookies, and a host refuses requests whose headers
  // grow too big.
  static constexpr std::size_t MaxCookieBytes = 1024;

  TNotesStore& Store();
  // The author cookie of the request, or empty.
  static std::string AuthorCookie(tolvane::TWebRequest* Request);
  // The URL path the service is mounted under, without a trailing slash.
  static std::string Base(tolvane::TWebRequest* Request);

  // Published: the definition binds these.
  void NotesModuleBeforeDispatch(tolvane::TObject* Sender, tolvane::TWebRequest* Request,
                                 tolvane::TWebResponse* Response, bool& Handled);
  void ShowNoteAction(tolvane::TObject* Sender, tolvane::TWebRequest* Request, tolvane::TWebResponse* Response,
                      bool& Handled);
  void CreateNoteAction(tolvane::TObject* Sender, tolvane::TWebRequest* Request, tolvane::TWebResponse* Response,
                        bool& Handled);
  void DeleteNoteAction(tolvane::TObject* Sender, tolvane::TWebRequest* Request, tolvane::TWebResponse* Response,
                        bool& Handled);
  void NotesJSONAction(tolvane::TObject* Sender, tolvane::TWebRequest* Request, tolvane::TWebResponse* Response,
                       bool& Handled);
  void ExportAction(tolvane::TObject* Sender, tolvane::TWebRequest* Request, tolvane::TWebResponse* Response,
                    bool& Handled);
  void NotFoundAction(tolvane::TObject* Sender, tolvane::TWebRequest* Request, tolvane::TWebResponse* Response,
                      bool& Handled);

  // Published field: the definition's producer lands here.
  TNotesListProducer* NotesList = nullptr;

 private:
  std::unique_ptr<TNotesStore> FStore;
};

// The note id of a path "/notes/ID" or "/notes/ID/delete" (Suffix "" or
// "/delete"): decimal digits only, or nothing.
std::optional<std::int64_t> NoteIdOf(std::string_view Path, std::string_view Suffix);

}  // namespace notes
