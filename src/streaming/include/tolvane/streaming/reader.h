#pragma once
// The reader of stored definitions: a tagged byte stream that gives a
// component its name, property values, collection items, event bindings and
// child components. It reads the bytes in place and never past their end.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <tolvane/runtime/collection.h>
#include <tolvane/runtime/component.h>
#include <tolvane/runtime/method_event.h>
#include <tolvane/streaming/global_names.h>

namespace tolvane {

enum TValueType : std::uint8_t {
  vaNull,
  vaList,
  vaInt8,
  vaInt16,
  vaInt32,
  vaExtended,
  vaString,
  vaIdent,
  vaFalse,
  vaTrue,
  vaBinary,
  vaSet,
  vaLString,
  vaNil,
  vaCollection,
  vaSingle,
  vaCurrency,
  vaDate,
  vaWString,
  vaInt64,
  vaUTF8String,
  vaDouble,
};

enum TFilerFlag { ffInherited, ffChildPos, ffInline };
using TFilerFlags = TSet<TFilerFlag>;

inline constexpr char FilerSignature[4] = {'T', 'P', 'F', '0'};

class TReader;
// May declare a reading error handled (Handled = true): reading then goes on
// with the next property.
using TReaderError = TMethodEvent<TReader*, const String&, bool&>;

class TReader : public TFiler {
  TV_DECLARE_CLASS(TReader)
 public:
  // Over Data, read in place; the bytes must outlive the reader.
  explicit TReader(std::span<const std::uint8_t> Data);
  ~TReader() override;

  // Reads a whole definition into Root.
  TComponent* ReadRootComponent(TComponent* Root);
  // Reads one child record, creating the child with the reader's owner.
  TComponent* ReadComponent();
  void ReadData(TComponent* Instance) override;
  void ReadProperty(TPersistent* Instance);
  void ReadPropValue(TPersistent* Instance, const TPropInfo* PropInfo);
  void ReadCollection(TCollection* Collection);

  TValueType ReadValue();
  TValueType NextValue();
  bool EndOfList();
  void ReadListBegin();
  void ReadListEnd();
  void ReadSignature();
  void ReadPrefix(TFilerFlags& Flags, int& ChildPos);
  String ReadStr();
  String ReadString() override;
  String ReadIdent() override;
  std::int32_t ReadInteger() override;
  std::int64_t ReadInt64() override;
  double ReadFloat() override;
  bool ReadBoolean() override;
  char16_t ReadChar();
  // The bits of the named elements; unknown names raise, positions above 31
  // are ignored.
  std::uint32_t ReadSet(std::span<const char16_t* const> ElementNames);
  void SkipValue();

  // The published method Name of Root's class (or an ancestor's).
  const TMethodInfo* FindMethod(TComponent* Root, std::u16string_view Name);
  void DefineProperty(std::u16string_view Name, const TReadProc& ReadData, bool HasData) override;
  void DefineBinaryProperty(std::u16string_view Name, const TStreamProc& ReadData, bool HasData) override;
  // Offers an error to OnError; true when it was declared handled.
  virtual bool Error(const String& Message);

  TReaderError OnError;
  TComponent* Root() const { return FRoot; }
  TComponent* LookupRoot() const { return FLookupRoot; }
  TComponent* Owner() const { return FOwner; }
  void SetOwner(TComponent* Value) { FOwner = Value; }
  std::size_t Position() const { return FPos; }

 private:
  void Need(std::size_t Count);
  std::uint8_t ReadByte();
  template <class T>
  T ReadLE();
  void Skip(std::size_t Count);
  String ReadCountedAnsi(std::size_t Count);
  void SkipStr();
  void SkipProperty();
  [[noreturn]] void PropValueError();
  [[noreturn]] void PropValueErrorSkipping();
  TClass FindComponentClass(std::u16string_view ClassName) const;
  void AddLoaded(TComponent* Component);
  void FixupReferences();

  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
  TComponent* FRoot = nullptr;
  TComponent* FLookupRoot = nullptr;
  TComponent* FOwner = nullptr;
  std::vector<TComponent*>* FLoaded;
  std::vector<TComponent*> FOwnLoaded;
  TFixupList FFixups;
  String FPropName;
  int FDataDepth = 0;
  int FNesting = 0;
};

// The per-thread loading scope: while one is open, every component read on
// the thread waits for its Loaded call until the scope closes. Scopes nest; an
// inner one collects on its own.
class TLoadingScope {
 public:
  TLoadingScope();
  ~TLoadingScope();
  TLoadingScope(const TLoadingScope&) = delete;
  TLoadingScope& operator=(const TLoadingScope&) = delete;
  // Tells every collected component Loaded, in the order they were read.
  void NotifyLoaded();
  // The list of the innermost open scope of the calling thread, or null.
  static std::vector<TComponent*>* Current();

 private:
  std::vector<TComponent*> FLoaded;
  std::vector<TComponent*>* FPrevious;
};

}  // namespace tolvane
