#pragma once
// The notes of one module set: its own SQLite connection to the shared
// database file, in WAL mode so that readers never wait for a writer, with
// every statement prepared once. A store is used by one request at a time,
// like the module that owns it; other module sets have stores of their own.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sqlite_database.h"

namespace notes {

// Texts are UTF-8.
struct TNote {
  std::int64_t Id = 0;
  std::string Title;
  std::string Body;
  std::string Author;
};

class TNotesStore {
 public:
  // Opens (and on first use creates) the database file Path.
  explicit TNotesStore(const std::string& Path);

  // $TOLVANE_NOTES_DIR/notes.db, or notes.db in the working folder.
  static std::string DefaultPath();

  // Answers the new note's id; ids are never used twice, so the address of
  // a deleted note never shows another one.
  std::int64_t Add(const TNote& Note);
  std::optional<TNote> Find(std::int64_t Id);
  // Every note, newest first.
  std::vector<TNote> All();
  // The same without their bodies, for lists.
  std::vector<TNote> Headings();
  // False when there was no such note.
  bool Delete(std::int64_t Id);

  const std::string& Path() const { return FDatabase.Path(); }

 private:
  TSqliteDatabase FDatabase;
  TSqliteStatement FInsert;
  TSqliteStatement FFind;
  TSqliteStatement FAll;
  TSqliteStatement FHeadings;
  TSqliteStatement FDelete;
};

}  // namespace notes
