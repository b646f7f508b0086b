// TISAPIResponse against the in-memory host: the defaults, the status text,
// the header block line by line, the log field, redirects and streamed content.
#include <tolvane/isapi/isapi_response.h>

#include <cstring>

#include <gtest/gtest.h>

#include <tolvane/runtime/exception.h>
#include "support/fake_isapi_host.h"

using namespace tolvane;
using namespace tolvane::testing;

namespace {

class ISAPIResponseTest : public ::testing::Test {
 protected:
  ISAPIResponseTest() { Host.SetVariable("SERVER_PROTOCOL", "HTTP/1.1"); }

  TISAPIResponse& Response() {
    if (!FResponse) {
      FRequest = std::make_unique<TISAPIRequest>(Host.ECB());
      FResponse = std::make_unique<TISAPIResponse>(FRequest.get());
    }
    return *FResponse;
  }
  // The single header block sent, or a failure.
  std::string SentHeaders() {
    auto sent = Host.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
    if (sent.size() != 1 || !sent[0].Extra) {
      ADD_FAILURE() << "expected one header block, got " << sent.size() << " sends";
      return {};
    }
    return *sent[0].Extra;
  }
  std::string SentStatus() {
    auto sent = Host.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
    return sent.size() == 1 && sent[0].Data ? *sent[0].Data : std::string("(none)");
  }

  TFakeIsapiConnection Host;

 private:
  std::unique_ptr<TISAPIRequest> FRequest;
  std::unique_ptr<TISAPIResponse> FResponse;
};

TDateTime At(int Year, int Month, int Day, int Hour, int Min, int Sec) {
  return EncodeDate(Year, Month, Day) + EncodeTime(Hour, Min, Sec, 0);
}

// A stream that fails once asked for its bytes.
class TFailingStream : public TMemoryStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { throw EReadError(u"Stream read error"); }
};

}  // namespace

TEST_F(ISAPIResponseTest, StartsAsA200HtmlResponseWithoutDates) {
  TISAPIResponse& r = Response();
  EXPECT_EQ(r.StatusCode(), 200);
  EXPECT_EQ(r.ReasonString(), "OK");
  EXPECT_EQ(r.ContentType(), "text/html");
  EXPECT_EQ(r.Version(), "");  // the request has a protocol version
  EXPECT_EQ(r.Date(), -1.0);
  EXPECT_EQ(r.Expires(), -1.0);
  EXPECT_EQ(r.LastModified(), -1.0);
  EXPECT_FALSE(r.Sent());
  EXPECT_TRUE(Host.Calls(TIsapiCallKind::ckWriteClient).empty());
  EXPECT_TRUE(Host.Calls(TIsapiCallKind::ckServerSupportFunction).empty());
}

TEST_F(ISAPIResponseTest, SendsStatusHeadersThenContent) {
  Response().SetRawContent("<html><body>hi</body></html>");
  Response().SendResponse();
  EXPECT_TRUE(Response().Sent());
  EXPECT_EQ(SentStatus(), "200 OK");
  EXPECT_EQ(SentHeaders(), "Content-Type: text/html\r\nContent-Length: 28\r\n\r\n");
  EXPECT_EQ(Host.ECB()->dwHttpStatusCode, 200u);
  EXPECT_EQ(Host.Written(), "<html><body>hi</body></html>");
  // The header block reaches the host before any content.
  auto calls = Host.Calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2].Request, HSE_REQ_SEND_RESPONSE_HEADER);
  EXPECT_EQ(calls.back().Kind, TIsapiCallKind::ckWriteClient);
}

TEST_F(ISAPIResponseTest, ARequestWithoutProtocolVersionGetsOnlyTheContent) {
  Host.SetVariable("SERVER_PROTOCOL", "");
  EXPECT_EQ(Response().Version(), "1.0");
  Response().SetRawContent("plain");
  Response().SendResponse();
  EXPECT_TRUE(Host.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER).empty());
  EXPECT_EQ(Host.Written(), "plain");
  EXPECT_TRUE(Response().Sent());
}

TEST_F(ISAPIResponseTest, StatusTextNeedsAPositiveCodeAndAReasonPhrase) {
  struct Case {
    int code;
    const char* reason;  // set after the code; nullptr keeps the table's phrase
    std::string status;
  } cases[] = {
      {404, nullptr, "404 Not Found"},
      {500, nullptr, "500 Internal Server Error"},
      {299, nullptr, "299"},  // no phrase: the host names it
      {415, nullptr, "415"},
      {99, nullptr, "200 OK"},  // not a status code
      {1000, nullptr, "200 OK"},
      {299, "Fine", "299 Fine"},
      {404, "Gone Fishing", "404 Gone Fishing"},
      {0, "Zero", "200 OK"},
      {-3, "Negative", "200 OK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    TFakeIsapiConnection host;
    host.SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
    TISAPIRequest request(host.ECB());
    TISAPIResponse response(&request);
    response.SetStatusCode(c.code);
    if (c.reason) response.SetReasonString(c.reason);
    response.SendResponse();
    auto sent = host.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Data, c.status);
    EXPECT_EQ(host.ECB()->dwHttpStatusCode, DWORD(c.code));
  }
}

TEST_F(ISAPIResponseTest, ReasonPhraseFollowsOnlyAChangedCode) {
  Response().SetStatusCode(404);
  EXPECT_EQ(Response().ReasonString(), "Not Found");
  Response().SetReasonString("Custom");
  Response().SetStatusCode(404);
  EXPECT_EQ(Response().ReasonString(), "Custom");
  Response().SetStatusCode(299);
  EXPECT_EQ(Response().ReasonString(), "");
}

TEST_F(ISAPIResponseTest, HeaderBlockListsEveryLineInItsPlace) {
  TISAPIResponse& r = Response();
  r.SetLocation("http://example.com/next");
  r.SetAllow("GET, POST");
  TCookie* first = r.Cookies().Add();
  first->SetName("id");
  first->SetValue("a b");
  first->SetPath("/");
  TCookie* second = r.Cookies().Add();
  second->SetName("s");
  second->SetValue("1");
  second->SetSecure(true);
  r.SetDerivedFrom("base");
  r.SetExpires(At(1994, 11, 6, 8, 49, 37));
  r.SetLastModified(At(2024, 2, 29, 23, 59, 59));
  r.SetTitle("A title");
  r.SetWWWAuthenticate("Basic");
  r.SetRealm("Staff");
  r.SetCustomHeader(u"X-Trace", u"t1");
  r.SetContentVersion("2");
  r.SetContentEncoding("gzip");
  r.SetContentType("text/plain");
  r.SetRawContent("12345");
  // Never header lines of their own:
  r.SetDate(At(2000, 1, 1, 0, 0, 0));
  r.SetServer("tolvane");
  r.SetVersion("1.1");
  r.SendResponse();
  EXPECT_EQ(SentHeaders(),
            "Location: http://example.com/next\r\n"
            "Allow: GET, POST\r\n"
            "Set-Cookie: id=a+b; path=/\r\n"
            "Set-Cookie: s=1; secure\r\n"
            "Derived-From: base\r\n"
            "Expires: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
            "Last-Modified: Thu, 29 Feb 2024 23:59:59 GMT\r\n"
            "Title: A title\r\n"
            "WWW-Authenticate: Basic Realm=Staff\r\n"
            "X-Trace: t1\r\n"
            "Content-Version: 2\r\n"
            "Content-Encoding: gzip\r\n"
            "Content-Type: text/plain\r\n"
            "Content-Length: 5\r\n"
            "\r\n");
}

TEST_F(ISAPIResponseTest, EmptyValuesAndUnsetDatesLeaveTheirLinesOut) {
  TISAPIResponse& r = Response();
  r.SetContentType("");
  r.SetExpires(0.0);         // not after the epoch
  r.SetLastModified(-1.0);
  r.SetRealm("Staff");  // a realm without a scheme is no challenge
  r.SendResponse();
  EXPECT_EQ(SentHeaders(), "\r\n");
  // Empty content: no Content-Length line, yet the host still gets a write.
  auto writes = Host.Calls(TIsapiCallKind::ckWriteClient);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].SizeIn, 0u);
}

TEST_F(ISAPIResponseTest, AuthenticateLineWithoutRealm) {
  Response().SetWWWAuthenticate("Negotiate");
  Response().SetContentType("");
  Response().SendResponse();
  EXPECT_EQ(SentHeaders(), "WWW-Authenticate: Negotiate\r\n\r\n");
}

TEST(HTTPDate, IsRfc1123WithEnglishNames) {
  struct Case { TDateTime value; String text; } cases[] = {
      {At(1994, 11, 6, 8, 49, 37), u"Sun, 06 Nov 1994 08:49:37 GMT"},
      {At(2000, 1, 1, 0, 0, 0), u"Sat, 01 Jan 2000 00:00:00 GMT"},
      {At(2024, 2, 29, 23, 59, 59), u"Thu, 29 Feb 2024 23:59:59 GMT"},
      {At(1899, 12, 30, 12, 5, 9), u"Sat, 30 Dec 1899 12:05:09 GMT"},
      {At(9999, 12, 31, 1, 2, 3), u"Fri, 31 Dec 9999 01:02:03 GMT"},
      {1e9, u""},  // beyond the year 9999: no HTTP form
  };
  for (const auto& c : cases) EXPECT_EQ(FormatHTTPDate(c.value), c.text) << c.value;
}

TEST_F(ISAPIResponseTest, LogTextIsCutToTheHostsField) {
  Response().SetLogMessage(String(100, u'x'));
  EXPECT_EQ(std::string(Host.ECB()->lpszLogData), std::string(79, 'x'));
  EXPECT_EQ(Response().LogMessage(), String(79, u'x'));
  Response().SetLogMessage(u"caf\u00E9");
  EXPECT_EQ(std::string(Host.ECB()->lpszLogData), "caf\xE9");  // the ANSI code page
  EXPECT_EQ(Response().LogMessage(), u"caf\u00E9");
  Response().SetLogMessage(u"");
  EXPECT_EQ(Response().LogMessage(), u"");
}

TEST_F(ISAPIResponseTest, LogTextReadsNoFurtherThanTheField) {
  std::memset(Host.ECB()->lpszLogData, 'y', HSE_LOG_BUFFER_LEN);  // a host that left no zero
  EXPECT_EQ(Response().LogMessage(), String(80, u'y'));
}

TEST_F(ISAPIResponseTest, RedirectIsLeftToTheHost) {
  Response().SetRawContent("ignored");
  Response().SendRedirect("/elsewhere?a=1");
  EXPECT_TRUE(Response().Sent());
  auto redirects = Host.SupportCalls(HSE_REQ_SEND_URL_REDIRECT_RESP);
  ASSERT_EQ(redirects.size(), 1u);
  EXPECT_EQ(redirects[0].Data, "/elsewhere?a=1");
  EXPECT_EQ(redirects[0].SizeIn, std::nullopt);
  EXPECT_EQ(Host.Calls(TIsapiCallKind::ckServerSupportFunction).size(), 1u);  // no header block
  EXPECT_TRUE(Host.Calls(TIsapiCallKind::ckWriteClient).empty());              // no content
}

// A stream is sent from its position, and the Content-Length line states the
// bytes that follow, not the stream's size.
TEST_F(ISAPIResponseTest, StreamIsSentFromItsPositionWithTheMatchingLength) {
  struct Case { std::size_t size; std::int64_t position; } cases[] = {
      {20000, 5000}, {20000, 0}, {8192, 0}, {10, 10}, {0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + "@" + std::to_string(c.position));
    TFakeIsapiConnection host;
    host.SetVariable("SERVER_PROTOCOL", "HTTP/1.1");
    TISAPIRequest request(host.ECB());
    TISAPIResponse response(&request);
    std::string data(c.size, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
    auto* stream = new TMemoryStream;
    stream->Write(data.data(), std::int64_t(data.size()));
    stream->SetPosition(c.position);
    response.SetRawContent("bytes");
    response.SetContentStream(stream);  // owned by the response
    EXPECT_EQ(response.ContentLength(), int(c.size));
    response.SendResponse();

    const std::string rest = data.substr(std::size_t(c.position));
    EXPECT_EQ(host.Written(), rest);
    auto sent = host.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Extra, "Content-Type: text/html\r\nContent-Length: " + std::to_string(rest.size()) + "\r\n\r\n");
    for (const auto& w : host.Calls(TIsapiCallKind::ckWriteClient)) EXPECT_LE(*w.SizeIn, 8192u);
    EXPECT_EQ(response.ContentStream(), nullptr);
    EXPECT_EQ(response.ContentLength(), 5);  // back to the byte content
    EXPECT_TRUE(response.Sent());
  }
}

TEST_F(ISAPIResponseTest, ABorrowedStreamOutlivesTheSend) {
  TMemoryStream stream;
  stream.Write("borrowed", 8);
  stream.SetPosition(0);
  Response().SetFreeContentStream(false);
  Response().SetContentStream(&stream);
  Response().SendResponse();
  EXPECT_EQ(Host.Written(), "borrowed");
  EXPECT_EQ(stream.Size(), 8);
}

TEST_F(ISAPIResponseTest, AFailingStreamLeavesTheResponseUnsent) {
  auto* stream = new TFailingStream;
  stream->Write("x", 1);
  stream->SetPosition(0);
  Response().SetContentStream(stream);
  EXPECT_THROW(Response().SendResponse(), EReadError);
  EXPECT_FALSE(Response().Sent());
}

TEST_F(ISAPIResponseTest, HostFailuresDoNotStopTheSend) {
  Host.FailWrites = true;
  Host.FailingRequests.insert(HSE_REQ_SEND_RESPONSE_HEADER);
  Response().SetRawContent("lost");
  Response().SendResponse();
  EXPECT_TRUE(Response().Sent());
  EXPECT_EQ(Host.SupportCalls(HSE_REQ_SEND_RESPONSE_HEADER).size(), 1u);
  EXPECT_EQ(Host.Calls(TIsapiCallKind::ckWriteClient).size(), 1u);
}

TEST_F(ISAPIResponseTest, ContentSetsTheLengthOnlyWithoutAStream) {
  Response().SetRawContent("abc");
  EXPECT_EQ(Response().ContentLength(), 3);
  auto* stream = new TMemoryStream;
  stream->Write("0123456789", 10);
  Response().SetContentStream(stream);
  Response().SetRawContent("abcdef");
  EXPECT_EQ(Response().ContentLength(), 10);
  EXPECT_EQ(Response().RawContent(), "abcdef");
}

TEST_F(ISAPIResponseTest, VariablesOutsideTheTablesAreIgnored) {
  TISAPIResponse& r = Response();
  r.SetStringVariable(ResponseStringVariableCount, "x");
  r.SetStringVariable(-1, "x");
  r.SetIntegerVariable(1, 5);
  r.SetDateVariable(3, 1.0);
  EXPECT_EQ(r.GetStringVariable(ResponseStringVariableCount), "");
  EXPECT_EQ(r.GetStringVariable(-1), "");
  EXPECT_EQ(r.GetIntegerVariable(1), -1);
  EXPECT_EQ(r.GetDateVariable(3), 0.0);
  for (int i = 0; i < ResponseStringVariableCount; ++i) {
    r.SetStringVariable(i, "v" + std::to_string(i));
  }
  for (int i = 0; i < ResponseStringVariableCount; ++i) EXPECT_EQ(r.GetStringVariable(i), "v" + std::to_string(i));
}

// Values carrying CR, LF or NUL must neither add header lines nor cut the
// zero-terminated block short.
TEST_F(ISAPIResponseTest, ControlCharactersInValuesCannotAddOrCutLines) {
  TISAPIResponse& r = Response();
  r.SetLocation("/next\r\nSet-Cookie: admin=1");
  r.SetTitle(std::string("a\0b", 3));
  r.SetCustomHeader(u"X-Name\r\nX-Evil", u"v\n1\t2");
  r.SetStatusCode(404);
  r.SetReasonString("Not Found\r\nX-Evil: 1");
  r.SetRawContent("ok");
  r.SendResponse();
  EXPECT_EQ(SentStatus(), "404 Not Found  X-Evil: 1");
  EXPECT_EQ(SentHeaders(),
            "Location: /next  Set-Cookie: admin=1\r\n"
            "Title: a b\r\n"
            "X-Name  X-Evil: v 1\t2\r\n"
            "Content-Type: text/html\r\n"
            "Content-Length: 2\r\n"
            "\r\n");
  Response().SendRedirect("/a\r\nX-Evil: 1");
  EXPECT_EQ(Host.SupportCalls(HSE_REQ_SEND_URL_REDIRECT_RESP).at(0).Data, "/a  X-Evil: 1");
}
