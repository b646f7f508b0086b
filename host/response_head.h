// The status line and header block of a response: what an extension hands
// over (validated before anything reaches the client) and what the host sends.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane::host {

struct TResponseHead {
  unsigned FStatus = 200;
  std::string FReason = "OK";
  std::vector<std::pair<std::string, std::string>> FFields;  // in the extension's order
  std::optional<std::uint64_t> FContentLength;
  bool FConnectionClose = false;  // the extension asked for "Connection: close"
  bool FHasDate = false;
  bool FHasServer = false;
  std::string FBodyStart;  // bytes that followed the block's empty line
};

// "404 Not Found" or "404": a final status from 200 to 599 and a reason
// without control characters. A missing reason gets the usual phrase.
bool ParseStatusText(std::string_view Text, TResponseHead& Head);

// Lines ending in CRLF, optionally closed by an empty line. Framing fields
// (Content-Length, Transfer-Encoding, Connection, Keep-Alive) are taken out of
// FFields: the host does the framing itself. False for a block that is not a
// well-formed header block or declares an invalid length.
bool ParseHeaderBlock(std::string_view Block, std::uint32_t MaxBytes, TResponseHead& Head);

// The reason phrase of a status code ("" when it has none).
std::string_view ReasonOf(unsigned Status);

// The current time as an HTTP date ("Thu, 10 Dec 2026 14:38:41 GMT"),
// formatted once per second.
// The text stays valid on the calling thread until its next call.
const std::string& HttpDateNow();

// The current time as the access log writes it ("10/Dec/2026:14:38:41 +0000").
const std::string& LogDateNow();

enum TFraming { fmNone, fmLength, fmChunked, fmClose };

// Status line and fields ready for the wire, with Date and Server added when
// the extension gave none and the framing and connection fields of the host.
std::string SerializeHead(const TResponseHead& Head, TFraming Framing, std::uint64_t Length, bool KeepAlive,
                          bool Http10Client);
// The same, appended to Out.
void AppendHead(std::string& Out, const TResponseHead& Head, TFraming Framing, std::uint64_t Length, bool KeepAlive,
                bool Http10Client);

inline constexpr std::string_view ServerSoftware = "tolvane-host/1.0";

}  // namespace tolvane::host
