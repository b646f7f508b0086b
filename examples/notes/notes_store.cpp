#include "notes_store.h"

#include <cstdlib>

namespace notes {

namespace {

// Run before any statement is prepared: preparing needs the table.
TSqliteDatabase& Prepared(TSqliteDatabase& Database) {
  // The busy time-out covers the switch to WAL and the schema, which other
  // connections may be doing at the same moment.
  Database.Exec("PRAGMA journal_mode=WAL");
  Database.Exec(
      "CREATE TABLE IF NOT EXISTS notes ("
      "id INTEGER PRIMARY KEY AUTOINCREMENT, "
      "title TEXT NOT NULL, body TEXT NOT NULL, author TEXT NOT NULL)");
  return Database;
}

TNote ReadNote(const TSqliteStatement& Row) {
  return TNote{Row.Int64(0), std::string(Row.Text(1)), std::string(Row.Text(2)), std::string(Row.Text(3))};
}

std::vector<TNote> ReadAll(TSqliteStatement& Statement) {
  std::vector<TNote> notes;
  auto use = Statement.Use();
  while (use->Step()) notes.push_back(ReadNote(*use));
  return notes;
}

}  // namespace

TNotesStore::TNotesStore(const std::string& Path)
    : FDatabase(Path, false),
      FInsert(Prepared(FDatabase), "INSERT INTO notes (title, body, author) VALUES (?1, ?2, ?3)"),
      FFind(FDatabase, "SELECT id, title, body, author FROM notes WHERE id = ?1"),
      FAll(FDatabase, "SELECT id, title, body, author FROM notes ORDER BY id DESC"),
      FHeadings(FDatabase, "SELECT id, title, '', author FROM notes ORDER BY id DESC"),
      FDelete(FDatabase, "DELETE FROM notes WHERE id = ?1") {}

std::string TNotesStore::DefaultPath() {
  const char* dir = std::getenv("TOLVANE_NOTES_DIR");
  if (!dir || !*dir) return "notes.db";
  std::string path = dir;
  if (path.back() != '/') path += '/';
  return path + "notes.db";
}

std::int64_t TNotesStore::Add(const TNote& Note) {
  auto use = FInsert.Use();
  use->Bind(1, Note.Title).Bind(2, Note.Body).Bind(3, Note.Author).Step();
  return FDatabase.LastInsertId();
}

std::optional<TNote> TNotesStore::Find(std::int64_t Id) {
  auto use = FFind.Use();
  use->Bind(1, Id);
  if (!use->Step()) return std::nullopt;
  return ReadNote(*use);
}

std::vector<TNote> TNotesStore::All() { return ReadAll(FAll); }

std::vector<TNote> TNotesStore::Headings() { return ReadAll(FHeadings); }

bool TNotesStore::Delete(std::int64_t Id) {
  auto use = FDelete.Use();
  use->Bind(1, Id);
  use->Step();
  return FDatabase.Changes() > 0;
}

}  // namespace notes
