#pragma once
// Every note as one line of JSON, oldest first, read from the database a row
// at a time while the response is sent, so that memory does not grow with
// the number of notes. The stream has a connection of its own, read-only,
// inside one read transaction: the length it declares up front (a first
// pass over the rows) and the bytes it then hands out come from the same
// snapshot however many notes are added or deleted meanwhile. Having its own
// connection, it may outlive the request's use of its module set.
#include <string>

#include <tolvane/runtime/stream.h>
#include "sqlite_database.h"

namespace notes {

class TNotesExportStream : public tolvane::TStream {
  TV_DECLARE_CLASS(TNotesExportStream)
 public:
  explicit TNotesExportStream(const std::string& DatabasePath);
  ~TNotesExportStream() override;

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  // Read-only.
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  // Any position within the data; going back starts the rows again.
  std::int64_t Seek(std::int64_t Offset, tolvane::TSeekOrigin Origin) override;
  std::int64_t Size() override { return FSize; }

 private:
  void Restart();
  // The next row as a line in FLine; false after the last.
  bool NextLine();

  TSqliteDatabase FDatabase;
  TSqliteStatement FRows;
  std::string FLine;
  std::size_t FLineAt = 0;  // bytes of FLine already handed out
  std::int64_t FPosition = 0;
  std::int64_t FSize = 0;
};

}  // namespace notes
