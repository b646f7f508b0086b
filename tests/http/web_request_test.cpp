#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "allocation_ceiling.h"
#include <tolvane/http/web_request.h>
#include <tolvane/runtime/exception.h>
#include "support/test_web_request.h"

using namespace tolvane;
using tolvane::testing::TAllocationCeiling;
using tolvane::testing::TTestWebRequest;

namespace {

std::vector<String> Entries(const TStrings& List) {
  std::vector<String> r;
  for (int i = 0; i < List.Count(); ++i) r.push_back(List[i]);
  return r;
}

}  // namespace

TEST(WebRequest, MethodTypeComesFromTheExactMethodName) {
  struct Case { const char* method; TMethodType type; } cases[] = {
      {"GET", TMethodType::mtGet},   {"PUT", TMethodType::mtPut},     {"POST", TMethodType::mtPost},
      {"HEAD", TMethodType::mtHead}, {"Get", TMethodType::mtAny},     {"DELETE", TMethodType::mtAny},
      {"OPTIONS", TMethodType::mtAny}, {"GET ", TMethodType::mtAny},  {"", TMethodType::mtAny},
  };
  for (const auto& c : cases) {
    TTestWebRequest request;
    request.Set(rvMethod, c.method);
    EXPECT_EQ(request.MethodType(), c.type) << c.method;
  }
}

TEST(WebRequest, MethodTypeIsFixedOnceWorkedOut) {
  TTestWebRequest request;
  request.Set(rvMethod, "POST");
  EXPECT_EQ(request.MethodType(), TMethodType::mtPost);
  request.Set(rvMethod, "GET");
  EXPECT_EQ(request.MethodType(), TMethodType::mtPost);
  request.Set(rvMethod, "BREW");
  request.UpdateMethodType();  // no match keeps the value
  EXPECT_EQ(request.MethodType(), TMethodType::mtPost);
}

TEST(WebRequest, PropertiesReadTheirOwnVariables) {
  using Getter = std::function<AnsiString(TWebRequest&)>;
  struct Case { int index; Getter get; } cases[] = {
      {rvMethod, &TWebRequest::Method},           {rvProtocolVersion, &TWebRequest::ProtocolVersion},
      {rvURL, &TWebRequest::URL},                 {rvQuery, &TWebRequest::Query},
      {rvPathInfo, &TWebRequest::PathInfo},       {rvPathTranslated, &TWebRequest::PathTranslated},
      {rvCacheControl, &TWebRequest::CacheControl}, {rvAccept, &TWebRequest::Accept},
      {rvFrom, &TWebRequest::From},               {rvHost, &TWebRequest::Host},
      {rvReferer, &TWebRequest::Referer},         {rvUserAgent, &TWebRequest::UserAgent},
      {rvContentEncoding, &TWebRequest::ContentEncoding}, {rvContentType, &TWebRequest::ContentType},
      {rvContentVersion, &TWebRequest::ContentVersion}, {rvDerivedFrom, &TWebRequest::DerivedFrom},
      {rvTitle, &TWebRequest::Title},             {rvRemoteAddr, &TWebRequest::RemoteAddr},
      {rvRemoteHost, &TWebRequest::RemoteHost},   {rvScriptName, &TWebRequest::ScriptName},
      {rvRawContent, &TWebRequest::RawContent},   {rvConnection, &TWebRequest::Connection},
      {rvCookie, &TWebRequest::Cookie},           {rvAuthorization, &TWebRequest::Authorization},
      {rvPathInfo, &TWebRequest::InternalPathInfo}, {rvPathInfo, &TWebRequest::RawPathInfo},
      {rvScriptName, &TWebRequest::InternalScriptName},
  };
  TTestWebRequest request;
  for (int i = 0; i < RequestVariableCount; ++i) request.Set(i, "v" + std::to_string(i));
  for (const auto& c : cases) EXPECT_EQ(c.get(request), "v" + std::to_string(c.index));

  request.SetInteger(rvContentLength, 16).SetInteger(rvServerPort, 24);
  request.SetDate(rvDate, 7.5).SetDate(rvIfModifiedSince, 11.5).SetDate(rvExpires, 19.5);
  EXPECT_EQ(request.ContentLength(), 16);
  EXPECT_EQ(request.ServerPort(), 24);
  EXPECT_EQ(request.Date(), 7.5);
  EXPECT_EQ(request.IfModifiedSince(), 11.5);
  EXPECT_EQ(request.Expires(), 19.5);
  EXPECT_EQ(request.RemoteIP(), u"");
}

TEST(WebRequest, QueryFieldsAreDecodedOnceAndKept) {
  struct Case { const char* query; std::vector<String> fields; } cases[] = {
      {"a=1&b=two+words&c=%41", {u"a=1", u"b=two words", u"c=A"}},
      {"a=1&&b", {u"a=1", u"", u"b"}},
      {"n=%E9t%E9", {u"n=\u00E9t\u00E9"}},
      {"q=\"x&y\"", {u"q=\"x&y\""}},
      {"", {}},
  };
  for (const auto& c : cases) {
    TTestWebRequest request;
    request.Set(rvQuery, c.query);
    TStrings& fields = request.QueryFields();
    EXPECT_EQ(Entries(fields), c.fields) << c.query;
    request.Set(rvQuery, "changed=1");
    EXPECT_EQ(&request.QueryFields(), &fields);
    EXPECT_EQ(Entries(request.QueryFields()), c.fields);
    EXPECT_EQ(request.StringVariableReads[rvQuery], 1);
  }
}

TEST(WebRequest, AFailedQueryDecodeLeavesThePartialList) {
  TTestWebRequest request;
  request.Set(rvQuery, "a=1&x=%4&b=2");
  try {
    request.QueryFields();
    ADD_FAILURE();
  } catch (const ECorvelException& e) {
    EXPECT_EQ(e.Message(), u"Error decoding URL style (%XX) encoded string at position 3");
  }
  EXPECT_EQ(Entries(request.QueryFields()), std::vector<String>{u"a=1"});
}

TEST(WebRequest, CookieFieldsSplitAtCommasAndSemicolons) {
  struct Case { const char* cookie; std::vector<String> fields; } cases[] = {
      {"a=1, b=2;c=3", {u"a=1", u"b=2", u"c=3"}},
      {"a=1; b=x%20y", {u"a=1", u"b=x y"}},
      {"q=\"v; w\"; r=1", {u"q=\"v; w\"", u"r=1"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    TTestWebRequest request;
    request.Set(rvCookie, c.cookie);
    EXPECT_EQ(Entries(request.CookieFields()), c.fields) << c.cookie;
  }
}

TEST(WebRequest, ContentFieldsReadTheWholeBody) {
  const char* kUTF8 = "application/x-www-form-urlencoded; charset=utf-8";
  const char* kForm = "application/x-www-form-urlencoded";
  std::string big = "x=" + std::string(150000, 'a');
  struct Case {
    const char* name;
    const char* type;
    std::string arrived, unread;
    int length;       // -2: arrived and unread together
    int maxRead;      // the most one client read hands out
    int failReadsFrom;
    std::vector<String> fields;
    std::vector<int> reads;  // the Count of each read asked of the client
  } cases[] = {
      {"no length", kForm, "a=1", "", 0, INT_MAX, -1, {}, {}},
      {"length -1", kForm, "a=1", "b=2", -1, INT_MAX, -1, {}, {}},
      {"all arrived", kForm, "a=1&b=2", "", -2, INT_MAX, -1, {u"a=1", u"b=2"}, {}},
      {"bytes are read in the ANSI code page", kUTF8, "n=%C3%A9", "", -2, INT_MAX, -1, {u"n=\u00C3\u00A9"}, {}},
      {"multi-byte text that all arrived", kUTF8, "n=\xC3\xA9&m=\xE2\x82\xAC", "", -2, INT_MAX, -1,
       {u"n=\u00E9", u"m=\u20AC"}, {}},
      {"rest read in one go", kForm, "a=1&b=", "2&c=3", -2, INT_MAX, -1, {u"a=1", u"b=2", u"c=3"}, {5}},
      {"rest read in short reads", kForm, "a=1&b=", "2&c=3", -2, 2, -1, {u"a=1", u"b=2", u"c=3"}, {5, 3, 1}},
      {"a character split between reads", kUTF8, "n=\xC3", "\xA9", -2, INT_MAX, -1, {u"n=\u00E9"}, {1}},
      {"the client stops early", kForm, "a=1", "&b", 10, INT_MAX, -1, {u"a=1", u"b"}, {7, 5}},
      {"a read fails", kForm, "", "a=1&b=2", -2, 5, 1, {u"a=1", u"b"}, {7, 2}},
      {"a forged length", kForm, "a=1", "", 2000000000, INT_MAX, -1, {u"a=1"},
       {TWebRequest::ContentReadChunk}},
      {"a long body in bounded chunks", kForm, "", big, -2, INT_MAX, -1, {StringOf(big)},
       {65536, 65536, 150002 - 131072}},
  };
  for (const auto& c : cases) {
    TTestWebRequest request;
    request.Set(rvContentType, c.type).SetBody(c.arrived, c.unread, c.length);
    request.MaxReadSize = c.maxRead;
    request.FailReadsFrom = c.failReadsFrom;
    std::vector<String> fields = Entries(request.ContentFields());
    if (c.fields.size() == 1 && c.fields[0].size() > 100) {
      ASSERT_EQ(fields.size(), 1u) << c.name;
      EXPECT_TRUE(fields[0] == c.fields[0]) << c.name;
    } else {
      EXPECT_EQ(fields, c.fields) << c.name;
    }
    EXPECT_EQ(request.ReadCounts, c.reads) << c.name;
    EXPECT_EQ(&request.ContentFields(), &request.ContentParser().GetContentFields());
  }
}

TEST(WebRequest, ReadsOfNothingDoNotReachTheClient) {
  TTestWebRequest request;
  request.SetBody("", "abc");
  EXPECT_EQ(request.ReadString(0), "");
  EXPECT_EQ(request.ReadString(-5), "");
  EXPECT_EQ(request.ReadUnicodeString(0), u"");
  EXPECT_TRUE(request.ReadCounts.empty());
  EXPECT_EQ(request.ReadString(10), "abc");  // fewer when fewer are there
  EXPECT_EQ(request.ReadString(10), "");     // nothing left
  request.FailReadsFrom = 0;
  request.Unread = "more";
  EXPECT_EQ(request.ReadString(4), "");      // a failed read
  EXPECT_EQ(request.ReadCounts, (std::vector<int>{10, 10, 4}));
}

// A Content-Length is the client's claim: reading "all of it" takes memory
// by what arrives, in bounded steps, never by the count asked for.
TEST(WebRequest, ReadsGrowByWhatArrivesNotByTheCountAskedFor) {
  constexpr int kChunk = TWebRequest::ContentReadChunk;
  const std::string big(200000, 'b');
  struct Case {
    const char* name;
    std::string unread;
    int count;
    int maxRead;
    int failReadsFrom;
    std::string result;
    std::vector<int> reads;
  } cases[] = {
      {"a forged length", "abc", 2000000000, INT_MAX, -1, "abc", {kChunk}},
      {"the largest length", "abc", INT_MAX, INT_MAX, -1, "abc", {kChunk}},
      {"a short read ends it", "abcdef", 2000000000, 2, -1, "ab", {kChunk}},
      {"a long body in bounded steps", big, 200000, INT_MAX, -1, big, {kChunk, kChunk, kChunk, 200000 - 3 * kChunk}},
      {"no more than asked", big, kChunk + 10, INT_MAX, -1, big.substr(0, kChunk + 10), {kChunk, 10}},
      {"a failure after data keeps what arrived", big, 200000, INT_MAX, 1, big.substr(0, kChunk), {kChunk, kChunk}},
  };
  for (const auto& c : cases)
    for (bool unicode : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (unicode ? " (text)" : ""));
      TTestWebRequest request;
      request.SetBody("", c.unread);
      request.MaxReadSize = c.maxRead;
      request.FailReadsFrom = c.failReadsFrom;
      AnsiString read;
      {
        TAllocationCeiling ceiling(4 * std::size_t(kChunk) + big.size() * sizeof(char16_t));
        ASSERT_NO_THROW(read = unicode ? AnsiOf(request.ReadUnicodeString(c.count)) : request.ReadString(c.count));
      }
      EXPECT_TRUE(read == c.result) << read.size();
      EXPECT_EQ(request.ReadCounts, c.reads);
    }
}

TEST(WebRequest, ContentAndReadUnicodeStringDecodeByTheContentType) {
  TTestWebRequest request;
  request.SetBody("\xC3\xA9", "\xE2\x82\xAC");
  request.Set(rvContentType, "text/plain; charset=utf-8");
  EXPECT_EQ(request.Content(), u"\u00E9");
  request.Set(rvContentType, "text/plain");
  EXPECT_EQ(request.Content(), u"\u00C3\u00A9");  // computed on every read
  EXPECT_EQ(request.ReadUnicodeString(3), u"\u00E2\u201A\u00AC");
}

TEST(WebRequest, TheBuiltInParserHasNoFiles) {
  TTestWebRequest request;
  EXPECT_EQ(request.ContentParser().ClassName(), u"TContentParser");
  EXPECT_EQ(request.Files().Count(), 0);
  EXPECT_EQ(request.Files().Items(0), nullptr);
  EXPECT_EQ(&request.ContentParser().WebRequest(), &request);
}

namespace {

class TTaggedFiles : public TEmptyRequestFiles {};

// Parses bodies of type "application/test" into one field.
class TTestTypeParser : public TAbstractContentParser {
  TV_DECLARE_CLASS(TTestTypeParser)
 public:
  using TAbstractContentParser::TAbstractContentParser;
  static bool CanParse(TWebRequest& Request) { return Request.ContentType() == "application/test"; }
  TStrings& GetContentFields() override {
    if (FFields.Count() == 0) FFields.Add(u"parsed=" + StringOf(WebRequest().RawContent()));
    return FFields;
  }
  TAbstractWebRequestFiles& GetFiles() override { return FFiles; }

 private:
  TStringList FFields;
  TTaggedFiles FFiles;
};
TV_DEFINE_CLASS(TTestTypeParser, TAbstractContentParser);

class TAnyParser : public TContentParser {
  TV_DECLARE_CLASS(TAnyParser)
 public:
  using TContentParser::TContentParser;
};
TV_DEFINE_CLASS(TAnyParser, TContentParser);

class TRegistryTest : public ::testing::Test {
 protected:
  void TearDown() override { ContentParsers().clear(); }
};

}  // namespace

TEST_F(TRegistryTest, TheLastRegisteredParserThatCanParseIsUsed) {
  ASSERT_TRUE(ContentParsers().empty());
  ContentParsers().push_back(ContentParserClass<TAbstractContentParser>());  // never parses
  ContentParsers().push_back(ContentParserClass<TAnyParser>());
  ContentParsers().push_back(ContentParserClass<TTestTypeParser>());
  struct Case { const char* type; const char16_t* parser; std::vector<String> fields; } cases[] = {
      {"application/test", u"TTestTypeParser", {u"parsed=a=1"}},
      {"text/plain", u"TAnyParser", {u"a=1"}},
  };
  for (const auto& c : cases) {
    TTestWebRequest request;
    request.Set(rvContentType, c.type).SetBody("a=1", "");
    EXPECT_EQ(request.ContentParser().ClassName(), c.parser);
    EXPECT_EQ(Entries(request.ContentFields()), c.fields);
    EXPECT_EQ(&request.ContentParser(), &request.ContentParser());
  }
}
