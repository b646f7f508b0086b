#include <tolvane/runtime/stream.h>

#include <algorithm>
#include <cstring>

#include <tolvane/runtime/exception.h>

namespace tolvane {

TV_DEFINE_CLASS(TStream, TObject);
TV_DEFINE_CLASS(TCustomMemoryStream, TStream);
TV_DEFINE_CLASS(TMemoryStream, TCustomMemoryStream);

std::int64_t TStream::Size() {
  std::int64_t pos = Position();
  std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError(u"Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError(u"Stream write error");
}

std::int64_t TCustomMemoryStream::Read(void* Buffer, std::int64_t Count) {
  if (Count <= 0 || FPosition >= FSize) return 0;
  std::int64_t n = std::min(Count, FSize - FPosition);
  std::memcpy(Buffer, FMemory + FPosition, std::size_t(n));
  FPosition += n;
  return n;
}

std::int64_t TCustomMemoryStream::Write(const void*, std::int64_t) { return 0; }

std::int64_t TCustomMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  switch (Origin) {
    case TSeekOrigin::soBeginning: FPosition = Offset; break;
    case TSeekOrigin::soCurrent: FPosition += Offset; break;
    case TSeekOrigin::soEnd: FPosition = FSize + Offset; break;
  }
  if (FPosition < 0) FPosition = 0;
  return FPosition;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  std::size_t end = std::size_t(FPosition + Count);
  if (end > FData.size()) FData.resize(end);
  std::memcpy(FData.data() + FPosition, Buffer, std::size_t(Count));
  FPosition += Count;
  SetPointer(FData.data(), std::int64_t(FData.size()));
  return Count;
}

void TMemoryStream::Clear() {
  FData.clear();
  FPosition = 0;
  SetPointer(nullptr, 0);
}

}  // namespace tolvane
