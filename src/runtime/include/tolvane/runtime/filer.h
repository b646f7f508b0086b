#pragma once
// What a persistent object sees of the reader of a stored definition: the
// place to offer its defined properties and the values those read.
#include <cstdint>
#include <functional>
#include <string_view>

#include <tolvane/runtime/object.h>

namespace tolvane {

class TComponent;
class TStream;

class TFiler : public TObject {
  TV_DECLARE_CLASS(TFiler)
 public:
  using TReadProc = std::function<void(TFiler& Filer)>;
  using TStreamProc = std::function<void(TStream& Stream)>;

  // Offers a property stored outside the published list: when the name being
  // read equals Name (ignoring case), ReadData reads its value.
  virtual void DefineProperty(std::u16string_view Name, const TReadProc& ReadData, bool HasData) = 0;
  // The same for a property stored as bytes (vaBinary).
  virtual void DefineBinaryProperty(std::u16string_view Name, const TStreamProc& ReadData, bool HasData) = 0;

  // The properties and then the children of Instance.
  virtual void ReadData(TComponent* Instance) = 0;

  // Values, for defined properties.
  virtual std::int32_t ReadInteger() = 0;
  virtual std::int64_t ReadInt64() = 0;
  virtual double ReadFloat() = 0;
  virtual bool ReadBoolean() = 0;
  virtual String ReadString() = 0;
  virtual String ReadIdent() = 0;
};

}  // namespace tolvane
