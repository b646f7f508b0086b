#include "framing.h"

#include <cassert>

namespace tolvane::host {

namespace asio = boost::asio;
namespace http = boost::beast::http;

void TWirePieces::Add(asio::const_buffer Piece) {
  if (Piece.size() == 0) return;
  assert(FCount < FPieces.size());
  FPieces[FCount++] = Piece;
}

std::size_t TWirePieces::Bytes() const {
  std::size_t Total = 0;
  for (std::size_t I = 0; I < FCount; ++I) Total += FPieces[I].size();
  return Total;
}

void TBodyFramer::AddBody(TWirePieces& Out, std::span<const asio::const_buffer> Body, std::size_t Size) {
  if (Size == 0 || FFraming == fmNone) return;
  const bool Chunked = FFraming == fmChunked;
  if (Chunked) {
    FChunkHeader.emplace(Size);
    Out.AddSequence(*FChunkHeader);
  }
  for (const auto& Piece : Body) Out.Add(Piece);
  if (Chunked) Out.AddSequence(FCrlf);
}

void TBodyFramer::AddEnd(TWirePieces& Out) {
  if (FFraming == fmChunked) Out.AddSequence(FLastChunk);
}

std::string HostAnswer(unsigned Status, bool IsHead) {
  TResponseHead Head;
  Head.FStatus = Status;
  Head.FReason.assign(ReasonOf(Status));
  const std::string Body = std::to_string(Status) + " " + Head.FReason + "\n";
  Head.FFields.emplace_back("Content-Type", "text/plain");
  std::string Out = SerializeHead(Head, fmLength, Body.size(), false, false);
  if (!IsHead) Out += Body;
  return Out;
}

bool HasBareLineFeed(std::string_view Pending) {
  for (std::size_t Feed = Pending.find('\n'); Feed != std::string_view::npos; Feed = Pending.find('\n', Feed + 1))
    if (Feed == 0 || Pending[Feed - 1] != '\r') return true;
  return false;
}

}  // namespace tolvane::host
