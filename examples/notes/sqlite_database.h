#pragma once
// A thin owner of one SQLite connection and its prepared statements. Each
// failure raises ENotesDatabaseError naming the database file and SQLite's
// reason, so that a broken database shows on the error page instead of as
// missing notes.
#include <cstdint>
#include <string>
#include <string_view>

#include <tolvane/runtime/exception.h>

struct sqlite3;
struct sqlite3_stmt;

namespace notes {

class ENotesDatabaseError : public tolvane::Exception {
  TV_DECLARE_CLASS(ENotesDatabaseError)
 public:
  using Exception::Exception;
};

class TSqliteDatabase {
 public:
  // Opens Path read-write (creating the file) or read-only, with a busy
  // time-out so that writers of other connections are waited for.
  TSqliteDatabase(const std::string& Path, bool ReadOnly);
  ~TSqliteDatabase();
  TSqliteDatabase(const TSqliteDatabase&) = delete;
  TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;

  // Runs statements that answer no rows the caller needs.
  void Exec(const char* Sql);
  sqlite3* Handle() const { return FHandle; }
  // Of the last statement that changed rows on this connection.
  std::int64_t LastInsertId() const;
  int Changes() const;
  const std::string& Path() const { return FPath; }
  [[noreturn]] void Raise(std::string_view What) const;

  static constexpr int BusyTimeoutMs = 5000;

 private:
  std::string FPath;
  sqlite3* FHandle = nullptr;
};

// A statement prepared once and run many times. Use() hands it out through
// a scope that resets it and clears its bindings at the end, so that no
// statement keeps a read open between requests.
class TSqliteStatement {
 public:
  TSqliteStatement(TSqliteDatabase& Database, const char* Sql);
  ~TSqliteStatement();
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;

  TSqliteStatement& Bind(int Index, std::int64_t Value);
  TSqliteStatement& Bind(int Index, std::string_view Utf8);
  // True while a row is there; false when the statement is done.
  bool Step();
  std::int64_t Int64(int Column) const;
  // Valid until the next Step.
  std::string_view Text(int Column) const;
  void Reset();

  class TUse {
   public:
    explicit TUse(TSqliteStatement& Statement) : FStatement(Statement) {}
    ~TUse() { FStatement.Reset(); }
    TUse(const TUse&) = delete;
    TUse& operator=(const TUse&) = delete;
    TSqliteStatement* operator->() const { return &FStatement; }
    TSqliteStatement& operator*() const { return FStatement; }

   private:
    TSqliteStatement& FStatement;
  };
  TUse Use() { return TUse(*this); }

 private:
  TSqliteDatabase& FDatabase;
  sqlite3_stmt* FHandle = nullptr;
};

}  // namespace notes
