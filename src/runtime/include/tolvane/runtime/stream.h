#pragma once
// A minimal stream family: a position and a size over bytes.
#include <cstdint>
#include <vector>

#include <tolvane/runtime/object.h>

namespace tolvane {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
  TV_DECLARE_CLASS(TStream)
 public:
  // Answer how many bytes were moved.
  virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
  virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
  // Answers the new position.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t Value) { Seek(Value, TSeekOrigin::soBeginning); }
  virtual std::int64_t Size();

  // Raise EReadError "Stream read error" / EWriteError "Stream write error"
  // unless every byte was moved.
  void ReadBuffer(void* Buffer, std::int64_t Count);
  void WriteBuffer(const void* Buffer, std::int64_t Count);
};

// Reads memory that someone else owns, in place.
class TCustomMemoryStream : public TStream {
  TV_DECLARE_CLASS(TCustomMemoryStream)
 public:
  TCustomMemoryStream() = default;
  TCustomMemoryStream(const void* Memory, std::int64_t Size) { SetPointer(Memory, Size); }

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override { return FSize; }
  const std::uint8_t* Memory() const { return FMemory; }

 protected:
  void SetPointer(const void* Memory, std::int64_t Size) {
    FMemory = static_cast<const std::uint8_t*>(Memory);
    FSize = Size;
  }
  std::int64_t FPosition = 0;

 private:
  const std::uint8_t* FMemory = nullptr;
  std::int64_t FSize = 0;
};

// A growable stream over bytes it owns.
class TMemoryStream : public TCustomMemoryStream {
  TV_DECLARE_CLASS(TMemoryStream)
 public:
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  void Clear();

 private:
  std::vector<std::uint8_t> FData;
};

}  // namespace tolvane
