// Framing on the wire: how response bodies are delimited (length, chunks,
// close), the answers the host writes by itself, and the line rules of a
// chunked request body.
#pragma once

#include "response_head.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/chunk_encode.hpp>

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tolvane::host {

// The buffers of one write, in order. Holds views only: what they point to
// must outlive the write.
class TWirePieces {
 public:
  void Add(boost::asio::const_buffer Piece);
  template <class Sequence>
  void AddSequence(const Sequence& Pieces) {
    for (auto It = boost::asio::buffer_sequence_begin(Pieces); It != boost::asio::buffer_sequence_end(Pieces); ++It)
      Add(boost::asio::const_buffer(*It));
  }
  std::span<const boost::asio::const_buffer> View() const { return {FPieces.data(), FCount}; }
  std::size_t Bytes() const;
  bool Empty() const { return FCount == 0; }

 private:
  std::array<boost::asio::const_buffer, 16> FPieces;
  std::size_t FCount = 0;
};

// Frames the body pieces of one response for its transfer: as they are for a
// declared length or a close-delimited body, inside a chunk each when
// chunked, with the last chunk at the end.
class TBodyFramer {
 public:
  void Reset(TFraming Framing) { FFraming = Framing; }
  TFraming Framing() const { return FFraming; }
  // Adds the body pieces (of Size bytes in all) to Out with their framing.
  // Views into this framer stay valid until the next call.
  void AddBody(TWirePieces& Out, std::span<const boost::asio::const_buffer> Body, std::size_t Size);
  // Adds what closes the body (the last chunk when chunked).
  void AddEnd(TWirePieces& Out);

 private:
  TFraming FFraming = fmNone;
  std::optional<boost::beast::http::chunk_header> FChunkHeader;
  boost::beast::http::chunk_crlf FCrlf;
  decltype(boost::beast::http::make_chunk_last()) FLastChunk = boost::beast::http::make_chunk_last();
};

// A complete answer of the host's own: status line, a short text body
// (left out for HEAD), and "Connection: close".
std::string HostAnswer(unsigned Status, bool IsHead);

// Whether the bytes a chunked body's parser waits on (its chunk-size line,
// the CRLF after chunk data, the trailer section: lines only) hold a line
// ended by a bare LF. The parser would wait for a CR that never comes.
bool HasBareLineFeed(std::string_view Pending);

}  // namespace tolvane::host
