// The notes module served through the application object in process, the
// way a host's request reaches it: routing, the form and its refusals,
// escaping, the author cookie, JSON, the export, many requests at once and a
// database that cannot be opened.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <tolvane/http/http_utils.h>
#include <tolvane/isapi/extension_library.h>
#include <tolvane/isapi/isapi_app.h>
#include "notes_module.h"
#include "notes_text.h"
#include "support/fake_isapi_host.h"
#include "support/temp_folder.h"

using namespace tolvane;
using tolvane::testing::TFakeIsapiConnection;

namespace {

struct TAnswer {
  std::string Status;   // "303 See Other"
  std::string Headers;  // the header block
  std::string Body;
  // The value of the first header line Name, or empty.
  std::string Header(const std::string& Name) const {
    const std::string all = "\r\n" + Headers;
    const std::size_t found = all.find("\r\n" + Name + ": ");
    if (found == std::string::npos) return {};
    const std::size_t at = found + Name.size() + 4;
    return all.substr(at, all.find("\r\n", at) - at);
  }
};

constexpr const char* FormType = "application/x-www-form-urlencoded";

struct TRequest {
  TRequest(std::string AMethod, std::string APath, std::string ABody = {}, std::string AScriptName = {},
           std::string ACookie = {}, std::string AContentType = FormType)
      : Method(std::move(AMethod)),
        Path(std::move(APath)),
        Body(std::move(ABody)),
        ScriptName(std::move(AScriptName)),
        Cookie(std::move(ACookie)),
        ContentType(std::move(AContentType)) {}
  std::string Method, Path, Body, ScriptName, Cookie, ContentType;
};

TAnswer Serve(const TRequest& R) {
  TFakeIsapiConnection c;
  c.SetMethod(R.Method.c_str()).SetPathInfo(R.Path.c_str());
  c.SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
  c.SetVariable("SCRIPT_NAME", R.ScriptName);
  if (!R.Cookie.empty()) c.SetVariable("HTTP_COOKIE", R.Cookie);
  if (R.Method == "POST") {
    c.SetVariable("CONTENT_TYPE", R.ContentType);
    c.SetVariable("CONTENT_LENGTH", std::to_string(R.Body.size()));
    // Part of the body comes with the request, the rest is read.
    const std::size_t ahead = std::min<std::size_t>(R.Body.size(), 48 * 1024);
    c.SetBody(R.Body.substr(0, ahead), R.Body.substr(ahead));
  }
  tolvane::HttpExtensionProc(c.ECB());
  TAnswer answer;
  const auto heads = c.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
  if (!heads.empty()) {
    answer.Status = heads[0].Data.value_or("");
    answer.Headers = heads[0].Extra.value_or("");
  }
  answer.Body = c.Written();
  return answer;
}

TAnswer Get(const std::string& Path, const std::string& Cookie = {}) {
  return Serve({"GET", Path, "", "", Cookie});
}

TAnswer Post(const std::string& Path, const std::string& Body = {}) {
  return Serve({"POST", Path, Body});
}

std::string Form(const std::vector<std::pair<std::string, std::string>>& Fields) {
  std::string body;
  for (const auto& [name, value] : Fields) body += (body.empty() ? "" : "&") + name + "=" + HTTPEncode(value);
  return body;
}

TAnswer Create(const std::string& Title, const std::string& Body, const std::string& Author = {}) {
  return Post("/notes", Form({{"title", Title}, {"body", Body}, {"author", Author}}));
}

bool Contains(const std::string& Text, const std::string& Part) { return Text.find(Part) != std::string::npos; }

class NotesModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TOLVANE_NOTES_DIR", Dir.Path().c_str(), 1);
    LoadExtensionLibrary({notes::TNotesModule::StaticClass()});
  }
  void TearDown() override {
    UnloadExtensionLibrary();
    unsetenv("TOLVANE_NOTES_DIR");
  }
  tolvane::testing::TTempFolder Dir{"notes"};
};

TEST_F(NotesModuleTest, EachRequestReachesItsActionByMethodAndPathAndEverythingElseIsNotFound) {
  ASSERT_EQ(Create("first", "text").Status, "303 See Other");
  struct TCase {
    const char* Method;
    const char* Path;
    const char* Status;
    const char* ContentType;
    const char* Part;  // of the body
  } Cases[] = {
      {"GET", "/", "200 OK", "text/html; charset=utf-8", "<h1>Notes</h1>"},
      {"GET", "/notes/1", "200 OK", "text/html; charset=utf-8", "<h1>first</h1>"},
      {"GET", "/api/notes", "200 OK", "application/json; charset=utf-8", R"([{"id":1,)"},
      {"GET", "/export", "200 OK", "application/x-ndjson; charset=utf-8", R"({"id":1,)"},
      {"GET", "/notes/2", "404 Not Found", "text/html; charset=utf-8", "There is no such note."},
      {"GET", "/notes/first", "404 Not Found", "text/html; charset=utf-8", "There is no such note."},
      {"GET", "/notes/1/delete", "404 Not Found", "text/html; charset=utf-8", "There is no such note."},
      {"POST", "/notes/2/delete", "404 Not Found", "text/html; charset=utf-8", "There is no such note."},
      {"POST", "/notes/1", "404 Not Found", "text/html; charset=utf-8", "There is no page at /notes/1."},
      {"POST", "/", "404 Not Found", "text/html; charset=utf-8", "There is no page at /."},
      {"PUT", "/notes", "404 Not Found", "text/html; charset=utf-8", "There is no page at /notes."},
      {"GET", "/elsewhere/deep", "404 Not Found", "text/html; charset=utf-8", "There is no page at /elsewhere/deep."},
      {"DELETE", "/notes/1", "404 Not Found", "text/html; charset=utf-8", "There is no page at /notes/1."},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(std::string(Case.Method) + " " + Case.Path);
    const TAnswer a = Serve({Case.Method, Case.Path});
    EXPECT_EQ(a.Status, Case.Status);
    EXPECT_EQ(a.Header("Content-Type"), Case.ContentType);
    EXPECT_EQ(a.Header("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(a.Header("Content-Length"), std::to_string(a.Body.size()));
    EXPECT_TRUE(Contains(a.Body, Case.Part)) << a.Body;
  }
  // Nothing above changed the note.
  EXPECT_EQ(Get("/notes/1").Status, "200 OK");
}

TEST_F(NotesModuleTest, ANoteIsCreatedShownListedAndDeletedAndItsIdIsNotUsedAgain) {
  const TAnswer created = Create("Shopping", "milk\neggs", "Ann");
  EXPECT_EQ(created.Status, "303 See Other");
  EXPECT_EQ(created.Header("Location"), "/notes/1");

  const TAnswer shown = Get("/notes/1");
  EXPECT_EQ(shown.Status, "200 OK");
  for (const char* part : {"<h1>Shopping</h1>", "milk\neggs", "by Ann", R"(action="/notes/1/delete")"})
    EXPECT_TRUE(Contains(shown.Body, part)) << part;

  ASSERT_EQ(Create("Second", "text").Header("Location"), "/notes/2");
  const TAnswer list = Get("/");
  EXPECT_TRUE(Contains(list.Body, R"(<a href="/notes/1">Shopping</a>)"));
  EXPECT_TRUE(Contains(list.Body, "by anonymous"));
  EXPECT_LT(list.Body.find("/notes/2\""), list.Body.find("/notes/1\"")) << "newest first";
  EXPECT_EQ(Get("/api/notes").Body, R"([{"id":2,"title":"Second","body":"text","author":""},)"
                                    R"({"id":1,"title":"Shopping","body":"milk\neggs","author":"Ann"}])");

  const TAnswer deleted = Post("/notes/1/delete");
  EXPECT_EQ(deleted.Status, "303 See Other");
  EXPECT_EQ(deleted.Header("Location"), "/");
  EXPECT_EQ(Get("/notes/1").Status, "404 Not Found");
  EXPECT_EQ(Post("/notes/1/delete").Status, "404 Not Found");
  EXPECT_FALSE(Contains(Get("/").Body, "Shopping"));
  EXPECT_EQ(Create("Third", "text").Header("Location"), "/notes/3");
}

TEST_F(NotesModuleTest, AFormThatCannotBeSavedIsRefusedWithTheReasonAndNothingIsStored) {
  const std::string limit(notes::TNotesModule::MaxFieldBytes, 'x');
  const std::string overLimit = limit + "x";
  // Two bytes of UTF-8 each: the limit counts bytes.
  std::string wideOverLimit;
  for (std::size_t i = 0; i <= notes::TNotesModule::MaxFieldBytes / 2; ++i) wideOverLimit += "é";
  struct TCase {
    const char* Name;
    std::string ContentType;
    std::string Body;
    const char* Status;
    const char* Reason;
  } Cases[] = {
      {"no title", FormType, Form({{"body", "b"}}), "400 Bad Request", "The title is empty."},
      {"empty title", FormType, Form({{"title", ""}, {"body", "b"}}), "400 Bad Request",
       "The title is empty."},
      {"blank body", FormType, Form({{"title", "t"}, {"body", " \r\n\t"}}),
       "400 Bad Request", "The body is empty."},
      {"long title", FormType, Form({{"title", overLimit}, {"body", "b"}}),
       "400 Bad Request", "The title is longer than 64 KiB (65536 bytes)."},
      {"long body in two-byte characters", "application/x-www-form-urlencoded",
       Form({{"title", "t"}, {"body", wideOverLimit}}), "400 Bad Request",
       "The body is longer than 64 KiB (65536 bytes)."},
      {"long author", "application/x-www-form-urlencoded",
       Form({{"title", "t"}, {"body", "b"}, {"author", overLimit}}), "400 Bad Request",
       "The author is longer than 64 KiB (65536 bytes)."},
      {"broken escape", FormType, "title=%zz&body=b", "400 Bad Request",
       "The form could not be decoded"},
      {"escape cut short", FormType, "body=b&title=%4", "400 Bad Request",
       "The form could not be decoded"},
      {"huge form", FormType, "title=t&body=" + std::string(700 * 1024, 'b'),
       "400 Bad Request", "The form is larger than"},
      {"multipart", "multipart/form-data; boundary=x", "--x\r\n", "415",
       "The form must be sent as application/x-www-form-urlencoded."},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TAnswer a = Serve({"POST", "/notes", Case.Body, "", "", Case.ContentType});
    EXPECT_EQ(a.Status, Case.Status);
    EXPECT_TRUE(Contains(a.Body, Case.Reason)) << a.Body.substr(0, 2000);
    EXPECT_EQ(a.Header("Location"), "");
    EXPECT_EQ(a.Header("Set-Cookie"), "");
  }
  EXPECT_EQ(Get("/api/notes").Body, "[]");
  // At the limit it is saved, and the text entered comes back whole.
  const TAnswer atLimit = Create(limit, "b");
  EXPECT_EQ(atLimit.Status, "303 See Other");
  EXPECT_TRUE(Contains(Get("/notes/1").Body, "<h1>" + limit + "</h1>"));
}

TEST_F(NotesModuleTest, RefusedFormsComeBackFilledInSoNothingTypedIsLost) {
  const TAnswer a = Post("/notes", Form({{"title", ""}, {"body", "long text <b>"}, {"author", "Zoë"}}));
  EXPECT_EQ(a.Status, "400 Bad Request");
  EXPECT_TRUE(Contains(a.Body, "long text &lt;b&gt;</textarea>")) << a.Body;
  EXPECT_TRUE(Contains(a.Body, R"(name="author" value="Zoë")")) << a.Body;
}

TEST_F(NotesModuleTest, UserTextIsEscapedInPagesAndInJSON) {
  const std::string title = R"(<script>alert("x")</script>)";
  const std::string body = "quote \" apostrophe ' backslash \\ amp & tab\t nl\n bell\x07 Grüße 😀";
  const std::string author = "<b>O'Brien</b>";
  ASSERT_EQ(Create(title, body, author).Status, "303 See Other");

  for (const std::string& page : {Get("/").Body, Get("/notes/1").Body}) {
    EXPECT_FALSE(Contains(page, "<script>")) << page;
    EXPECT_FALSE(Contains(page, "<b>O")) << page;
    EXPECT_TRUE(Contains(page, "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;")) << page;
    EXPECT_TRUE(Contains(page, "&lt;b&gt;O&#39;Brien&lt;/b&gt;")) << page;
  }
  EXPECT_TRUE(Contains(Get("/notes/1").Body,
                       "quote &quot; apostrophe &#39; backslash \\ amp &amp; tab\t nl\n bell\x07 Grüße 😀"));
  const std::string json = Get("/api/notes").Body;
  EXPECT_EQ(json, "[" + notes::NoteJSON({1, title, body, author}) + "]");
  EXPECT_TRUE(Contains(json, R"("body":"quote \" apostrophe ' backslash \\ amp & tab\t nl\n bell\u0007 Grüße 😀")"))
      << json;
}

TEST_F(NotesModuleTest, TheAuthorIsRememberedInACookieAndFillsInTheForm) {
  const TAnswer created = Create("t", "b", "Zoë O'Brien; admin");
  const std::string cookie = created.Header("Set-Cookie");
  ASSERT_EQ(cookie.substr(0, cookie.find("; expires=")), "author=Zo%C3%AB+O'Brien%3B+admin; path=/");
  EXPECT_TRUE(Contains(cookie, " GMT")) << cookie;

  struct TCase {
    const char* Name;
    std::string Cookie;
    const char* Field;
  } Cases[] = {
      {"the cookie as set", cookie.substr(0, cookie.find(';')), R"(name="author" value="Zoë O&#39;Brien; admin")"},
      {"among other cookies", "a=1; author=Bob; b=2", R"(name="author" value="Bob")"},
      {"none", "", R"(name="author" value="")"},
      {"one that does not decode", "author=%zz", R"(name="author" value="")"},
      {"one that is not UTF-8", "author=%FFx", "name=\"author\" value=\"\xef\xbf\xbdx\""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const TAnswer a = Get("/", Case.Cookie);
    EXPECT_EQ(a.Status, "200 OK");
    EXPECT_TRUE(Contains(a.Body, Case.Field)) << a.Body;
  }
  // An empty name forgets the cookie; one too long to carry leaves it alone.
  const std::string forget = Create("t", "b", "").Header("Set-Cookie");
  EXPECT_EQ(forget, "author=; path=/; expires=Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(Create("t", "b", std::string(2000, 'n')).Header("Set-Cookie"), "");
}

TEST_F(NotesModuleTest, UnderAMountEveryLinkRedirectAndCookieCarriesItsPath) {
  struct TCase {
    const char* ScriptName;
    const char* Base;
  } Cases[] = {{"", ""}, {"/", ""}, {"/app", "/app"}, {"/app/", "/app"}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.ScriptName);
    const std::string base = Case.Base;
    const TAnswer created =
        Serve({"POST", "/notes", Form({{"title", "t"}, {"body", "b"}, {"author", "a"}}), Case.ScriptName});
    const std::string location = created.Header("Location");
    EXPECT_EQ(location.substr(0, base.size() + 7), base + "/notes/");
    EXPECT_TRUE(Contains(created.Header("Set-Cookie"), "; path=" + base + "/;"));
    const TAnswer list = Serve({"GET", "/", "", Case.ScriptName});
    EXPECT_TRUE(Contains(list.Body, "action=\"" + base + "/notes\""));
    EXPECT_TRUE(Contains(list.Body, "href=\"" + location + "\""));
    const TAnswer deleted = Serve({"POST", location.substr(base.size()) + "/delete", "", Case.ScriptName});
    EXPECT_EQ(deleted.Header("Location"), base + "/");
  }
}

TEST_F(NotesModuleTest, TheExportDeclaresTheLengthOfWhatItSendsOneLinePerNoteOldestFirst) {
  std::string expected;
  for (int i = 1; i <= 40; ++i) {
    // Long enough bodies that the export goes out in several writes.
    const std::string body(3000 + std::size_t(i), char('a' + i % 26));
    ASSERT_EQ(Create("note " + std::to_string(i), body, "\"q\"").Status, "303 See Other");
    expected += notes::NoteJSON({i, "note " + std::to_string(i), body, "\"q\""}) + "\n";
  }
  const TAnswer a = Get("/export");
  EXPECT_EQ(a.Status, "200 OK");
  EXPECT_EQ(a.Header("Content-Length"), std::to_string(expected.size()));
  EXPECT_EQ(a.Header("Content-Disposition"), R"(attachment; filename="notes.jsonl")");
  EXPECT_EQ(a.Body, expected);
}

TEST_F(NotesModuleTest, NotesCreatedByManyRequestsAtOnceAreAllKept) {
  constexpr int Clients = 8, Each = 12;
  std::vector<std::vector<std::string>> locations(Clients);
  std::vector<std::thread> threads;
  for (int c = 0; c < Clients; ++c)
    threads.emplace_back([c, &locations] {
      for (int i = 0; i < Each; ++i) {
        const TAnswer a = Create("client " + std::to_string(c) + " note " + std::to_string(i), "b");
        locations[std::size_t(c)].push_back(a.Status == "303 See Other" ? a.Header("Location") : a.Status + a.Body);
      }
    });
  for (auto& t : threads) t.join();
  std::set<std::string> distinct;
  for (const auto& client : locations)
    for (const auto& location : client) {
      EXPECT_EQ(location.rfind("/notes/", 0), 0u) << location;
      distinct.insert(location);
    }
  EXPECT_EQ(distinct.size(), std::size_t(Clients * Each));
  const std::string json = Get("/api/notes").Body;
  for (int c = 0; c < Clients; ++c)
    for (int i = 0; i < Each; ++i)
      EXPECT_TRUE(Contains(json, "\"client " + std::to_string(c) + " note " + std::to_string(i) + "\""));
}

TEST_F(NotesModuleTest, ADatabaseThatCannotBeOpenedAnswersAnErrorPageThatSaysWhy) {
  const std::string missing = Dir.File("no such folder");
  setenv("TOLVANE_NOTES_DIR", missing.c_str(), 1);
  for (const char* path : {"/", "/api/notes", "/notes/1"}) {
    const TAnswer a = Get(path);
    EXPECT_EQ(a.Status, "500 Internal Server Error") << path;
    EXPECT_TRUE(Contains(a.Body, "Cannot open the notes database " + missing + "/notes.db")) << a.Body;
  }
}

}  // namespace
