// The notes module's pieces on their own: JSON strings, note addresses and
// the export stream's snapshot.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "export_stream.h"
#include "notes_module.h"
#include "notes_store.h"
#include "notes_text.h"
#include "support/temp_folder.h"

using namespace notes;

namespace {

TEST(NotesText, JSONStringsEscapeQuotesBackslashesAndControlCharactersAndKeepOtherTextAsUTF8) {
  struct TCase {
    std::string In;
    std::string Out;
  } Cases[] = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {R"(say "hi")", R"("say \"hi\"")"},
      {R"(C:\dir\)", R"("C:\\dir\\")"},
      {"a\nb\r\tc\b\f", R"("a\nb\r\tc\b\f")"},
      {std::string("nul\0x", 5), R"("nul\u0000x")"},
      {"\x01\x1f\x7f", "\"\\u0001\\u001f\x7f\""},
      {"</script>", R"("</script>")"},
      {"Grüße 😀", "\"Grüße 😀\""},
      // Bytes that are not UTF-8 would make the whole document invalid.
      {"bad \xff byte", "\"bad \xef\xbf\xbd byte\""},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(JSONString(Case.In), Case.Out) << Case.In;
}

TEST(NotesText, ANoteIsAnObjectOfItsFourFields) {
  EXPECT_EQ(NoteJSON(TNote{42, "T", "B\n", "\"A\""}), R"({"id":42,"title":"T","body":"B\n","author":"\"A\""})");
}

TEST(NotesModule, NoteAddressesAcceptOnlyDecimalIdsBetweenThePrefixAndTheSuffix) {
  struct TCase {
    const char* Path;
    const char* Suffix;
    std::optional<std::int64_t> Id;
  } Cases[] = {
      {"/notes/12", "", 12},
      {"/NOTES/12", "", 12},
      {"/notes/007", "", 7},
      {"/notes/5/delete", "/delete", 5},
      {"/notes/5/DELETE", "/delete", 5},
      {"/notes/", "", std::nullopt},
      {"/notes/1a", "", std::nullopt},
      {"/notes/-1", "", std::nullopt},
      {"/notes/+1", "", std::nullopt},
      {"/notes/ 1", "", std::nullopt},
      {"/notes/99999999999999999999", "", std::nullopt},
      {"/notes/5/delete", "", std::nullopt},
      {"/notes//delete", "/delete", std::nullopt},
      {"/notes/delete", "/delete", std::nullopt},
      {"/other/5", "", std::nullopt},
  };
  for (const TCase& Case : Cases) EXPECT_EQ(NoteIdOf(Case.Path, Case.Suffix), Case.Id) << Case.Path;
}

std::string ReadAll(TNotesExportStream& Stream) {
  std::string out;
  char buffer[7];  // small, so that lines are handed out in pieces
  while (const auto n = Stream.Read(buffer, sizeof buffer)) out.append(buffer, std::size_t(n));
  return out;
}

TEST(NotesExportStream, HandsOutExactlyTheSnapshotItsLengthWasCountedFrom) {
  tolvane::testing::TTempFolder dir("notes");
  TNotesStore store(dir.File("notes.db"));
  const std::int64_t first = store.Add({0, "first", "one", "ann"});
  const std::int64_t second = store.Add({0, "second \"2\"", "two\nlines", ""});
  const std::string expected = NoteJSON({first, "first", "one", "ann"}) + "\n" +
                               NoteJSON({second, "second \"2\"", "two\nlines", ""}) + "\n";

  TNotesExportStream stream(dir.File("notes.db"));
  // Changes after the stream began are not part of it.
  store.Add({0, "third", "three", ""});
  ASSERT_TRUE(store.Delete(first));

  EXPECT_EQ(stream.Size(), std::int64_t(expected.size()));
  EXPECT_EQ(ReadAll(stream), expected);
  EXPECT_EQ(stream.Position(), stream.Size());
  // Back to the start, and into the middle of a line.
  stream.SetPosition(0);
  EXPECT_EQ(ReadAll(stream), expected);
  stream.SetPosition(5);
  EXPECT_EQ(ReadAll(stream), expected.substr(5));
  EXPECT_EQ(stream.Seek(-3, tolvane::TSeekOrigin::soEnd), stream.Size() - 3);
  EXPECT_EQ(ReadAll(stream), expected.substr(expected.size() - 3));
}

TEST(NotesExportStream, OfNoNotesIsEmpty) {
  tolvane::testing::TTempFolder dir("notes");
  TNotesStore store(dir.File("notes.db"));
  TNotesExportStream stream(dir.File("notes.db"));
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(ReadAll(stream), "");
}

TEST(NotesStore, NotesSurviveTheConnectionAndIdsAreNotUsedTwice) {
  tolvane::testing::TTempFolder dir("notes");
  std::int64_t kept = 0, deleted = 0;
  {
    TNotesStore store(dir.File("notes.db"));
    kept = store.Add({0, "kept", "body", "ann"});
    deleted = store.Add({0, "deleted", "body", ""});
    ASSERT_TRUE(store.Delete(deleted));
    EXPECT_FALSE(store.Delete(deleted));
  }
  TNotesStore store(dir.File("notes.db"));
  const auto notes = store.All();
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].Id, kept);
  EXPECT_EQ(notes[0].Author, "ann");
  EXPECT_GT(store.Add({0, "new", "body", ""}), deleted);
}

// Module sets open their connections when their first requests come, often
// at the same moment on a new file; SQLite refuses some of those set-ups at
// once rather than wait (the wait could deadlock), which lost a first note.
TEST(NotesStore, ConnectionsSettingUpANewFileAtOnceAllSucceed) {
  constexpr int Rounds = 200, Connections = 8;
  for (int round = 0; round < Rounds; ++round) {
    tolvane::testing::TTempFolder dir("notes");
    std::atomic<int> ready{0}, failed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < Connections; ++c)
      threads.emplace_back([&] {
        ready.fetch_add(1);
        while (ready.load() < Connections) std::this_thread::yield();
        try {
          TNotesStore(dir.File("notes.db")).Add({0, "t", "b", ""});
        } catch (const tolvane::Exception&) {
          failed.fetch_add(1);
        }
      });
    for (auto& t : threads) t.join();
    ASSERT_EQ(failed.load(), 0) << "round " << round;
    EXPECT_EQ(TNotesStore(dir.File("notes.db")).All().size(), std::size_t(Connections));
  }
}

TEST(NotesStore, AFolderThatDoesNotExistIsAClearError) {
  tolvane::testing::TTempFolder dir("notes");
  try {
    TNotesStore store(dir.File("missing/notes.db"));
    FAIL() << "opened";
  } catch (const ENotesDatabaseError& E) {
    EXPECT_NE(std::string(E.what()).find("Cannot open the notes database " + dir.File("missing/notes.db")),
              std::string::npos)
        << E.what();
  }
}

}  // namespace
