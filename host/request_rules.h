// Whether a request head is served, and with which status it is refused:
// decided from the head alone, before any body byte is read. Pure functions,
// so every rule can be tried on its own and fuzzed.
#pragma once

#include <boost/beast/core/error.hpp>
#include <boost/beast/http/message.hpp>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane::host {

struct THeadVerdict {
  // 0: the request is served; else the status to answer before closing the
  // connection.
  unsigned FStatus = 0;
  // The header fields as the extension sees them, in the order received.
  // Taken from the head, so fields of a chunked trailer never join them;
  // Host carries the authority of an absolute-form target.
  std::vector<std::pair<std::string, std::string>> FFields;
};

// Judges a head the parser accepted. RawHead is the request line and header
// block as received (the parser unfolds continuation lines, so only the raw
// bytes show them); empty when not at hand.
THeadVerdict JudgeRequestHead(const boost::beast::http::request_header<>& Head, std::string_view RawHead);

// The status that answers a head the parser refused with Error, given the
// bytes received so far (Seen starts with the request line) and the head
// size limit in force.
unsigned HeadErrorStatus(const boost::beast::error_code& Error, std::string_view Seen, std::size_t HeaderLimit);

// Whether Value is a valid Host field value: uri-host [ ":" port ].
bool IsValidHostValue(std::string_view Value);

}  // namespace tolvane::host
