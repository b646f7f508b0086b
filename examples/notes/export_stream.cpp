#include "export_stream.h"

#include <algorithm>
#include <cstring>

#include "notes_text.h"

namespace notes {

using namespace tolvane;

TV_DEFINE_CLASS(TNotesExportStream, TStream);

namespace {

// Opened first, so that the snapshot is taken before the rows are counted.
TSqliteDatabase& InTransaction(TSqliteDatabase& Database) {
  Database.Exec("BEGIN");
  return Database;
}

}  // namespace

TNotesExportStream::TNotesExportStream(const std::string& DatabasePath)
    : FDatabase(DatabasePath, true),
      FRows(InTransaction(FDatabase), "SELECT id, title, body, author FROM notes ORDER BY id") {
  while (NextLine()) FSize += std::int64_t(FLine.size());
  Restart();
}

TNotesExportStream::~TNotesExportStream() {
  FRows.Reset();
  try {
    FDatabase.Exec("ROLLBACK");
  } catch (...) {
    // Closing the connection ends the transaction all the same.
  }
}

void TNotesExportStream::Restart() {
  FRows.Reset();
  FLine.clear();
  FLineAt = 0;
  FPosition = 0;
}

bool TNotesExportStream::NextLine() {
  FLineAt = 0;
  if (!FRows.Step()) {
    FLine.clear();
    return false;
  }
  FLine = NoteJSON(
      TNote{FRows.Int64(0), std::string(FRows.Text(1)), std::string(FRows.Text(2)), std::string(FRows.Text(3))});
  FLine += '\n';
  return true;
}

std::int64_t TNotesExportStream::Read(void* Buffer, std::int64_t Count) {
  auto* out = static_cast<char*>(Buffer);
  std::int64_t done = 0;
  while (done < Count && FPosition < FSize) {
    if (FLineAt == FLine.size() && !NextLine()) break;
    const std::size_t n = std::min({FLine.size() - FLineAt, std::size_t(Count - done), std::size_t(FSize - FPosition)});
    std::memcpy(out + done, FLine.data() + FLineAt, n);
    FLineAt += n;
    done += std::int64_t(n);
    FPosition += std::int64_t(n);
  }
  return done;
}

std::int64_t TNotesExportStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t target = Offset;
  if (Origin == TSeekOrigin::soCurrent) target += FPosition;
  else if (Origin == TSeekOrigin::soEnd) target += FSize;
  target = std::clamp<std::int64_t>(target, 0, FSize);
  if (target < FPosition) Restart();
  char skipped[4096];
  while (FPosition < target)
    if (Read(skipped, std::min<std::int64_t>(target - FPosition, sizeof skipped)) == 0) break;
  return FPosition;
}

}  // namespace notes
