#include <gtest/gtest.h>

#include <cmath>

#include <tolvane/http/cookie.h>
#include <tolvane/http/web_response.h>
#include <tolvane/runtime/exception.h>
#include "support/test_web_request.h"

using namespace tolvane;
using tolvane::testing::TTestWebRequest;
using tolvane::testing::TTestWebResponse;

namespace {

std::vector<String> Entries(const TStrings& List) {
  std::vector<String> r;
  for (int i = 0; i < List.Count(); ++i) r.push_back(List[i]);
  return r;
}

// A memory stream that reports its own destruction.
class TTrackedStream : public TMemoryStream {
 public:
  TTrackedStream(int Size, bool& Freed) : FFreed(Freed) {
    std::string bytes(std::size_t(Size), 'x');
    WriteBuffer(bytes.data(), Size);
  }
  ~TTrackedStream() override { FFreed = true; }

 private:
  bool& FFreed;
};

class WebResponseTest : public ::testing::Test {
 protected:
  TTestWebRequest Request;
  TTestWebResponse Response{&Request};
};

}  // namespace

TEST_F(WebResponseTest, StartsEmptyAndAnswersItsRequest) {
  EXPECT_TRUE(Response.FreeContentStream());
  EXPECT_EQ(Response.Cookies().Count(), 0);
  EXPECT_EQ(Response.CustomHeaders().Count(), 0);
  EXPECT_EQ(Response.ContentStream(), nullptr);
  EXPECT_FALSE(Response.TWebResponse::Sent());
  EXPECT_EQ(Response.HTTPRequest(), &Request);
  EXPECT_EQ(Response.Cookies().WebResponse(), &Response);
}

TEST_F(WebResponseTest, CustomHeadersAreKeyedByNameIgnoringCase) {
  Response.SetCustomHeader(u"X-A", u"1");
  Response.SetCustomHeader(u"X-B", u"b");
  Response.SetCustomHeader(u"x-a", u"2");
  EXPECT_EQ(Entries(Response.CustomHeaders()), (std::vector<String>{u"x-a=2", u"X-B=b"}));
  EXPECT_EQ(Response.GetCustomHeader(u"X-A"), u"2");
  EXPECT_EQ(Response.GetCustomHeader(u"missing"), u"");
  Response.SetCustomHeader(u"x-A", u"");
  Response.SetCustomHeader(u"absent", u"");
  EXPECT_EQ(Entries(Response.CustomHeaders()), std::vector<String>{u"X-B=b"});

  TStringList other;
  other.Add(u"C=3");
  Response.SetCustomHeaders(other);
  other.Add(u"D=4");  // a copy was taken
  EXPECT_EQ(Entries(Response.CustomHeaders()), std::vector<String>{u"C=3"});
}

TEST_F(WebResponseTest, AddCustomHeadersWritesOneLinePerEntry) {
  struct Case { std::vector<String> entries; String lines; } cases[] = {
      {{u"A=1", u"B=2"}, u"A: 1\r\nB: 2\r\n"},
      // Lines carry the value a lookup by their name finds.
      {{u"A=1", u"a=2"}, u"A: 1\r\na: 1\r\n"},
      {{u"bare", u"=v"}, u": \r\n: \r\n"},
      {{}, u""},
      // Names and values cannot end the line or the block early.
      {{u"X\r\nSet-Cookie: admin=1\r\nX-B: 2", String(u"N\0x=a\nb\tc", 9)}, u"X  Set-Cookie: admin: 1  X-B: 2\r\nN x: a b\tc\r\n"},
  };
  for (const auto& c : cases) {
    Response.CustomHeaders().Clear();
    for (const auto& e : c.entries) Response.CustomHeaders().Add(e);
    String headers = u"Head: x\r\n";
    Response.AddCustomHeaders(headers);
    EXPECT_EQ(headers, u"Head: x\r\n" + c.lines);
  }
}

// Many entries, names repeated in other letter case and with letters outside
// ASCII that compare equal to ASCII ones: each line or cookie carries what a
// lookup by its name gives, in list order.
TEST_F(WebResponseTest, ManyHeadersAndCookiesTakeTheValueOfTheFirstEntryOfTheirName) {
  const String names[] = {u"X-Id", u"x-id", u"X-ID", u"\u017Fet", u"SET", u"set", u"\u0131d", u"ID",
                          u"\u00C9t\u00E9", u"\u00E9T\u00C9", u"",  u"Sum", u"sUm", u"tab"};
  TStringList values;
  for (int i = 0; i < 600; ++i) {
    const String& name = names[std::size_t(i * 7 + i / 14) % std::size(names)];
    values.Add(i % 97 == 5 ? u"bare" + IntToStr(i) : name + u"=" + IntToStr(i) + (i % 2 ? u"=x" : u""));
  }
  values.Add(u"Unique=last");
  String expected;
  for (int i = 0; i < values.Count(); ++i) {
    String name = values.Names(i);
    expected += name + u": " + values.Values(name) + u"\r\n";
  }
  Response.SetCustomHeaders(values);
  String headers;
  Response.AddCustomHeaders(headers);
  EXPECT_TRUE(headers == expected);

  Response.SetCookieField(values, "d", "/", -1.0, false);
  ASSERT_EQ(Response.Cookies().Count(), values.Count());
  for (int i = 0; i < values.Count(); ++i) {
    String name = values.Names(i);
    ASSERT_EQ(Response.Cookies().Items(i)->Name(), AnsiOf(name)) << i;
    ASSERT_EQ(Response.Cookies().Items(i)->Value(), AnsiOf(values.Values(name))) << i;
  }
}

TEST(Cookie, HeaderValueListsTheSetParts) {
  const TDateTime nov6 = EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37, 0);
  struct Case {
    const char *name, *value, *domain, *path;
    TDateTime expires;
    bool secure;
    const char* header;
  } cases[] = {
      {"n", "v", "", "", -1.0, false, "n=v"},
      {"n", "v", "", "", -1.0, true, "n=v; secure"},
      {"", "", "", "", -1.0, false, "="},
      {"id", "a b", "", "/", nov6, false, "id=a+b; path=/; expires=Sun, 06 Nov 1994 08:49:37 GMT"},
      {"n", "v", "", "", 0.0, false, "n=v; expires=Sat, 30 Dec 1899 00:00:00 GMT"},
      {"n", "v", "", "", -1.5, false, "n=v"},
      {"n", "v", "example.org", "/app", nov6, true,
       "n=v; domain=example.org; path=/app; expires=Sun, 06 Nov 1994 08:49:37 GMT; secure"},
      {"a;b", "1=2,\xE9", "", "", -1.0, false, "a%3Bb=1%3D2%2C%E9"},
      {"n", "v", "", "", 1e15, false, "n=v"},  // no HTTP date for it
      // Whether a date has an HTTP form is decided on the date as written.
      {"n", "v", "", "", EncodeDate(9999, 12, 31) + 1 - 0.6 / 86400000, false,
       "n=v; expires=Fri, 31 Dec 9999 23:59:59 GMT"},
      {"n", "v", "", "", std::nextafter(EncodeDate(9999, 12, 31) + 1, 0.0), false, "n=v"},
  };
  for (const auto& c : cases) {
    TCookie cookie;
    cookie.SetName(c.name);
    cookie.SetValue(c.value);
    cookie.SetDomain(c.domain);
    cookie.SetPath(c.path);
    cookie.SetExpires(c.expires);
    cookie.SetSecure(c.secure);
    EXPECT_EQ(cookie.HeaderValue(), c.header);
  }
}

TEST_F(WebResponseTest, CookiesAreAddedAndCopiedInPlace) {
  TCookie* first = Response.Cookies().Add();
  EXPECT_EQ(first->Expires(), -1.0);
  EXPECT_EQ(first->Collection(), &Response.Cookies());

  TCookie source;
  source.SetName("s");
  source.SetValue("v");
  source.SetDomain("d");
  source.SetPath("/p");
  source.SetExpires(2.5);
  source.SetSecure(true);
  Response.Cookies().SetItem(0, source);
  ASSERT_EQ(Response.Cookies().Items(0), first);
  EXPECT_EQ(first->HeaderValue(), source.HeaderValue());
  EXPECT_EQ(first->Path(), "/p");

  TCookieCollection other(nullptr, TCookie::StaticClass());
  try {
    other.Assign(first);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a TCookie to a TCookieCollection");
  }

  TStringList values;
  values.Add(u"a=1");
  values.Add(u"B=x y");
  values.Add(u"a=2");
  Response.SetCookieField(values, "example.org", "/", 3.0, true);
  ASSERT_EQ(Response.Cookies().Count(), 4);
  const char* expected[][2] = {{"a", "1"}, {"B", "x y"}, {"a", "1"}};
  for (int i = 0; i < 3; ++i) {
    TCookie* c = Response.Cookies().Items(i + 1);
    EXPECT_EQ(c->Name(), expected[i][0]);
    EXPECT_EQ(c->Value(), expected[i][1]);
    EXPECT_EQ(c->Domain(), "example.org");
    EXPECT_EQ(c->Path(), "/");
    EXPECT_EQ(c->Expires(), 3.0);
    EXPECT_TRUE(c->Secure());
  }
}

TEST_F(WebResponseTest, TextContentFollowsTheContentTypeAtTheTimeOfSetting) {
  struct Case { const char* type; String text; std::string bytes; } cases[] = {
      {"text/plain; charset=utf-8", u"\u00E9", "\xC3\xA9"},
      {"text/plain", u"\u00E9", "\xE9"},
      {"text/plain", u"\u4E00", "?"},
      {"text/plain; charset=utf-8", u"", ""},
  };
  for (const auto& c : cases) {
    Response.SetContentType(c.type);
    Response.SetUnicodeContent(c.text);
    EXPECT_EQ(Response.RawContent(), c.bytes) << c.type;
    EXPECT_EQ(Response.ContentLength(), int(c.bytes.size()));
  }
  Response.SetContentType("text/plain; charset=utf-8");
  Response.SetUnicodeContent(u"\u00E9");
  Response.SetContentType("text/plain");  // not re-encoded
  EXPECT_EQ(Response.RawContent(), "\xC3\xA9");
  EXPECT_EQ(Response.Content(), u"\u00C3\u00A9");
}

TEST_F(WebResponseTest, ContentStreamSetsTheLengthAndIsFreedWhenOwned) {
  Response.SetRawContent("abc");
  bool firstFreed = false, secondFreed = false;
  auto* first = new TTrackedStream(10, firstFreed);
  Response.SetContentStream(first);
  EXPECT_EQ(Response.ContentLength(), 10);
  Response.SetContentLength(99);
  Response.SetContentStream(first);  // the same stream: nothing happens
  EXPECT_EQ(Response.ContentLength(), 99);
  EXPECT_FALSE(firstFreed);

  auto* second = new TTrackedStream(4, secondFreed);
  Response.SetContentStream(second);
  EXPECT_TRUE(firstFreed);
  EXPECT_EQ(Response.ContentLength(), 4);
  Response.SetContentStream(nullptr);
  EXPECT_TRUE(secondFreed);
  EXPECT_EQ(Response.ContentLength(), 3);
}

TEST(WebResponse, ABorrowedStreamIsLeftToItsOwner) {
  bool freed = false;
  TTrackedStream stream(6, freed);
  {
    TTestWebRequest request;
    TTestWebResponse response(&request);
    response.SetFreeContentStream(false);
    response.SetContentStream(&stream);
    EXPECT_EQ(response.ContentLength(), 6);
  }
  EXPECT_FALSE(freed);

  bool ownedFreed = false;
  {
    TTestWebRequest request;
    TTestWebResponse response(&request);
    response.SetContentStream(new TTrackedStream(1, ownedFreed));
  }
  EXPECT_TRUE(ownedFreed);
}

TEST_F(WebResponseTest, FormatAuthenticateAddsTheRealmWhenSet) {
  struct Case { const char *scheme, *realm, *value; } cases[] = {
      {"Basic", "R", "Basic Realm=R"},
      {"Basic", "", "Basic"},
      {"", "R", " Realm=R"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    Response.SetWWWAuthenticate(c.scheme);
    Response.SetRealm(c.realm);
    EXPECT_EQ(Response.FormatAuthenticate(), c.value);
  }
}
