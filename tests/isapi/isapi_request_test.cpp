// TISAPIRequest against the in-memory host: where each variable comes from, the
// server-variable protocol with its retries, the raw path, reads, writes and
// URL mapping.
#include <tolvane/isapi/isapi_request.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>

#include "support/fake_isapi_host.h"
#include <tolvane/runtime/exception.h>

using namespace tolvane;
using namespace tolvane::testing;

namespace {

class ISAPIRequestTest : public ::testing::Test {
 protected:
  TFakeIsapiConnection Host;
  TISAPIRequest& Request() {
    if (!FRequest) FRequest = std::make_unique<TISAPIRequest>(Host.ECB());
    return *FRequest;
  }

 private:
  std::unique_ptr<TISAPIRequest> FRequest;
};

}  // namespace

TEST_F(ISAPIRequestTest, TextVariablesComeFromTheControlBlockOrTheirServerVariable) {
  Host.SetMethod("POST").SetQueryString("q=1").SetPathInfo("/pi").SetPathTranslated("C:\\pt");
  Host.SetBody("body", "more");
  const char* names[] = {"SERVER_PROTOCOL", "URL", "HTTP_CACHE_CONTROL", "HTTP_ACCEPT", "HTTP_FROM",
                         "HTTP_REFERER", "HTTP_USER_AGENT", "HTTP_CONTENT_ENCODING", "CONTENT_TYPE",
                         "HTTP_CONTENT_VERSION", "HTTP_DERIVED_FROM", "HTTP_TITLE", "REMOTE_ADDR", "REMOTE_HOST",
                         "SCRIPT_NAME", "HTTP_CONNECTION", "HTTP_COOKIE", "HTTP_AUTHORIZATION", "HTTP_HOST"};
  for (const char* name : names) Host.SetVariable(name, std::string("v:") + name);

  struct Case { int index; AnsiString value; } cases[] = {
      {rvMethod, "POST"},
      {rvProtocolVersion, "v:SERVER_PROTOCOL"},
      {rvURL, "v:URL"},
      {rvQuery, "q=1"},
      {rvPathInfo, "/pi"},
      {rvPathTranslated, "C:\\pt"},
      {rvCacheControl, "v:HTTP_CACHE_CONTROL"},
      {rvAccept, "v:HTTP_ACCEPT"},
      {rvFrom, "v:HTTP_FROM"},
      {rvHost, "v"},  // cut at its first ":"
      {rvReferer, "v:HTTP_REFERER"},
      {rvUserAgent, "v:HTTP_USER_AGENT"},
      {rvContentEncoding, "v:HTTP_CONTENT_ENCODING"},
      {rvContentType, "v:CONTENT_TYPE"},
      {rvContentVersion, "v:HTTP_CONTENT_VERSION"},
      {rvDerivedFrom, "v:HTTP_DERIVED_FROM"},
      {rvTitle, "v:HTTP_TITLE"},
      {rvRemoteAddr, "v:REMOTE_ADDR"},
      {rvRemoteHost, "v:REMOTE_HOST"},
      {rvScriptName, "v:SCRIPT_NAME"},
      {rvRawContent, "body"},
      {rvConnection, "v:HTTP_CONNECTION"},
      {rvCookie, "v:HTTP_COOKIE"},
      {rvAuthorization, "v:HTTP_AUTHORIZATION"},
      {-1, ""},
      {RequestVariableCount, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(Request().GetStringVariable(c.index), c.value);
  }
  EXPECT_EQ(Request().MethodType(), TMethodType::mtPost);
}

TEST_F(ISAPIRequestTest, ControlBlockValuesNeverAskTheHost) {
  for (int index : {int(rvMethod), int(rvQuery), int(rvPathInfo), int(rvPathTranslated), int(rvRawContent), -1, 29})
    Request().GetStringVariable(index);
  EXPECT_TRUE(Host.Calls().empty());
}

TEST_F(ISAPIRequestTest, MissingControlBlockStringsReadAsEmpty) {
  Host.SetMethod(nullptr).SetQueryString(nullptr).SetPathInfo(nullptr).SetPathTranslated(nullptr);
  for (int index : {int(rvMethod), int(rvQuery), int(rvPathInfo), int(rvPathTranslated)})
    EXPECT_EQ(Request().GetStringVariable(index), "");
  EXPECT_EQ(Request().MethodType(), TMethodType::mtAny);
}

TEST_F(ISAPIRequestTest, RawContentIsOnlyWhatTheHostReadAhead) {
  EXPECT_EQ(Request().RawContent(), "");
  Host.SetBody(std::string("a\0b", 3), "rest of the body");
  EXPECT_EQ(Request().RawContent(), std::string("a\0b", 3));
  EXPECT_TRUE(Host.Calls().empty());
}

TEST_F(ISAPIRequestTest, DateAndIntegerVariablesParseTheirText) {
  Host.SetVariable("HTTP_DATE", "Sun, 06 Nov 1994 08:49:37 GMT");
  Host.SetVariable("HTTP_EXPIRES", "Sunday, 06-Nov-94 08:49:37 GMT");
  Host.SetVariable("CONTENT_LENGTH", " 26");
  Host.SetVariable("SERVER_PORT", "$50");
  const TDateTime expected = EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37, 0);
  EXPECT_DOUBLE_EQ(Request().Date(), expected);
  EXPECT_DOUBLE_EQ(Request().Expires(), expected);
  EXPECT_EQ(Request().IfModifiedSince(), -1.0);
  EXPECT_EQ(Request().ContentLength(), 26);
  EXPECT_EQ(Request().ServerPort(), 80);
}

TEST_F(ISAPIRequestTest, AbsentNumbersAreMinusOneAndBadTextRaises) {
  EXPECT_EQ(Request().ContentLength(), -1);
  Host.SetVariable("CONTENT_LENGTH", "twelve");
  try {
    Request().ContentLength();
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"'twelve' is not a valid integer value");
  }
  Host.SetVariable("HTTP_IF_MODIFIED_SINCE", "Someday, 06 Nov 1994");
  EXPECT_THROW(Request().IfModifiedSince(), EParserError);
}

TEST_F(ISAPIRequestTest, FieldByNameTriesTheNameThenItsHttpForm) {
  Host.SetVariable("HTTP_ACCEPT_LANGUAGE", "de-CH");
  Host.SetVariable("Mixed_Case", "kept");
  EXPECT_EQ(Request().GetFieldByName("ACCEPT_LANGUAGE"), "de-CH");
  EXPECT_EQ(Request().GetFieldByName("Mixed_Case"), "kept");
  EXPECT_EQ(Request().GetFieldByName("NOWHERE"), "");
  EXPECT_EQ(Host.VariableNames(), (std::vector<std::string>{"ACCEPT_LANGUAGE", "HTTP_ACCEPT_LANGUAGE", "Mixed_Case",
                                                            "NOWHERE", "HTTP_NOWHERE"}));
  for (const auto& call : Host.Calls()) {
    EXPECT_EQ(call.SizeIn, 4096u) << call.Name;  // every first ask has the full buffer
    EXPECT_EQ(call.Thread, std::this_thread::get_id());
  }
}

// A host refuses a buffer that is too small and reports the size it needs;
// such a value is asked again once in a buffer that fits, up to 1 MiB.
TEST_F(ISAPIRequestTest, LongValuesAreAskedAgainWithTheSizeTheHostNeeds) {
  struct Case {
    std::size_t length;
    bool reportsSize;
    bool found;
    std::vector<std::optional<DWORD>> sizesAsked;  // the size of each ask, in order
  } cases[] = {
      {4095, true, true, {4096}},                       // fits with its zero
      {4096, true, true, {4096, 4097}},                 // one byte too long
      {5000, true, true, {4096, 5001}},                 // a large cookie
      {1024 * 1024 - 1, true, true, {4096, 1024 * 1024}},
      {1024 * 1024, true, false, {4096, 4096}},         // beyond the limit: the HTTP_ form, then nothing
      {5000, false, false, {4096, 4096}},               // a host that reports no size
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    TFakeIsapiConnection host;
    host.ReportNeededSize = c.reportsSize;
    std::string value(c.length, 'c');
    value.front() = 'a';
    value.back() = 'z';
    host.SetVariable("HTTP_COOKIE", value);
    TISAPIRequest request(host.ECB());
    EXPECT_EQ(request.Cookie(), c.found ? value : "");
    std::vector<std::optional<DWORD>> sizes;
    for (const auto& call : host.Calls()) sizes.push_back(call.SizeIn);
    EXPECT_EQ(sizes, c.sizesAsked);
  }
}

// A host that reports a longer value than it wrote hands over zeros past what
// it wrote, never what an earlier value left in memory.
TEST_F(ISAPIRequestTest, AValueReportedLongerThanWrittenHoldsNothingOfAnEarlierOne) {
  Host.ECB()->GetServerVariable = [](HCONN, LPSTR Name, LPVOID Buffer, LPDWORD Size) -> BOOL {
    char* Out = static_cast<char*>(Buffer);
    if (std::string_view(Name) == "HTTP_SECRET") {
      std::memset(Out, 'X', *Size - 1);
      Out[*Size - 1] = '\0';
    } else {
      std::memcpy(Out, "ok", 3);  // and leaves the size at the whole buffer
    }
    return ISAPI_TRUE;
  };
  EXPECT_EQ(Request().GetFieldByName("HTTP_SECRET"), std::string(4095, 'X'));
  const AnsiString Short = Request().GetFieldByName("HTTP_SHORT");
  EXPECT_EQ(Short.substr(0, 2), "ok");
  EXPECT_EQ(Short.find('X'), AnsiString::npos);
}

TEST_F(ISAPIRequestTest, RawPathInfoIsThePathAfterTheScriptUrl) {
  struct Case {
    const char* rawURL;  // nullptr: the host has no HTTP_URL
    const char* scriptURL;
    const char* query;
    const char* pathInfo;
    AnsiString expected;
  } cases[] = {
      {"/scripts/app.dll/orders/7?x=1", "/scripts/app.dll", "x=1", "/orders/7", "/orders/7"},
      {"/scripts/app.dll/orders/7?x=1", "/scripts/app.dll", "", "/orders/7", "/orders/7?x=1"},
      {"/scripts/app.dll/orders/7?x=1", "/scripts/app.dll", nullptr, "/orders/7", "/orders/7?x=1"},
      {"/scripts/app.dll/a%20b/?x=1?y=2", "/scripts/app.dll", "x=1?y=2", "/a b/", "/a%20b/"},
      {"/scripts/app.dll", "/scripts/app.dll", "", "", ""},
      {"/other/app.dll/orders", "/scripts/app.dll", "", "/decoded", "/decoded"},
      {"/scripts/app.dll/orders", "", "", "/decoded", "/decoded"},
      {nullptr, "/scripts/app.dll", "", "/decoded", "/decoded"},
      {"/x/scripts/app.dll/p", "/scripts/app.dll", "", "/p", "/p"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rawURL ? c.rawURL : "(none)") + " " + c.scriptURL);
    TFakeIsapiConnection host;
    if (c.rawURL) host.SetVariable("HTTP_URL", c.rawURL);
    host.SetVariable("URL", c.scriptURL).SetQueryString(c.query).SetPathInfo(c.pathInfo);
    TISAPIRequest request(host.ECB());
    EXPECT_EQ(request.RawPathInfo(), c.expected);
    EXPECT_EQ(request.PathInfo(), c.pathInfo);
  }
}

TEST_F(ISAPIRequestTest, HostDropsEverythingFromTheFirstColon) {
  struct Case { const char* header; AnsiString host; } cases[] = {
      {"example.com:8080", "example.com"},
      {"example.com", "example.com"},
      {"[::1]:8080", "["},
      {":80", ""},
  };
  for (const auto& c : cases) {
    TFakeIsapiConnection host;
    host.SetVariable("HTTP_HOST", c.header);
    EXPECT_EQ(TISAPIRequest(host.ECB()).Host(), c.host) << c.header;
  }
  EXPECT_EQ(Request().Host(), "");
}

TEST_F(ISAPIRequestTest, ReadsPassTheCountAndReportWhatArrived) {
  Host.SetBody("", "0123456789");
  Host.MaxReadSize = 4;
  char buffer[8] = {};
  EXPECT_EQ(Request().ReadClient(buffer, 8), 4);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(Request().ReadString(100), "4567");
  EXPECT_EQ(Request().ReadString(100), "89");
  EXPECT_EQ(Request().ReadString(100), "");  // the client has no more
  auto reads = Host.Calls(TIsapiCallKind::ckReadClient);
  ASSERT_EQ(reads.size(), 4u);
  EXPECT_EQ(reads[0].SizeIn, 8u);
  EXPECT_EQ(reads[1].SizeIn, 100u);

  Host.FailReads = true;
  EXPECT_EQ(Request().ReadClient(buffer, 8), -1);
  EXPECT_EQ(Request().ReadString(8), "");
  // A negative count cannot be handed to the host as a size.
  EXPECT_EQ(Request().ReadClient(buffer, -1), -1);
  EXPECT_EQ(Host.Calls(TIsapiCallKind::ckReadClient).size(), 6u);
}

TEST_F(ISAPIRequestTest, WritesAreSynchronousAndReportWhatWasTaken) {
  EXPECT_TRUE(Request().WriteString(""));
  EXPECT_FALSE(Request().ResponseStarted()) << "a write of no bytes sends nothing";
  EXPECT_EQ(Request().WriteClient("hello", 5), 5);
  EXPECT_TRUE(Request().ResponseStarted());
  EXPECT_TRUE(Request().WriteString(" world"));
  EXPECT_TRUE(Request().WriteString(""));
  EXPECT_EQ(Host.Written(), "hello world");
  auto writes = Host.Calls(TIsapiCallKind::ckWriteClient);
  ASSERT_EQ(writes.size(), 4u);
  for (const auto& w : writes) EXPECT_EQ(w.Flags, 0u);
  EXPECT_EQ(writes[0].SizeIn, 0u);  // an empty string still reaches the host
  EXPECT_EQ(writes[3].SizeIn, 0u);

  // A host that takes part of a write is offered the rest.
  Host.MaxWriteSize = 4;
  EXPECT_EQ(Request().WriteClient("abcdef", 6), 6);
  EXPECT_TRUE(Request().WriteString("ghijklmnop"));
  EXPECT_EQ(Host.Written(), "hello worldabcdefghijklmnop");
  writes = Host.Calls(TIsapiCallKind::ckWriteClient);
  ASSERT_EQ(writes.size(), 9u);
  EXPECT_EQ(writes[5].SizeIn, 2u);
  EXPECT_EQ(writes[8].SizeIn, 2u);
  Host.FailWrites = true;
  EXPECT_EQ(Request().WriteClient("x", 1), -1);
  EXPECT_FALSE(Request().WriteString("x"));
  EXPECT_EQ(Request().WriteClient("x", -1), -1);
  EXPECT_EQ(Host.Calls(TIsapiCallKind::ckWriteClient).size(), 11u);
}

TEST_F(ISAPIRequestTest, WriteHeadersStoresTheStatusAndSendsBothTexts) {
  Host.FailingRequests.insert(HSE_REQ_SEND_RESPONSE_HEADER);  // not examined
  EXPECT_FALSE(Request().ResponseStarted());
  EXPECT_TRUE(Request().WriteHeaders(404, "404 Not Found", "A: 1\r\n\r\n"));
  EXPECT_TRUE(Request().ResponseStarted());
  EXPECT_TRUE(Request().WriteHeaders(204, "204 No Content", ""));
  EXPECT_EQ(Host.ECB()->dwHttpStatusCode, 204u);
  auto sent = Host.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].Data, "404 Not Found");
  EXPECT_EQ(sent[0].Extra, "A: 1\r\n\r\n");
  EXPECT_EQ(sent[0].SizeIn, std::nullopt);
  EXPECT_EQ(sent[1].Data, "204 No Content");
  EXPECT_EQ(sent[1].Extra, std::nullopt);  // no header block, no pointer
}

TEST_F(ISAPIRequestTest, TranslateUriAsksTheHostWithAFixedBuffer) {
  Host.MapUrl("/docs/caf\xE9.html", "C:\\site\\caf\xE9.html");
  EXPECT_EQ(Request().TranslateURI(u"/docs/caf\u00E9.html"), u"C:\\site\\caf\u00E9.html");
  EXPECT_EQ(Request().TranslateURI(u"/unknown"), u"");
  auto maps = Host.SupportCalls(HSE_REQ_MAP_URL_TO_PATH);
  ASSERT_EQ(maps.size(), 2u);
  EXPECT_EQ(maps[0].SizeIn, 1024u);
  EXPECT_EQ(maps[0].Data, "/docs/caf\xE9.html");
}

// A URI that does not fit the 1024-byte buffer with its zero is refused whole:
// a cut path could name another file. So is one that holds a NUL.
TEST_F(ISAPIRequestTest, TranslateUriRefusesWhatTheBufferCannotHold) {
  const std::string fits = "/" + std::string(1022, 'a');  // 1023 bytes and the zero
  const std::string tooLong = fits + "b";  // cut to 1023 bytes it would be `fits`
  Host.MapUrl(fits, "/srv/fits");
  EXPECT_EQ(Request().TranslateURI(StringOf(fits)), u"/srv/fits");
  EXPECT_EQ(Request().TranslateURI(StringOf(tooLong)), u"");
  EXPECT_EQ(Request().TranslateURI(StringOf(tooLong + std::string(5000, 'c'))), u"");
  Host.MapUrl("/a", "/srv/a");
  EXPECT_EQ(Request().TranslateURI(String(u"/a\0/../secret", 13)), u"");
  EXPECT_EQ(Host.SupportCalls(HSE_REQ_MAP_URL_TO_PATH).size(), 1u);
}

TEST_F(ISAPIRequestTest, TranslateUriReadsNoFurtherThanTheBuffer) {
  // A host path of exactly 1023 bytes fills the buffer to its last byte.
  const std::string path(1023, 'p');
  Host.MapUrl("/full", path);
  EXPECT_EQ(Request().TranslateURI(u"/full"), StringOf(path));
}

TEST_F(ISAPIRequestTest, EveryCallbackGetsThisRequestsConnection) {
  const int strays = TFakeIsapiConnection::StrayCalls();
  Host.SetVariable("HTTP_URL", "/x").SetVariable("URL", "/x");
  char buffer[4];
  Request().RawPathInfo();
  Request().ReadClient(buffer, 4);
  Request().WriteString("x");
  Request().WriteHeaders(200, "200 OK", "\r\n");
  Request().TranslateURI(u"/");
  EXPECT_EQ(TFakeIsapiConnection::StrayCalls(), strays);
  EXPECT_EQ(Host.Calls().size(), 6u);
}
