// The built notes extension served by tolvane-host, driven with curl the way
// a person's browser or script would use it.
#include "host/host_process.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tolvane::host::test {
namespace {

struct TResponse {
  std::string Head;  // status line and header lines
  std::string Body;
  // The value of header Name (any case), or empty.
  // A plain search: clients on several threads call it, and building a
  // std::regex there races inside libstdc++'s locale (ThreadSanitizer).
  std::string Header(const std::string& Name) const {
    auto lower = [](std::string Text) {
      for (char& C : Text) C = char(std::tolower(static_cast<unsigned char>(C)));
      return Text;
    };
    const std::string key = "\r\n" + lower(Name) + ": ";
    const std::size_t at = lower(Head).find(key);
    if (at == std::string::npos) return {};
    const std::size_t start = at + key.size();
    return Head.substr(start, Head.find("\r\n", start) - start);
  }
  std::string Status() const { return Head.substr(0, Head.find("\r\n")); }
};

// curl -i with the given arguments; the head of the last response and its body.
TResponse Fetch(std::vector<std::string> Arguments) {
  Arguments.insert(Arguments.begin(), "-i");
  const TCommandResult result = Curl(Arguments);
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  TResponse response;
  std::size_t start = 0;
  // Followed redirects leave one head per response; the last one counts.
  for (std::size_t end; (end = result.Out.find("\r\n\r\n", start)) != std::string::npos;) {
    response.Head = result.Out.substr(start, end + 2 - start);
    response.Body = result.Out.substr(end + 4);
    start = end + 4;
    if (result.Out.compare(start, 5, "HTTP/") != 0) break;
  }
  return response;
}

bool Contains(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

class NotesHost : public ::testing::Test {
 protected:
  void StartHost() {
    ASSERT_TRUE(Host.Start({}, {{"TOLVANE_NOTES_DIR", Data.Path().string()}})) << Host.Log();
  }
  void SetUp() override { StartHost(); }
  void TearDown() override {
    if (!Host.Running()) return;
    EXPECT_EQ(Host.Stop(), 0) << Host.Log();
  }
  TResponse Create(const std::string& Title, const std::string& Body, const std::string& Author,
                   std::vector<std::string> More = {}) {
    More.insert(More.end(), {"--data-urlencode", "title=" + Title, "--data-urlencode", "body=" + Body,
                             "--data-urlencode", "author=" + Author, Host.Url("/notes")});
    return Fetch(More);
  }

  tolvane::testing::TTempFolder Data{"notes data"};
  THostProcess Host;
};

TEST_F(NotesHost, ANoteIsCreatedShownListedGivenAsJSONAndDeleted) {
  const TResponse created = Create(R"(<script>alert("hi")</script>)", "line one\nline two", "Ann");
  EXPECT_EQ(created.Status(), "HTTP/1.1 303 See Other");
  EXPECT_EQ(created.Header("Location"), "/notes/1");
  EXPECT_EQ(created.Header("X-Content-Type-Options"), "nosniff");

  const TResponse shown = Fetch({Host.Url("/notes/1")});
  EXPECT_EQ(shown.Status(), "HTTP/1.1 200 OK");
  EXPECT_EQ(shown.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_FALSE(Contains(shown.Body, "<script>")) << shown.Body;
  EXPECT_TRUE(Contains(shown.Body, "<h1>&lt;script&gt;alert(&quot;hi&quot;)&lt;/script&gt;</h1>")) << shown.Body;
  EXPECT_TRUE(Contains(shown.Body, "line one\nline two"));

  const TResponse list = Fetch({Host.Url("/")});
  EXPECT_EQ(list.Status(), "HTTP/1.1 200 OK");
  EXPECT_TRUE(Contains(list.Body, R"(<a href="/notes/1">&lt;script&gt;)")) << list.Body;
  EXPECT_FALSE(Contains(list.Body, "<script>"));

  const TResponse json = Fetch({Host.Url("/api/notes")});
  EXPECT_EQ(json.Header("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(json.Body, R"([{"id":1,"title":"<script>alert(\"hi\")</script>","body":"line one\nline two",)"
                       R"("author":"Ann"}])");

  const TResponse deleted = Fetch({"-X", "POST", Host.Url("/notes/1/delete")});
  EXPECT_EQ(deleted.Status(), "HTTP/1.1 303 See Other");
  EXPECT_EQ(deleted.Header("Location"), "/");
  const TResponse gone = Fetch({Host.Url("/notes/1")});
  EXPECT_EQ(gone.Status(), "HTTP/1.1 404 Not Found");
  EXPECT_TRUE(Contains(gone.Body, "There is no such note.")) << gone.Body;
  EXPECT_EQ(Fetch({Host.Url("/api/notes")}).Body, "[]");
}

TEST_F(NotesHost, BadFormsAndUnknownAddressesAreAnsweredWithTheReason) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Arguments;
    const char* Status;
    const char* Reason;
  } Cases[] = {
      {"empty title", {"--data", "title=&body=text", Host.Url("/notes")}, "HTTP/1.1 400 Bad Request",
       "The title is empty."},
      {"no body", {"--data", "title=t", Host.Url("/notes")}, "HTTP/1.1 400 Bad Request", "The body is empty."},
      {"title over 64 KiB", {"--data", "body=b&title=" + std::string(64 * 1024 + 1, 't'), Host.Url("/notes")},
       "HTTP/1.1 400 Bad Request", "The title is longer than 64 KiB (65536 bytes)."},
      {"unknown note", {Host.Url("/notes/42")}, "HTTP/1.1 404 Not Found", "There is no such note."},
      {"unknown page", {Host.Url("/no/such/page")}, "HTTP/1.1 404 Not Found", "There is no page at /no/such/page."},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TResponse response = Fetch(Case.Arguments);
    EXPECT_EQ(response.Status(), Case.Status);
    EXPECT_TRUE(Contains(response.Body, Case.Reason)) << response.Body.substr(0, 1000);
  }
  EXPECT_EQ(Fetch({Host.Url("/api/notes")}).Body, "[]");
}

TEST_F(NotesHost, TheAuthorCookieComesBackAndFillsInTheForm) {
  const std::string jar = Data.File("cookies.txt");
  const TResponse created = Create("t", "b", "Zoë & co", {"-c", jar});
  EXPECT_TRUE(Contains(created.Header("Set-Cookie"), "author=Zo%C3%AB+%26+co; path=/; expires=")) << created.Head;
  const TResponse list = Fetch({"-b", jar, Host.Url("/")});
  EXPECT_TRUE(Contains(list.Body, R"(name="author" value="Zoë &amp; co")")) << list.Body;
  EXPECT_TRUE(Contains(Fetch({Host.Url("/")}).Body, R"(name="author" value="")"));
}

TEST_F(NotesHost, TheExportDeclaresExactlyTheBytesItSends) {
  // Large enough that the export goes out in several writes.
  constexpr int Notes = 8;
  for (int i = 0; i < Notes; ++i)
    ASSERT_EQ(Create("n" + std::to_string(i), std::string(20000, 'x'), "").Status(), "HTTP/1.1 303 See Other");
  const auto result = Curl({"-D", Data.File("head"), "-o", Data.File("body"), "-w", "%{size_download}",
                            Host.Url("/export")});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  std::ifstream headFile(Data.File("head"));
  const std::string headText((std::istreambuf_iterator<char>(headFile)), std::istreambuf_iterator<char>());
  TResponse exported{headText, {}};
  EXPECT_EQ(exported.Header("Content-Length"), result.Out);
  EXPECT_GT(std::stoll(result.Out), Notes * 20000);
  std::ifstream bodyFile(Data.File("body"));
  int lines = 0;
  for (std::string line; std::getline(bodyFile, line); ++lines)
    EXPECT_EQ(line.rfind("{\"id\":" + std::to_string(lines + 1) + ",", 0), 0u) << line.substr(0, 80);
  EXPECT_EQ(lines, Notes);
}

TEST_F(NotesHost, EightClientsCreatingNotesAtOnceLoseNone) {
  constexpr int Clients = 8, Each = 3;
  std::vector<std::vector<std::string>> locations(Clients);
  std::vector<std::thread> threads;
  for (int c = 0; c < Clients; ++c)
    threads.emplace_back([this, c, &locations] {
      for (int i = 0; i < Each; ++i)
        locations[std::size_t(c)].push_back(
            Create("c" + std::to_string(c) + "n" + std::to_string(i), "b", "").Header("Location"));
    });
  for (auto& t : threads) t.join();
  std::set<std::string> distinct;
  for (const auto& client : locations)
    for (const auto& location : client) {
      EXPECT_TRUE(location.size() > 7 && location.starts_with("/notes/") &&
                  location.find_first_not_of("0123456789", 7) == std::string::npos)
          << location;
      distinct.insert(location);
    }
  EXPECT_EQ(distinct.size(), std::size_t(Clients * Each));
  const std::string json = Fetch({Host.Url("/api/notes")}).Body;
  for (int c = 0; c < Clients; ++c)
    for (int i = 0; i < Each; ++i)
      EXPECT_TRUE(Contains(json, "\"c" + std::to_string(c) + "n" + std::to_string(i) + "\"")) << c << " " << i;
}

TEST_F(NotesHost, NotesAreStillThereAfterTheHostRestarts) {
  ASSERT_EQ(Create("kept", "across restarts", "Ann").Header("Location"), "/notes/1");
  ASSERT_EQ(Create("deleted", "before the restart", "").Header("Location"), "/notes/2");
  ASSERT_EQ(Fetch({"-X", "POST", Host.Url("/notes/2/delete")}).Header("Location"), "/");
  ASSERT_EQ(Host.Stop(), 0) << Host.Log();
  StartHost();
  EXPECT_EQ(Fetch({Host.Url("/api/notes")}).Body,
            R"([{"id":1,"title":"kept","body":"across restarts","author":"Ann"}])");
  EXPECT_EQ(Create("new", "after", "").Header("Location"), "/notes/3");
}

}  // namespace
}  // namespace tolvane::host::test
