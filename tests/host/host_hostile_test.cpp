// Raw bytes an attacker sends, one connection each: the status the host
// answers, whether it closes the connection, and what the rest of the bytes
// (a smuggled request) or a follow-up request on the same connection gets.
#include "host_process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace tolvane::host::test {
namespace {

using namespace std::chrono_literals;

// More bytes from the host onto Carry: false when none came within the
// time-out or the host closed.
bool ReadMore(TRawClient& Client, std::string& Carry) {
  const auto Deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < Deadline) {
    bool Closed = false;
    const std::string More = Client.ReadUntilClose(100ms, Closed);
    Carry += More;
    if (!More.empty()) return true;
    if (Closed) return false;
  }
  return false;
}

// One response off the connection: its head and, as Content-Length says or
// chunk by chunk, its body. Empty when none came whole.
std::string ReadResponse(TRawClient& Client, std::string& Carry) {
  auto Fill = [&](std::size_t Wanted) {
    while (Carry.size() < Wanted)
      if (!ReadMore(Client, Carry)) return false;
    return true;
  };
  std::size_t HeadEnd;
  while ((HeadEnd = Carry.find("\r\n\r\n")) == std::string::npos)
    if (!Fill(Carry.size() + 1)) return {};
  HeadEnd += 4;
  const std::string Head = Carry.substr(0, HeadEnd);
  std::size_t End = HeadEnd;
  const std::size_t Length = Head.find("Content-Length: ");
  if (Length != std::string::npos) {
    End += std::strtoull(Head.c_str() + Length + 16, nullptr, 10);
    if (!Fill(End)) return {};
  } else if (Head.find("Transfer-Encoding: chunked") != std::string::npos) {
    while (Carry.find("\r\n0\r\n\r\n", HeadEnd - 2) == std::string::npos)
      if (!Fill(Carry.size() + 1)) return {};
    End = Carry.find("\r\n0\r\n\r\n", HeadEnd - 2) + 7;
  }
  const std::string Response = Carry.substr(0, End);
  Carry.erase(0, End);
  return Response;
}

struct THostileCase {
  const char* Name;
  std::string Request;     // sent at once: a request line, fields and any body
  const char* StatusLine;  // how the answer starts
  bool Closes;             // the host closes after answering
  // For an answer from the test extension: text its body holds, and text it
  // must not hold.
  std::vector<std::string> BodyHas = {};
  std::vector<std::string> BodyLacks = {};
};

// What a request for /hello would look like when smuggled in a body.
const std::string Hidden = "GET /hello HTTP/1.1\r\nHost: t\r\n\r\n";

std::string Chunk(const std::string& Data) {
  char Size[16];
  std::snprintf(Size, sizeof Size, "%zx\r\n", Data.size());
  return Size + Data + "\r\n";
}

std::vector<THostileCase> Cases() {
  return {
      // Transfer codings the host does not decode: the body is never
      // taken for the next request.
      {"unknown coding", "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: xchunked\r\n\r\n" + Hidden,
       "HTTP/1.1 501 ", true},
      {"identity coding", "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: identity\r\n\r\n" + Hidden,
       "HTTP/1.1 501 ", true},
      {"gzip before chunked",
       "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: gzip, chunked\r\n\r\n" + Chunk(Hidden) + "0\r\n\r\n",
       "HTTP/1.1 501 ", true},
      {"chunked not last", "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked, identity\r\n\r\n" + Hidden,
       "HTTP/1.1 400 ", true},
      {"transfer coding with Content-Length",
       "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked, identity\r\nContent-Length: 5\r\n\r\n0\r\n\r\n" +
           Hidden,
       "HTTP/1.1 400 ", true},
      {"chunked in HTTP/1.0",
       "POST /echo HTTP/1.0\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunk("hello") +
           "0\r\n\r\n" + Hidden,
       "HTTP/1.1 400 ", true},
      {"folded Content-Length", "POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length:\r\n 5\r\n\r\nhello" + Hidden,
       "HTTP/1.1 400 ", true},
      {"folded field", "GET /hello HTTP/1.1\r\nHost: t\r\nX-A: 1\r\n 2\r\n\r\n" + Hidden, "HTTP/1.1 400 ", true},
      // Trailer fields are no request headers.
      {"trailer fields",
       "POST /vars?SERVER_NAME,HTTP_HOST,HTTP_X_INJECTED,ALL_RAW HTTP/1.1\r\nHost: good.example\r\n"
       "Transfer-Encoding: chunked\r\n\r\n" +
           Chunk("a") + "0\r\nHost: evil.example\r\nX-Injected: 1\r\n\r\n",
       "HTTP/1.1 200 ", false, {"SERVER_NAME=good.example\n", "HTTP_HOST=good.example\n", "HTTP_X_INJECTED!\n"},
       {"evil", "Injected"}},
      {"two Host fields", "GET /hello HTTP/1.1\r\nHost: good.example\r\nHost: evil.example\r\n\r\n" + Hidden,
       "HTTP/1.1 400 ", true},
      {"Host not a host", "GET /hello HTTP/1.1\r\nHost: a b/c\r\n\r\n" + Hidden, "HTTP/1.1 400 ", true},
      {"no Host in HTTP/1.1", "GET /hello HTTP/1.1\r\n\r\n" + Hidden, "HTTP/1.1 400 ", true},
      {"absolute form names the host",
       "GET http://a.example/vars?SERVER_NAME,HTTP_HOST HTTP/1.1\r\nHost: b.example\r\n\r\n", "HTTP/1.1 200 ", false,
       {"SERVER_NAME=a.example\nHTTP_HOST=a.example\n"}, {"b.example"}},
      {"HTTP/2.0", "GET /hello HTTP/2.0\r\nHost: t\r\n\r\n" + Hidden, "HTTP/1.1 505 ", true},
      {"request line too long", "GET /" + std::string(40 * 1024, 'a') + " HTTP/1.1\r\nHost: t\r\n\r\n",
       "HTTP/1.1 414 ", true},
      // Shapes the host has refused all along.
      {"conflicting Content-Length",
       "POST /echo HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!" + Hidden,
       "HTTP/1.1 400 ", true},
      {"chunk size overflow",
       "POST /echo HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffff1\r\nx\r\n0\r\n\r\n" +
           Hidden,
       "HTTP/1.1 400 ", true},
      {"control byte in a field", "GET /hello HTTP/1.1\r\nHost: t\r\nX-A: a\x01z\r\n\r\n" + Hidden, "HTTP/1.1 400 ",
       true},
      {"dot segments above the root", "GET /../etc/passwd HTTP/1.1\r\nHost: t\r\n\r\n" + Hidden, "HTTP/1.1 400 ",
       true},
      {"a plain request", "GET /hello HTTP/1.1\r\nHost: t\r\n\r\n", "HTTP/1.1 200 ", false, {"hello\n"}},
  };
}

TEST(HostHostile, EachShapeGetsItsStatusAndNothingIsSmuggled) {
  THostProcess Host;
  ASSERT_TRUE(Host.Start({})) << Host.Log();
  for (const auto& Case : Cases()) {
    SCOPED_TRACE(Case.Name);
    TRawClient Client(Host.Port());
    ASSERT_TRUE(Client.Connected());
    ASSERT_TRUE(Client.Send(Case.Request));
    std::string Carry;
    const std::string Answer = ReadResponse(Client, Carry);
    EXPECT_EQ(Answer.rfind(Case.StatusLine, 0), 0u) << Answer;
    const std::string Body = Answer.substr(std::min(Answer.size(), Answer.find("\r\n\r\n") + 4));
    for (const auto& Text : Case.BodyHas) EXPECT_NE(Body.find(Text), std::string::npos) << Body;
    for (const auto& Text : Case.BodyLacks) EXPECT_EQ(Body.find(Text), std::string::npos) << Body;
    if (Case.Closes) {
      EXPECT_NE(Answer.find("Connection: close\r\n"), std::string::npos) << Answer;
      // Whatever followed the refused head is never answered.
      bool Closed = false;
      const std::string Rest = Carry + Client.ReadUntilClose(5s, Closed);
      EXPECT_TRUE(Closed);
      EXPECT_EQ(Rest, "");
      continue;
    }
    // Kept open: the next request is answered, and it alone.
    ASSERT_TRUE(Client.Send("GET /hello HTTP/1.1\r\nHost: t\r\n\r\n"));
    const std::string Next = ReadResponse(Client, Carry);
    EXPECT_EQ(Next.rfind("HTTP/1.1 200 ", 0), 0u) << Next;
    EXPECT_EQ(Next.substr(std::min(Next.size(), Next.find("\r\n\r\n") + 4)), "hello\n");
    EXPECT_EQ(Carry + Client.ReadUntil("HTTP/", 300ms), "");
  }
  EXPECT_EQ(Host.Stop(), 0) << Host.Log();
}

}  // namespace
}  // namespace tolvane::host::test
