// Request heads from the network: whatever the parser makes of the bytes,
// the rules answer one of the statuses the host sends, and a head they serve
// has a body the parser frames one way only.
#include "request_rules.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

namespace http = boost::beast::http;

void Check(bool Condition) {
  if (!Condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace tolvane::host;
  const std::string_view Input(reinterpret_cast<const char*>(Data), Size);
  constexpr std::size_t HeaderLimit = 2048;

  if (IsValidHostValue(Input))
    for (const char C : Input)
      Check(static_cast<unsigned char>(C) > 0x20 && C != 0x7F && C != '/' && C != '@' && C != '?' && C != '#');

  http::request_parser<http::empty_body> Parser;
  Parser.header_limit(HeaderLimit);
  Parser.body_limit(1000);
  boost::beast::error_code Error;
  const std::size_t Used = Parser.put(boost::asio::buffer(Input.data(), Input.size()), Error);
  if (Error) {
    if (Error == http::error::need_more) return 0;
    const unsigned Status = HeadErrorStatus(Error, Input, HeaderLimit);
    Check(Status == 400 || Status == 413 || Status == 414 || Status == 431 || Status == 505);
    return 0;
  }
  if (!Parser.is_header_done()) return 0;
  const auto& Head = Parser.get();
  const THeadVerdict Verdict = JudgeRequestHead(Head, Input.substr(0, Used));
  Check(Verdict.FStatus == 0 || Verdict.FStatus == 400 || Verdict.FStatus == 501 || Verdict.FStatus == 505);
  if (Verdict.FStatus != 0) return 0;
  // One framing only: a transfer coding is chunked to the parser and comes
  // without Content-Length.
  if (Head.find(http::field::transfer_encoding) != Head.end()) {
    Check(Parser.chunked());
    Check(Head.find(http::field::content_length) == Head.end());
    Check(Head.version() == 11);
  }
  std::size_t Hosts = 0;
  for (const auto& [Name, Value] : Verdict.FFields) {
    if (Name.size() == 4 && (Name[0] | 0x20) == 'h' && (Name[1] | 0x20) == 'o' && (Name[2] | 0x20) == 's' &&
        (Name[3] | 0x20) == 't') {
      ++Hosts;
      Check(IsValidHostValue(Value));
    }
  }
  Check(Hosts <= 1);
  if (Head.version() == 11) Check(Hosts == 1);
  return 0;
}
