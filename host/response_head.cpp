#include "response_head.h"

#include <boost/beast/http.hpp>

#include <chrono>
#include <cstdio>
#include <limits>

namespace tolvane::host {

namespace http = boost::beast::http;

namespace {

bool IsControl(unsigned char C) { return (C < 0x20 && C != '\t') || C == 0x7F; }

bool SameAsciiNoCase(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    auto Lower = [](char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; };
    if (Lower(A[I]) != Lower(B[I])) return false;
  }
  return true;
}

bool HasCloseToken(std::string_view Value) {
  size_t Start = 0;
  while (Start <= Value.size()) {
    size_t End = Value.find(',', Start);
    if (End == std::string_view::npos) End = Value.size();
    std::string_view Token = Value.substr(Start, End - Start);
    while (!Token.empty() && (Token.front() == ' ' || Token.front() == '\t')) Token.remove_prefix(1);
    while (!Token.empty() && (Token.back() == ' ' || Token.back() == '\t')) Token.remove_suffix(1);
    if (SameAsciiNoCase(Token, "close")) return true;
    Start = End + 1;
  }
  return false;
}

constexpr const char* DayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct TBrokenDown {
  int Year;
  unsigned Month, Day, WeekDay, Hour, Minute, Second;
};

TBrokenDown BreakDown(std::chrono::sys_seconds Now) {
  using namespace std::chrono;
  const sys_days Days = floor<days>(Now);
  const year_month_day Date(Days);
  const hh_mm_ss<seconds> Time(Now - Days);
  return {static_cast<int>(Date.year()), static_cast<unsigned>(Date.month()), static_cast<unsigned>(Date.day()),
          weekday(Days).c_encoding(),    static_cast<unsigned>(Time.hours().count()),
          static_cast<unsigned>(Time.minutes().count()), static_cast<unsigned>(Time.seconds().count())};
}

// Both date texts change once a second; each thread keeps its own copy.
template <typename TFormat>
const std::string& CachedDate(TFormat Format) {
  thread_local std::chrono::sys_seconds LastSecond{};
  thread_local std::string Text;
  const auto Now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
  if (Text.empty() || Now != LastSecond) {
    LastSecond = Now;
    Text = Format(BreakDown(Now));
  }
  return Text;
}

// Collects the fields of a header block in their order (Beast's own field
// container groups equal names together, which would move Set-Cookie lines).
class TBlockParser : public http::basic_parser<false> {
 public:
  explicit TBlockParser(TResponseHead& Head) : FHead(Head) {}

 private:
  void on_request_impl(http::verb, std::string_view, std::string_view, int, boost::beast::error_code&) override {}
  void on_response_impl(int, std::string_view, int, boost::beast::error_code&) override {}
  void on_field_impl(http::field Name, std::string_view NameText, std::string_view Value,
                     boost::beast::error_code& Error) override {
    // A folded value would reach the client as a continuation line.
    if (Value.find_first_of("\r\n") != std::string_view::npos) {
      Error = http::error::bad_value;
      return;
    }
    switch (Name) {
      case http::field::content_length:
      case http::field::transfer_encoding:
      case http::field::keep_alive:
        return;
      case http::field::connection:
        if (HasCloseToken(Value)) FHead.FConnectionClose = true;
        return;
      case http::field::date:
        FHead.FHasDate = true;
        break;
      case http::field::server:
        FHead.FHasServer = true;
        break;
      default:
        break;
    }
    FHead.FFields.emplace_back(NameText, Value);
  }
  void on_header_impl(boost::beast::error_code&) override {}
  void on_body_init_impl(const boost::optional<std::uint64_t>&, boost::beast::error_code&) override {}
  std::size_t on_body_impl(std::string_view Body, boost::beast::error_code&) override { return Body.size(); }
  void on_chunk_header_impl(std::uint64_t, std::string_view, boost::beast::error_code&) override {}
  std::size_t on_chunk_body_impl(std::uint64_t, std::string_view Body, boost::beast::error_code&) override {
    return Body.size();
  }
  void on_finish_impl(boost::beast::error_code&) override {}

  TResponseHead& FHead;
};

}  // namespace

std::string_view ReasonOf(unsigned Status) {
  const auto Reason = http::obsolete_reason(static_cast<http::status>(Status));
  if (Reason == "<unknown-status>") return {};
  return {Reason.data(), Reason.size()};
}

bool ParseStatusText(std::string_view Text, TResponseHead& Head) {
  if (Text.size() < 3) return false;
  unsigned Status = 0;
  for (size_t I = 0; I < 3; ++I) {
    if (Text[I] < '0' || Text[I] > '9') return false;
    Status = Status * 10 + static_cast<unsigned>(Text[I] - '0');
  }
  if (Status < 200 || Status > 599) return false;
  std::string_view Reason;
  if (Text.size() > 3) {
    if (Text[3] != ' ') return false;
    Reason = Text.substr(4);
  }
  for (const char C : Reason)
    if (IsControl(static_cast<unsigned char>(C))) return false;
  Head.FStatus = Status;
  Head.FReason.assign(Reason.empty() ? ReasonOf(Status) : Reason);
  return true;
}

bool ParseHeaderBlock(std::string_view Block, std::uint32_t MaxBytes, TResponseHead& Head) {
  // Beast reads the block as the head of a response; a block without its
  // closing empty line gets one. The text is built in a buffer each thread
  // keeps, as every response passes here.
  thread_local std::string Message;
  Message.assign("HTTP/1.1 200 OK\r\n");
  size_t BlockEnd = Block.find("\r\n\r\n");
  size_t ConsumedOfBlock;
  if (Block.empty() || Block == "\r\n") {
    Message += "\r\n";
    ConsumedOfBlock = Block.size();
  } else if (BlockEnd != std::string_view::npos) {
    Message.append(Block.substr(0, BlockEnd + 4));
    ConsumedOfBlock = BlockEnd + 4;
  } else {
    Message.append(Block);
    if (Block.size() >= 2 && Block.substr(Block.size() - 2) == "\r\n")
      Message += "\r\n";
    else
      Message += "\r\n\r\n";
    ConsumedOfBlock = Block.size();
  }
  TBlockParser Parser(Head);
  Parser.header_limit(MaxBytes);
  // The body is the extension's to write; any declared length is framed.
  Parser.body_limit(std::numeric_limits<std::uint64_t>::max());
  Parser.eager(false);
  Head.FFields.clear();
  Head.FContentLength.reset();
  Head.FConnectionClose = false;
  Head.FHasDate = Head.FHasServer = false;
  boost::beast::error_code Error;
  Parser.put(boost::asio::buffer(Message), Error);
  if (Error || !Parser.is_header_done()) return false;
  if (const auto Length = Parser.content_length()) Head.FContentLength = *Length;
  Head.FBodyStart.assign(Block.substr(ConsumedOfBlock));
  return true;
}

const std::string& HttpDateNow() {
  return CachedDate([](const TBrokenDown& T) {
    char Text[40];
    std::snprintf(Text, sizeof Text, "%s, %02u %s %04d %02u:%02u:%02u GMT", DayNames[T.WeekDay], T.Day,
                  MonthNames[T.Month - 1], T.Year, T.Hour, T.Minute, T.Second);
    return std::string(Text);
  });
}

const std::string& LogDateNow() {
  return CachedDate([](const TBrokenDown& T) {
    char Text[40];
    std::snprintf(Text, sizeof Text, "%02u/%s/%04d:%02u:%02u:%02u +0000", T.Day, MonthNames[T.Month - 1], T.Year,
                  T.Hour, T.Minute, T.Second);
    return std::string(Text);
  });
}

std::string SerializeHead(const TResponseHead& Head, TFraming Framing, std::uint64_t Length, bool KeepAlive,
                          bool Http10Client) {
  std::string Out;
  Out.reserve(256);
  AppendHead(Out, Head, Framing, Length, KeepAlive, Http10Client);
  return Out;
}

void AppendHead(std::string& Out, const TResponseHead& Head, TFraming Framing, std::uint64_t Length, bool KeepAlive,
                bool Http10Client) {
  Out += "HTTP/1.1 ";
  Out += std::to_string(Head.FStatus);
  Out += ' ';
  Out += Head.FReason;
  Out += "\r\n";
  if (!Head.FHasDate) {
    Out += "Date: ";
    Out += HttpDateNow();
    Out += "\r\n";
  }
  if (!Head.FHasServer) {
    Out += "Server: ";
    Out += ServerSoftware;
    Out += "\r\n";
  }
  for (const auto& [Name, Value] : Head.FFields) {
    Out += Name;
    Out += ": ";
    Out += Value;
    Out += "\r\n";
  }
  if (Framing == fmLength || (Framing == fmNone && Head.FContentLength)) {
    Out += "Content-Length: ";
    Out += std::to_string(Framing == fmLength ? Length : *Head.FContentLength);
    Out += "\r\n";
  } else if (Framing == fmChunked) {
    Out += "Transfer-Encoding: chunked\r\n";
  }
  if (!KeepAlive)
    Out += "Connection: close\r\n";
  else if (Http10Client)
    Out += "Connection: keep-alive\r\n";
  Out += "\r\n";
}

}  // namespace tolvane::host
