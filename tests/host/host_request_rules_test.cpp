// The request-head rules on heads as a client sends them: each head goes
// through Beast's parser as the connection reads it, then through the rules,
// and the status the host would answer is compared.
#include "request_rules.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tolvane::host {
namespace {

namespace http = boost::beast::http;

constexpr std::size_t HeaderLimit = 32 * 1024;

struct TOutcome {
  unsigned Status = 0;
  bool Chunked = false;
  std::vector<std::pair<std::string, std::string>> Fields;
};

// What the connection does with a head: parse it, then either map the
// parser's error or judge the parsed head.
TOutcome Judge(const std::string& Raw) {
  http::request_parser<http::empty_body> Parser;
  Parser.header_limit(HeaderLimit);
  Parser.body_limit(1000);
  boost::beast::error_code Error;
  const std::size_t Used = Parser.put(boost::asio::buffer(Raw), Error);
  TOutcome Outcome;
  if (!Error && !Parser.is_header_done()) Error = http::error::need_more;
  if (Error) {
    Outcome.Status = HeadErrorStatus(Error, Raw, HeaderLimit);
    return Outcome;
  }
  auto Verdict = JudgeRequestHead(Parser.get(), std::string_view(Raw).substr(0, Used));
  Outcome.Status = Verdict.FStatus;
  Outcome.Chunked = Parser.chunked();
  Outcome.Fields = std::move(Verdict.FFields);
  return Outcome;
}

TEST(HostRequestRules, StatusForEachHead) {
  const std::string LongTarget = "/" + std::string(40 * 1024, 'a');
  const std::string LongField = "X-Big: " + std::string(40 * 1024, 'b') + "\r\n";
  struct TCase {
    const char* Name;
    std::string Head;
    unsigned Status;
  } Cases[] = {
      {"plain 1.1", "GET / HTTP/1.1\r\nHost: a.example\r\n\r\n", 0},
      {"1.0 needs no Host", "GET / HTTP/1.0\r\n\r\n", 0},
      {"1.1 without Host", "GET / HTTP/1.1\r\n\r\n", 400},
      {"two Host fields", "GET / HTTP/1.1\r\nHost: good.example\r\nHost: evil.example\r\n\r\n", 400},
      {"two Host fields in 1.0", "GET / HTTP/1.0\r\nHost: a\r\nHost: a\r\n\r\n", 400},
      {"Host with space and slash", "GET / HTTP/1.1\r\nHost: a b/c\r\n\r\n", 400},
      {"Host with a second colon", "GET / HTTP/1.1\r\nHost: a:1:2\r\n\r\n", 400},
      {"Host with a letter port", "GET / HTTP/1.1\r\nHost: a:http\r\n\r\n", 400},
      {"Host with a cut escape", "GET / HTTP/1.1\r\nHost: a%4\r\n\r\n", 400},
      {"Host with user info", "GET / HTTP/1.1\r\nHost: u@a\r\n\r\n", 400},
      {"Host empty", "GET / HTTP/1.1\r\nHost:\r\n\r\n", 0},
      {"Host with port", "GET / HTTP/1.1\r\nHost: a.example:8080\r\n\r\n", 0},
      {"Host IPv6 literal", "GET / HTTP/1.1\r\nHost: [::1]:8080\r\n\r\n", 0},
      {"Host bad IPv6 literal", "GET / HTTP/1.1\r\nHost: [::g]\r\n\r\n", 400},
      {"Host IPv6 with zone", "GET / HTTP/1.1\r\nHost: [fe80::1%eth0]\r\n\r\n", 400},
      {"Host future literal", "GET / HTTP/1.1\r\nHost: [v1.a:b]\r\n\r\n", 0},
      {"Host escaped", "GET / HTTP/1.1\r\nHost: a%2Db\r\n\r\n", 0},
      {"chunked", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n", 0},
      {"chunked in capitals", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: CHUNKED\r\n\r\n", 0},
      {"xchunked", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: xchunked\r\n\r\n", 501},
      {"identity", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: identity\r\n\r\n", 501},
      {"gzip then chunked", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", 501},
      {"gzip and chunked in two fields",
       "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
      {"chunked with a parameter", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked;x=1\r\n\r\n", 501},
      {"chunked not last", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked, identity\r\n\r\n", 400},
      {"chunked twice", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked, chunked\r\n\r\n", 400},
      {"chunked twice in two fields",
       "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"no coding at all", "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: ,\r\n\r\n", 400},
      {"chunked and Content-Length",
       "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\nContent-Length: 4\r\n\r\n", 400},
      {"Content-Length and chunked",
       "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"chunked not last and Content-Length",
       "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked, identity\r\nContent-Length: 4\r\n\r\n", 400},
      {"1.0 with chunked", "POST / HTTP/1.0\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {"conflicting Content-Length", "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
       400},
      {"folded field", "GET / HTTP/1.1\r\nHost: a\r\nX-A: 1\r\n 2\r\n\r\n", 400},
      {"folded Content-Length", "POST / HTTP/1.1\r\nHost: a\r\nContent-Length:\r\n 31\r\n\r\n", 400},
      {"folded with a tab", "GET / HTTP/1.1\r\nHost: a\r\nX-A: 1\r\n\t2\r\n\r\n", 400},
      {"control byte in a field", "GET / HTTP/1.1\r\nHost: a\r\nX-A: 1\x01" "2\r\n\r\n", 400},
      {"HTTP/2.0", "GET / HTTP/2.0\r\nHost: a\r\n\r\n", 505},
      {"HTTP/2.0 line alone", "GET / HTTP/2.0", 505},
      {"HTTP/1.7", "GET / HTTP/1.7\r\nHost: a\r\n\r\n", 505},
      {"HTTP/0.9", "GET / HTTP/0.9\r\n\r\n", 505},
      {"malformed version", "GET / HTTP/1.x\r\nHost: a\r\n\r\n", 400},
      {"version without minor", "GET / HTTP/2\r\nHost: a\r\n\r\n", 400},
      {"request line ends in a bare LF", "GET / HTTP/1.1\nHost: a\r\n\r\n", 400},
      {"request line too long", "GET " + LongTarget + " HTTP/1.1\r\nHost: a\r\n\r\n", 414},
      {"fields too long", "GET / HTTP/1.1\r\nHost: a\r\n" + LongField + "\r\n", 431},
      {"declared body too large", "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 5000\r\n\r\n", 413},
      {"absolute form", "GET http://a.example/x HTTP/1.1\r\nHost: b.example\r\n\r\n", 0},
      {"absolute form with user info", "GET http://u@a.example/x HTTP/1.1\r\nHost: a.example\r\n\r\n", 400},
      {"absolute form without a host", "GET http:///x HTTP/1.1\r\nHost: a.example\r\n\r\n", 400},
      {"absolute form with a bad host", "GET http://a%zz/ HTTP/1.1\r\nHost: a.example\r\n\r\n", 400},
  };
  for (const auto& Case : Cases) {
    const TOutcome Outcome = Judge(Case.Head);
    EXPECT_EQ(Outcome.Status, Case.Status) << Case.Name;
    // A served head with a transfer coding is one the parser reads as chunked:
    // anything else would leave the body to be read as the next request.
    if (Outcome.Status == 0 && Case.Head.find("Transfer-Encoding") != std::string::npos) {
      EXPECT_TRUE(Outcome.Chunked) << Case.Name;
    }
  }
}

TEST(HostRequestRules, FieldsShowTheAuthorityTheRequestNames) {
  using TFields = std::vector<std::pair<std::string, std::string>>;
  struct TCase {
    const char* Head;
    TFields Fields;
  } Cases[] = {
      {"GET /x HTTP/1.1\r\nHost: b.example\r\nX-A: 1\r\n\r\n", {{"Host", "b.example"}, {"X-A", "1"}}},
      {"GET http://a.example:81/x HTTP/1.1\r\nX-A: 1\r\nhost: b.example\r\n\r\n",
       {{"X-A", "1"}, {"host", "a.example:81"}}},
      {"GET HTTP://a.example?q HTTP/1.1\r\nHost: b.example\r\n\r\n", {{"Host", "a.example"}}},
      {"GET http://a.example/x HTTP/1.0\r\n\r\n", {{"Host", "a.example"}}},
  };
  for (const auto& Case : Cases) {
    const TOutcome Outcome = Judge(Case.Head);
    EXPECT_EQ(Outcome.Status, 0u) << Case.Head;
    EXPECT_EQ(Outcome.Fields, Case.Fields) << Case.Head;
  }
}

TEST(HostRequestRules, HostValues) {
  for (const char* Valid : {"", "a", "a.example", "a:", "a:80", "127.0.0.1:8080", "[::1]", "[2001:db8::1]:443",
                            "[v7.x]", "a%41", "!$&'()*+,;="})
    EXPECT_TRUE(IsValidHostValue(Valid)) << Valid;
  for (const char* Invalid : {"a b", "a/b", "a:b", "[::1", "[::1]x", "::1", "a%", "a%4", "a%g1", "[]", "[v.x]",
                              "[v1.]", "a@b", "a\tb"})
    EXPECT_FALSE(IsValidHostValue(Invalid)) << Invalid;
}

}  // namespace
}  // namespace tolvane::host
