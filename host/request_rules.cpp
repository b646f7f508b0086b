#include "request_rules.h"

#include <boost/asio/ip/address_v6.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>

#include <optional>

namespace tolvane::host {

namespace http = boost::beast::http;

namespace {

char Lower(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

bool IsHexDigit(char C) { return IsDigit(C) || (Lower(C) >= 'a' && Lower(C) <= 'f'); }

bool IsAlpha(char C) { return Lower(C) >= 'a' && Lower(C) <= 'z'; }

bool IsUnreserved(char C) { return IsAlpha(C) || IsDigit(C) || C == '-' || C == '.' || C == '_' || C == '~'; }

bool IsSubDelim(char C) { return std::string_view("!$&'()*+,;=").find(C) != std::string_view::npos; }

std::string_view TrimWhitespace(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

// reg-name = *( unreserved / pct-encoded / sub-delims ); an IPv4 address is
// one too.
bool IsRegName(std::string_view Text) {
  for (size_t I = 0; I < Text.size(); ++I) {
    const char C = Text[I];
    if (C == '%') {
      if (I + 2 >= Text.size()) return false;
      if (!IsHexDigit(Text[I + 1]) || !IsHexDigit(Text[I + 2])) return false;
      I += 2;
    } else if (!IsUnreserved(C) && !IsSubDelim(C)) {
      return false;
    }
  }
  return true;
}

// IP-literal = "[" ( IPv6address / IPvFuture ) "]", without the brackets.
bool IsIpLiteralInside(std::string_view Inside) {
  if (!Inside.empty() && Lower(Inside.front()) == 'v') {
    // IPvFuture = "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )
    size_t I = 1;
    while (I < Inside.size() && IsHexDigit(Inside[I])) ++I;
    if (I == 1 || I >= Inside.size() || Inside[I] != '.' || I + 1 == Inside.size()) return false;
    for (++I; I < Inside.size(); ++I)
      if (!IsUnreserved(Inside[I]) && !IsSubDelim(Inside[I]) && Inside[I] != ':') return false;
    return true;
  }
  // A zone identifier is no part of the host a client names.
  if (Inside.find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos) return false;
  boost::system::error_code Error;
  boost::asio::ip::make_address_v6(std::string(Inside), Error);
  return !Error;
}

// The request line and header block as received: a field line that begins
// with a space or tab continues the one above it (obs-fold), or follows the
// request line with whitespace; both are refused rather than unfolded.
bool HasFoldedLine(std::string_view RawHead) {
  size_t LineStart = RawHead.find('\n');
  while (LineStart != std::string_view::npos && ++LineStart < RawHead.size()) {
    const char First = RawHead[LineStart];
    if (First == '\r' || First == '\n') return false;  // the empty line ends the head
    if (First == ' ' || First == '\t') return true;
    LineStart = RawHead.find('\n', LineStart);
  }
  return false;
}

// Transfer codings, as RFC 9112 section 6 has a server treat them. The
// codings of every Transfer-Encoding field form one list, empty elements
// dropped. The host decodes exactly one: a single "chunked" (without
// parameters) at the end. Then:
//   - in an HTTP/1.0 request any Transfer-Encoding makes the framing faulty: 400;
//   - with Content-Length as well the request may be smuggling one: 400;
//   - "chunked" anywhere but last, or more than once, leaves the body's
//     length unknown: 400;
//   - any other coding ("gzip, chunked", "identity", "xchunked") is one the
//     host does not implement: 501;
//   - a field with no coding at all frames nothing: 400.
// Every refusal closes the connection, as the body cannot be skipped.
unsigned TransferCodingStatus(const http::request_header<>& Head) {
  bool Present = false;
  std::vector<std::string_view> Codings;
  for (const auto& Field : Head) {
    if (Field.name() != http::field::transfer_encoding) continue;
    Present = true;
    std::string_view Value(Field.value().data(), Field.value().size());
    while (true) {
      const size_t Comma = Value.find(',');
      const std::string_view Element = TrimWhitespace(Value.substr(0, Comma));
      if (!Element.empty()) Codings.push_back(Element);
      if (Comma == std::string_view::npos) break;
      Value.remove_prefix(Comma + 1);
    }
  }
  if (!Present) return 0;
  if (Head.version() != 11) return 400;
  if (Head.find(http::field::content_length) != Head.end()) return 400;
  if (Codings.empty()) return 400;
  bool Unknown = false;
  for (size_t I = 0; I < Codings.size(); ++I) {
    if (boost::beast::iequals(Codings[I], "chunked")) {
      if (I + 1 != Codings.size()) return 400;
    } else {
      Unknown = true;
    }
  }
  if (Unknown) return 501;
  return 0;
}

// The authority of an absolute-form target ("http://a.example:8080/x"), or
// nothing for the origin form. An empty string means a target of that form
// whose authority is unusable.
std::optional<std::string> TargetAuthority(std::string_view Target) {
  std::string_view Rest;
  if (Target.size() >= 7 && boost::beast::iequals(Target.substr(0, 7), "http://"))
    Rest = Target.substr(7);
  else if (Target.size() >= 8 && boost::beast::iequals(Target.substr(0, 8), "https://"))
    Rest = Target.substr(8);
  else
    return std::nullopt;
  const std::string_view Authority = Rest.substr(0, Rest.find_first_of("/?#"));
  // An empty host is invalid in an http URI, and user information has no
  // place in a request.
  if (Authority.empty() || Authority.find('@') != std::string_view::npos || !IsValidHostValue(Authority) ||
      Authority.front() == ':')
    return std::string();
  return std::string(Authority);
}

// "HTTP/" DIGIT "." DIGIT naming a version other than the two served.
bool IsOtherVersion(std::string_view Token) {
  return Token.size() == 8 && Token.substr(0, 5) == "HTTP/" && IsDigit(Token[5]) && Token[6] == '.' &&
         IsDigit(Token[7]) && Token != "HTTP/1.0" && Token != "HTTP/1.1";
}

}  // namespace

bool IsValidHostValue(std::string_view Value) {
  std::string_view Host = Value;
  std::string_view Port;
  if (!Value.empty() && Value.front() == '[') {
    const size_t Close = Value.find(']');
    if (Close == std::string_view::npos || !IsIpLiteralInside(Value.substr(1, Close - 1))) return false;
    const std::string_view After = Value.substr(Close + 1);
    if (!After.empty() && After.front() != ':') return false;
    Port = After.empty() ? After : After.substr(1);
    Host = {};
  } else {
    const size_t Colon = Value.find(':');
    if (Colon != std::string_view::npos) {
      Host = Value.substr(0, Colon);
      Port = Value.substr(Colon + 1);
    }
  }
  if (!IsRegName(Host)) return false;
  for (const char C : Port)
    if (!IsDigit(C)) return false;
  return true;
}

THeadVerdict JudgeRequestHead(const http::request_header<>& Head, std::string_view RawHead) {
  THeadVerdict Verdict;
  if (Head.version() != 10 && Head.version() != 11) {
    Verdict.FStatus = 505;
    return Verdict;
  }
  if (HasFoldedLine(RawHead)) {
    Verdict.FStatus = 400;
    return Verdict;
  }
  // RFC 9112 section 3.2: exactly one valid Host in HTTP/1.1, at most one in 1.0.
  int Hosts = 0;
  for (const auto& Field : Head) {
    if (Field.name() != http::field::host) continue;
    if (++Hosts > 1 || !IsValidHostValue(std::string_view(Field.value().data(), Field.value().size()))) {
      Verdict.FStatus = 400;
      return Verdict;
    }
  }
  if (Hosts == 0 && Head.version() == 11) {
    Verdict.FStatus = 400;
    return Verdict;
  }
  if (const unsigned Status = TransferCodingStatus(Head)) {
    Verdict.FStatus = Status;
    return Verdict;
  }
  const auto Authority = TargetAuthority(std::string_view(Head.target().data(), Head.target().size()));
  if (Authority && Authority->empty()) {
    Verdict.FStatus = 400;
    return Verdict;
  }

  Verdict.FFields.reserve(static_cast<size_t>(std::distance(Head.begin(), Head.end())) + 1);
  bool HostSet = false;
  for (const auto& Field : Head) {
    std::string Value(Field.value().data(), Field.value().size());
    // An absolute-form target's authority overrides Host (RFC 9112 section 3.2.2).
    if (Field.name() == http::field::host && Authority) {
      Value = *Authority;
      HostSet = true;
    }
    Verdict.FFields.emplace_back(std::string(Field.name_string().data(), Field.name_string().size()),
                                 std::move(Value));
  }
  if (Authority && !HostSet) Verdict.FFields.emplace_back("Host", *Authority);
  return Verdict;
}

unsigned HeadErrorStatus(const boost::beast::error_code& Error, std::string_view Seen, std::size_t HeaderLimit) {
  if (Error == http::error::header_limit) {
    // A request line that did not even end within the limit makes the
    // target too long; otherwise the fields are too large.
    return Seen.substr(0, HeaderLimit).find('\n') == std::string_view::npos ? 414 : 431;
  }
  if (Error == http::error::body_limit) return 413;
  if (Error == http::error::bad_version) {
    // A well-formed request line for a version other than 1.0 or 1.1.
    std::string_view Text = Seen.substr(0, Seen.find('\n'));
    if (!Text.empty() && Text.back() == '\r') Text.remove_suffix(1);
    const size_t First = Text.find(' ');
    const size_t Last = Text.rfind(' ');
    if (First != std::string_view::npos && First > 0 && Last > First + 1 &&
        Text.substr(First + 1, Last - First - 1).find(' ') == std::string_view::npos &&
        IsOtherVersion(Text.substr(Last + 1)))
      return 505;
  }
  return 400;
}

}  // namespace tolvane::host
