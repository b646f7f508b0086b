// The host's pure pieces: request-target handling, URL mapping, the
// extension's status text and header block, and the command line.
#include "control_block.h"
#include "options.h"
#include "response_head.h"
#include "url_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tolvane::host {
namespace {

TEST(HostTarget, SplitsPathAndQuery) {
  struct TCase {
    const char* Target;
    bool Accepted;
    const char* Path;
    const char* Query;
  } Cases[] = {
      {"/a/b?x=1&y", true, "/a/b", "x=1&y"},
      {"/a?", true, "/a", ""},
      {"/a?b?c", true, "/a", "b?c"},
      {"http://host:8080/p?q", true, "/p", "q"},
      {"HTTP://host", true, "/", ""},
      {"http://host?q=1", true, "/", "q=1"},
      {"*", false, "", ""},
      {"a/b", false, "", ""},
      {"", false, "", ""},
  };
  for (const auto& Case : Cases) {
    std::string Path, Query;
    EXPECT_EQ(SplitTarget(Case.Target, Path, Query), Case.Accepted) << Case.Target;
    if (!Case.Accepted) continue;
    EXPECT_EQ(Path, Case.Path) << Case.Target;
    EXPECT_EQ(Query, Case.Query) << Case.Target;
  }
}

TEST(HostTarget, PercentDecodingRefusesWhatWouldCutOrCorruptThePath) {
  struct TCase {
    std::string_view Text;
    std::optional<std::string> Decoded;
  } Cases[] = {
      {"/a%20b/c+d", "/a b/c+d"},
      {"/%41%62%e4", std::string("/Ab\xe4")},
      {"/a%2", std::nullopt},
      {"/a%", std::nullopt},
      {"/a%zz", std::nullopt},
      {"/a%00b", std::nullopt},  // a zero byte would end the C string early
      {std::string_view("/a\0b", 4), std::nullopt},
  };
  for (const auto& Case : Cases) {
    std::string Decoded;
    const bool Accepted = PercentDecode(Case.Text, Decoded);
    EXPECT_EQ(Accepted, Case.Decoded.has_value()) << Case.Text;
    if (Accepted) {
      EXPECT_EQ(Decoded, *Case.Decoded) << Case.Text;
    }
  }
}

TEST(HostTarget, DotSegmentsNeverClimbAboveTheTop) {
  struct TCase {
    const char* Path;
    std::optional<std::string> Clean;
  } Cases[] = {
      {"/", "/"},
      {"/a/./b", "/a/b"},
      {"/a/b/../c", "/a/c"},
      {"/a/b/..", "/a/"},
      {"/a/..", "/"},
      {"/..", std::nullopt},
      {"/a/../../etc/passwd", std::nullopt},
      {"/a/...", "/a/..."},
      {"relative", std::nullopt},
  };
  for (const auto& Case : Cases) {
    const auto Clean = RemoveDotSegments(Case.Path);
    EXPECT_EQ(Clean, Case.Clean) << Case.Path;
  }
}

TEST(HostTarget, MountSelectsThePathsBelowIt) {
  EXPECT_EQ(NormalizeMount("/"), std::string());
  EXPECT_EQ(NormalizeMount("/app/"), std::string("/app"));
  EXPECT_EQ(NormalizeMount("app"), std::nullopt);
  struct TCase {
    const char* Mount;
    const char* Path;
    std::optional<std::string> Below;
  } Cases[] = {
      {"", "/x/y", "/x/y"},
      {"/app", "/app", ""},
      {"/app", "/app/", "/"},
      {"/app", "/app/orders/7", "/orders/7"},
      {"/app", "/application", std::nullopt},
      {"/app", "/other", std::nullopt},
  };
  for (const auto& Case : Cases) EXPECT_EQ(PathBelowMount(Case.Path, Case.Mount), Case.Below) << Case.Path;
}

TEST(HostTarget, UrlMappingStaysBelowTheRoot) {
  struct TCase {
    const char* Root;
    const char* Url;
    std::optional<std::string> Path;
  } Cases[] = {
      {"/srv/www", "/index.html", "/srv/www/index.html"},
      {"/srv/www/", "/a/b.txt?x=1", "/srv/www/a/b.txt"},
      {"/srv/www", "a/b", "/srv/www/a/b"},
      {"/srv/www", "/a/../b", "/srv/www/b"},
      {"/srv/www", "/../etc/passwd", std::nullopt},
      {"/srv/www", "/a/../../www2/x", std::nullopt},
      {"/", "/x", "/x"},
  };
  for (const auto& Case : Cases) EXPECT_EQ(MapUrlToPath(Case.Root, Case.Url), Case.Path) << Case.Url;
}

TEST(HostResponseHead, StatusTextIsAFinalStatusWithASafeReason) {
  struct TCase {
    const char* Text;
    bool Accepted;
    unsigned Status;
    const char* Reason;
  } Cases[] = {
      {"200 OK", true, 200, "OK"},
      {"404 Not Found", true, 404, "Not Found"},
      {"299 Custom Thing", true, 299, "Custom Thing"},
      {"503", true, 503, "Service Unavailable"},
      {"100 Continue", false, 0, ""},
      {"600 Odd", false, 0, ""},
      {"20 OK", false, 0, ""},
      {"200OK", false, 0, ""},
      {"200 OK\r\nX-Injected: 1", false, 0, ""},
      {"", false, 0, ""},
  };
  for (const auto& Case : Cases) {
    TResponseHead Head;
    EXPECT_EQ(ParseStatusText(Case.Text, Head), Case.Accepted) << Case.Text;
    if (!Case.Accepted) continue;
    EXPECT_EQ(Head.FStatus, Case.Status);
    EXPECT_EQ(Head.FReason, Case.Reason);
  }
}

TEST(HostResponseHead, HeaderBlockKeepsFieldsInOrderAndTakesOutFraming) {
  TResponseHead Head;
  ASSERT_TRUE(ParseHeaderBlock("Set-Cookie: a=1\r\nContent-Type: text/html\r\nSet-Cookie: b=2\r\n"
                               "Content-Length: 60\r\nConnection: close\r\nKeep-Alive: timeout=5\r\n\r\n",
                               8192, Head));
  ASSERT_EQ(Head.FFields.size(), 3u);
  EXPECT_EQ(Head.FFields[0], (std::pair<std::string, std::string>("Set-Cookie", "a=1")));
  EXPECT_EQ(Head.FFields[1], (std::pair<std::string, std::string>("Content-Type", "text/html")));
  EXPECT_EQ(Head.FFields[2], (std::pair<std::string, std::string>("Set-Cookie", "b=2")));
  EXPECT_EQ(Head.FContentLength, 60u);
  EXPECT_TRUE(Head.FConnectionClose);
  EXPECT_TRUE(Head.FBodyStart.empty());
}

TEST(HostResponseHead, HeaderBlockForms) {
  struct TCase {
    const char* Block;
    bool Accepted;
    size_t Fields;
    const char* BodyStart;
  } Cases[] = {
      {"", true, 0, ""},
      {"\r\n", true, 0, ""},
      {"X-A: 1\r\n", true, 1, ""},             // without the closing empty line
      {"X-A: 1", true, 1, ""},                 // without any line end
      {"X-A: 1\r\n\r\nbody", true, 1, "body"},  // bytes after the block start the body
      {"X-A: 1\nX-B: 2\r\n\r\n", false, 0, ""},
      {"Bad Name: 1\r\n\r\n", false, 0, ""},
      {"Content-Length: x\r\n\r\n", false, 0, ""},
      {"Content-Length: 1\r\nContent-Length: 2\r\n\r\n", false, 0, ""},
      {"Content-Length: 21474836480\r\n\r\n", true, 0, ""},  // a large file's length is no error
  };
  for (const auto& Case : Cases) {
    TResponseHead Head;
    EXPECT_EQ(ParseHeaderBlock(Case.Block, 8192, Head), Case.Accepted) << Case.Block;
    if (!Case.Accepted) continue;
    EXPECT_EQ(Head.FFields.size(), Case.Fields) << Case.Block;
    EXPECT_EQ(Head.FBodyStart, Case.BodyStart) << Case.Block;
  }
}

TEST(HostResponseHead, FoldedValueBecomesOneLine) {
  TResponseHead Head;
  ASSERT_TRUE(ParseHeaderBlock("X-A: 1\r\n folded\r\nX-B: 2\r\n\r\n", 8192, Head));
  ASSERT_EQ(Head.FFields.size(), 2u);
  EXPECT_EQ(Head.FFields[0].second, "1 folded");
}

TEST(HostResponseHead, SerializedHeadCarriesFramingAndConnection) {
  TResponseHead Head;
  ASSERT_TRUE(ParseStatusText("201 Created", Head));
  ASSERT_TRUE(ParseHeaderBlock("Content-Type: text/plain\r\n\r\n", 8192, Head));
  const std::string Chunked = SerializeHead(Head, fmChunked, 0, true, false);
  EXPECT_EQ(Chunked.rfind("HTTP/1.1 201 Created\r\nDate: ", 0), 0u) << Chunked;
  EXPECT_NE(Chunked.find("\r\nServer: tolvane-host/1.0\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"),
            std::string::npos)
      << Chunked;
  const std::string Closing = SerializeHead(Head, fmLength, 12, false, true);
  EXPECT_NE(Closing.find("\r\nContent-Length: 12\r\nConnection: close\r\n\r\n"), std::string::npos) << Closing;
  const std::string KeptOpen10 = SerializeHead(Head, fmLength, 3, true, true);
  EXPECT_NE(KeptOpen10.find("\r\nConnection: keep-alive\r\n"), std::string::npos) << KeptOpen10;
  // Date format: "Thu, 10 Dec 2026 14:38:41 GMT".
  const std::string Date = HttpDateNow();
  ASSERT_EQ(Date.size(), 29u) << Date;
  EXPECT_EQ(Date.substr(3, 2), ", ");
  EXPECT_EQ(Date.substr(25), " GMT");
}

TEST(HostServerVariables, NamesMatchInEitherCaseWithHyphenAsUnderscore) {
  const struct {
    const char* A;
    const char* B;
    bool Same;
  } Cases[] = {
      {"HTTP_X_CUSTOM", "HTTP_X_CUSTOM", true},
      {"http_x-custom", "HTTP_X_CUSTOM", true},
      {"X-Forwarded-For", "x_forwarded_for", true},
      {"", "", true},
      {"COOKIE", "COOKIES", false},
      {"HTTP_X", "HTTP_Y", false},
      {"A-B", "A.B", false},
      // Only ASCII letters fold: a fold that merely clears a bit would
      // match these.
      {"{", "[", false},
      {"`", "@", false},
      {"\xC3\xA9", "\xC3\x89", false},
  };
  for (const auto& Case : Cases) {
    EXPECT_EQ(SameVariableName(Case.A, Case.B), Case.Same) << Case.A << " " << Case.B;
    EXPECT_EQ(SameVariableName(Case.B, Case.A), Case.Same) << Case.B << " " << Case.A;
  }
}

TEST(HostOptions, AcceptedCommandLines) {
  const TOptions Options = ParseOptions({"--listen", "[::1]:9000", "--mount=/app/", "--root", "/tmp", "--io-threads",
                                         "3", "--max-body-bytes", "1000", "--header-timeout", "0.25", "--direct-calls",
                                         "off", "ext.so"});
  EXPECT_EQ(Options.FListenAddress, "::1");
  EXPECT_EQ(Options.FListenPort, 9000);
  EXPECT_EQ(Options.FMount, "/app");
  EXPECT_EQ(Options.FIoThreads, 3u);
  EXPECT_EQ(Options.FMaxBodyBytes, 1000u);
  EXPECT_EQ(Options.FHeaderTimeoutMs, 250u);
  EXPECT_FALSE(Options.FDirectCalls);
  EXPECT_TRUE(ParseOptions({"x.so"}).FDirectCalls);
  EXPECT_EQ(Options.FExtension, "ext.so");
  EXPECT_FALSE(Options.FRoot.empty());
  EXPECT_NE(Options.FRoot.back(), '/');
  EXPECT_TRUE(ParseOptions({"--help"}).FHelp);
  EXPECT_TRUE(ParseOptions({"--version"}).FVersion);
  const TOptions User = ParseOptions({"--user", "www:web", "x.so"});
  EXPECT_EQ(User.FUser, "www");
  EXPECT_EQ(User.FGroup, "web");
  EXPECT_EQ(ParseOptions({"--user=www", "x.so"}).FGroup, "");
}

TEST(HostOptions, RefusedCommandLines) {
  const std::vector<std::vector<std::string>> Cases = {
      {},
      {"--listen", "127.0.0.1", "x.so"},
      {"--listen", "127.0.0.1:99999", "x.so"},
      {"--listen", ":80", "x.so"},
      {"--io-threads", "0", "x.so"},
      {"--io-threads", "two", "x.so"},
      {"--max-body-bytes", "5000000000", "x.so"},
      {"--header-timeout", "0", "x.so"},
      {"--header-timeout", "1.2345", "x.so"},
      {"--mount", "app", "x.so"},
      {"--direct-calls", "yes", "x.so"},
      {"--root", "/nonexistent/dir", "x.so"},
      {"--frobnicate", "x.so"},
      {"-x", "x.so"},
      {"a.so", "b.so"},
      {"x.so", "--listen"},
      {"--help=yes"},
      {"--user", "", "x.so"},
      {"--user", "www:", "x.so"},
      {"--user", ":web", "x.so"},
  };
  for (const auto& Arguments : Cases) {
    std::string Line;
    for (const auto& A : Arguments) Line += A + " ";
    EXPECT_THROW(ParseOptions(Arguments), EOptionError) << Line;
  }
}

}  // namespace
}  // namespace tolvane::host
