#include "sqlite_database.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace notes {

using namespace tolvane;

TV_DEFINE_CLASS(ENotesDatabaseError, Exception);

TSqliteDatabase::TSqliteDatabase(const std::string& Path, bool ReadOnly) : FPath(Path) {
  const int flags = ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(Path.c_str(), &FHandle, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = FHandle ? sqlite3_errmsg(FHandle) : sqlite3_errstr(rc);
    sqlite3_close_v2(FHandle);
    FHandle = nullptr;
    throw ENotesDatabaseError(UTF8ToString("Cannot open the notes database " + Path + ": " + reason));
  }
  sqlite3_busy_timeout(FHandle, BusyTimeoutMs);
}

TSqliteDatabase::~TSqliteDatabase() { sqlite3_close_v2(FHandle); }

void TSqliteDatabase::Exec(const char* Sql) {
  // SQLite answers "locked" at once, without waiting, where waiting could
  // deadlock: several connections setting up a new file (journal mode,
  // schema) at the same moment. A statement refused so had no effect and is
  // tried again until the busy time-out has passed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(BusyTimeoutMs);
  for (;;) {
    const int rc = sqlite3_exec(FHandle, Sql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) Raise(Sql);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void TSqliteDatabase::Raise(std::string_view What) const {
  throw ENotesDatabaseError(
      UTF8ToString("Notes database " + FPath + ": " + std::string(What) + ": " + sqlite3_errmsg(FHandle)));
}

std::int64_t TSqliteDatabase::LastInsertId() const { return sqlite3_last_insert_rowid(FHandle); }

int TSqliteDatabase::Changes() const { return sqlite3_changes(FHandle); }

TSqliteStatement::TSqliteStatement(TSqliteDatabase& Database, const char* Sql) : FDatabase(Database) {
  if (sqlite3_prepare_v3(Database.Handle(), Sql, -1, SQLITE_PREPARE_PERSISTENT, &FHandle, nullptr) != SQLITE_OK)
    Database.Raise(Sql);
}

TSqliteStatement::~TSqliteStatement() { sqlite3_finalize(FHandle); }

void TSqliteStatement::Reset() {
  sqlite3_reset(FHandle);
  sqlite3_clear_bindings(FHandle);
}

TSqliteStatement& TSqliteStatement::Bind(int Index, std::int64_t Value) {
  if (sqlite3_bind_int64(FHandle, Index, Value) != SQLITE_OK) FDatabase.Raise("bind");
  return *this;
}

TSqliteStatement& TSqliteStatement::Bind(int Index, std::string_view Utf8) {
  // An empty view may have no data pointer; SQLite would bind NULL for it.
  const char* data = Utf8.data() ? Utf8.data() : "";
  if (sqlite3_bind_text64(FHandle, Index, data, Utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK)
    FDatabase.Raise("bind");
  return *this;
}

bool TSqliteStatement::Step() {
  const int rc = sqlite3_step(FHandle);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  FDatabase.Raise(sqlite3_sql(FHandle));
}

std::int64_t TSqliteStatement::Int64(int Column) const { return sqlite3_column_int64(FHandle, Column); }

std::string_view TSqliteStatement::Text(int Column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FHandle, Column));
  if (!text) return {};
  return std::string_view(text, std::size_t(sqlite3_column_bytes(FHandle, Column)));
}

}  // namespace notes
