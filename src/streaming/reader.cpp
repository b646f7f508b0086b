#include <tolvane/streaming/reader.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include <tolvane/runtime/exception.h>
#include <tolvane/runtime/format.h>
#include <tolvane/runtime/stream.h>

namespace tolvane {

TV_DEFINE_CLASS(TReader, TFiler);

namespace {

// Records, lists and collections nest; a damaged definition must not nest
// deeper than the thread's stack allows.
constexpr int MaxNesting = 128;

thread_local std::vector<TComponent*>* LoadingScope = nullptr;

[[noreturn]] void ReadError() { throw EReadError(u"Stream read error"); }
[[noreturn]] void InvalidFormat() { throw EReadError(u"Invalid stream format"); }

bool IsIntegerTag(TValueType Tag) { return Tag == vaInt8 || Tag == vaInt16 || Tag == vaInt32; }

// 80-bit extended precision: sign, 15-bit exponent, 64-bit significand with
// its integer bit explicit.
double ExtendedToDouble(const std::uint8_t* Bytes) {
  std::uint64_t mantissa = 0;
  for (int i = 7; i >= 0; --i) mantissa = mantissa << 8 | Bytes[i];
  unsigned exponent = unsigned(Bytes[8]) | unsigned(Bytes[9] & 0x7F) << 8;
  bool negative = Bytes[9] & 0x80;
  double value;
  if (exponent == 0x7FFF)
    value = (mantissa << 1) ? std::nan("") : HUGE_VAL;
  else
    value = std::ldexp(double(mantissa), int(exponent) - 16383 - 63);
  return negative ? -value : value;
}

struct TNestingGuard {
  int& Depth;
  explicit TNestingGuard(int& D) : Depth(D) {
    if (++Depth > MaxNesting) {
      --Depth;
      InvalidFormat();
    }
  }
  ~TNestingGuard() { --Depth; }
};

}  // namespace

// Loading scope

TLoadingScope::TLoadingScope() : FPrevious(LoadingScope) { LoadingScope = &FLoaded; }

TLoadingScope::~TLoadingScope() { LoadingScope = FPrevious; }

void TLoadingScope::NotifyLoaded() {
  // A Loaded handler may read more; the list may grow while it is walked.
  for (std::size_t i = 0; i < FLoaded.size(); ++i) FLoaded[i]->Loaded();
  FLoaded.clear();
}

std::vector<TComponent*>* TLoadingScope::Current() { return LoadingScope; }

// Reader

TReader::TReader(std::span<const std::uint8_t> Data) : FData(Data.data()), FSize(Data.size()), FLoaded(&FOwnLoaded) {}

TReader::~TReader() = default;

void TReader::Need(std::size_t Count) {
  if (Count > FSize - FPos) ReadError();
}

std::uint8_t TReader::ReadByte() {
  Need(1);
  return FData[FPos++];
}

template <class T>
T TReader::ReadLE() {
  Need(sizeof(T));
  std::make_unsigned_t<T> v = 0;
  for (std::size_t i = sizeof(T); i-- > 0;) v = std::make_unsigned_t<T>(v << 8 | FData[FPos + i]);
  FPos += sizeof(T);
  return static_cast<T>(v);
}

void TReader::Skip(std::size_t Count) {
  Need(Count);
  FPos += Count;
}

TValueType TReader::ReadValue() { return TValueType(ReadByte()); }

TValueType TReader::NextValue() {
  Need(1);
  return TValueType(FData[FPos]);
}

bool TReader::EndOfList() { return NextValue() == vaNull; }

void TReader::ReadListBegin() {
  if (ReadValue() != vaList) PropValueError();
}

void TReader::ReadListEnd() {
  if (ReadValue() != vaNull) PropValueError();
}

void TReader::PropValueError() { throw EReadError(u"Invalid property value"); }

void TReader::PropValueErrorSkipping() {
  SkipValue();
  PropValueError();
}

void TReader::ReadSignature() {
  if (FSize - FPos < 4 || std::memcmp(FData + FPos, FilerSignature, 4) != 0) InvalidFormat();
  FPos += 4;
}

void TReader::ReadPrefix(TFilerFlags& Flags, int& ChildPos) {
  Flags = {};
  ChildPos = 0;
  std::uint8_t b = std::uint8_t(NextValue());
  if ((b & 0xF0) != 0xF0) return;
  ++FPos;
  Flags = TFilerFlags::FromBits(b & 0x0F);
  if (Flags.Contains(ffChildPos)) ChildPos = ReadInteger();
}

String TReader::ReadStr() {
  std::size_t n = ReadByte();
  Need(n);
  String s = UTF8ToString(std::string_view(reinterpret_cast<const char*>(FData + FPos), n));
  FPos += n;
  return s;
}

void TReader::SkipStr() { Skip(ReadByte()); }

String TReader::ReadCountedAnsi(std::size_t Count) {
  Need(Count);
  String s = StringOf(std::string_view(reinterpret_cast<const char*>(FData + FPos), Count));
  FPos += Count;
  return s;
}

String TReader::ReadString() {
  TValueType tag = NextValue();
  switch (tag) {
    case vaString:
      ++FPos;
      return ReadCountedAnsi(ReadByte());
    case vaLString:
      ++FPos;
      return ReadCountedAnsi(ReadLE<std::uint32_t>());
    case vaUTF8String: {
      ++FPos;
      std::size_t n = ReadLE<std::uint32_t>();
      Need(n);
      String s = UTF8ToString(std::string_view(reinterpret_cast<const char*>(FData + FPos), n));
      FPos += n;
      return s;
    }
    case vaWString: {
      ++FPos;
      std::uint64_t chars = ReadLE<std::uint32_t>();
      Need(std::size_t(chars * 2));
      String s(std::size_t(chars), u'\0');
      for (std::size_t i = 0; i < chars; ++i) s[i] = char16_t(FData[FPos + 2 * i] | FData[FPos + 2 * i + 1] << 8);
      FPos += std::size_t(chars * 2);
      return s;
    }
    default:
      PropValueErrorSkipping();
  }
}

String TReader::ReadIdent() {
  switch (NextValue()) {
    case vaIdent:
      ++FPos;
      return ReadStr();
    case vaFalse:
      ++FPos;
      return u"False";
    case vaTrue:
      ++FPos;
      return u"True";
    case vaNil:
      ++FPos;
      return u"nil";
    case vaNull:
      ++FPos;
      return u"Null";
    default:
      PropValueErrorSkipping();
  }
}

std::int32_t TReader::ReadInteger() {
  switch (NextValue()) {
    case vaInt8:
      ++FPos;
      return ReadLE<std::int8_t>();
    case vaInt16:
      ++FPos;
      return ReadLE<std::int16_t>();
    case vaInt32:
      ++FPos;
      return ReadLE<std::int32_t>();
    default:
      PropValueErrorSkipping();
  }
}

std::int64_t TReader::ReadInt64() {
  if (NextValue() == vaInt64) {
    ++FPos;
    return ReadLE<std::int64_t>();
  }
  return ReadInteger();
}

double TReader::ReadFloat() {
  switch (NextValue()) {
    case vaExtended: {
      ++FPos;
      Need(10);
      double v = ExtendedToDouble(FData + FPos);
      FPos += 10;
      return v;
    }
    case vaDouble: {
      ++FPos;
      std::uint64_t bits = ReadLE<std::uint64_t>();
      double v;
      std::memcpy(&v, &bits, sizeof v);
      return v;
    }
    case vaInt64:
      return double(ReadInt64());
    default:
      return double(ReadInteger());
  }
}

bool TReader::ReadBoolean() {
  switch (NextValue()) {
    case vaTrue:
      ++FPos;
      return true;
    case vaFalse:
      ++FPos;
      return false;
    default:
      PropValueErrorSkipping();
  }
}

char16_t TReader::ReadChar() {
  String s = ReadString();
  if (s.size() != 1) PropValueError();
  return s[0];
}

std::uint32_t TReader::ReadSet(std::span<const char16_t* const> ElementNames) {
  if (NextValue() != vaSet) PropValueErrorSkipping();
  ++FPos;
  std::uint32_t bits = 0;
  bool unknown = false;
  // The whole set is read even when a name is unknown, so the stream stays in step.
  for (String name = ReadStr(); !name.empty(); name = ReadStr()) {
    auto it = std::find_if(ElementNames.begin(), ElementNames.end(),
                           [&](const char16_t* n) { return SameText(name, n); });
    if (it == ElementNames.end()) unknown = true;
    else if (auto pos = it - ElementNames.begin(); pos <= 31) bits |= 1u << pos;
  }
  if (unknown) PropValueError();
  return bits;
}

void TReader::SkipProperty() {
  SkipStr();
  SkipValue();
}

void TReader::SkipValue() {
  TNestingGuard nesting(FNesting);
  switch (ReadValue()) {
    case vaNull:
    case vaFalse:
    case vaTrue:
    case vaNil:
      break;
    case vaList:
      while (!EndOfList()) SkipValue();
      ReadListEnd();
      break;
    case vaInt8:
      Skip(1);
      break;
    case vaInt16:
      Skip(2);
      break;
    case vaInt32:
    case vaSingle:
      Skip(4);
      break;
    case vaExtended:
      Skip(10);
      break;
    case vaString:
    case vaIdent:
      SkipStr();
      break;
    case vaBinary:
    case vaLString:
    case vaUTF8String:
      Skip(ReadLE<std::uint32_t>());
      break;
    case vaWString:
      Skip(std::size_t(std::uint64_t(ReadLE<std::uint32_t>()) * 2));
      break;
    case vaSet:
      while (ReadByte() != 0) {
        --FPos;
        SkipStr();
      }
      break;
    case vaCollection:
      while (!EndOfList()) {
        if (IsIntegerTag(NextValue())) SkipValue();
        ReadListBegin();
        while (!EndOfList()) SkipProperty();
        ReadListEnd();
      }
      ReadListEnd();
      break;
    case vaCurrency:
    case vaDate:
    case vaInt64:
    case vaDouble:
      Skip(8);
      break;
    default:
      // A tag outside the table has no known length.
      PropValueError();
  }
}

const TMethodInfo* TReader::FindMethod(TComponent* Root, std::u16string_view Name) {
  const TMethodInfo* m = Root ? Root->ClassType()->FindMethod(Name) : nullptr;
  if (!m) PropValueError();
  return m;
}

void TReader::DefineProperty(std::u16string_view Name, const TReadProc& ReadData, bool) {
  if (!FPropName.empty() && ReadData && SameText(Name, FPropName)) {
    ReadData(*this);
    FPropName.clear();
  }
}

void TReader::DefineBinaryProperty(std::u16string_view Name, const TStreamProc& ReadData, bool) {
  if (FPropName.empty() || !ReadData || !SameText(Name, FPropName)) return;
  if (NextValue() != vaBinary) PropValueErrorSkipping();
  ++FPos;
  std::size_t n = ReadLE<std::uint32_t>();
  Need(n);
  TCustomMemoryStream stream(FData + FPos, std::int64_t(n));
  FPos += n;
  ReadData(stream);
  FPropName.clear();
}

bool TReader::Error(const String& Message) {
  bool handled = false;
  if (OnError) OnError(this, Message, handled);
  return handled;
}

void TReader::ReadProperty(TPersistent* Instance) {
  String path = ReadStr();
  bool definedRead = false;
  try {
    TPersistent* object = Instance;
    std::u16string_view rest(path);
    for (;;) {
      std::size_t dot = rest.find(u'.');
      std::u16string_view segment = rest.substr(0, dot);
      const TPropInfo* prop = object->ClassType()->FindProperty(segment);
      if (dot == std::u16string_view::npos) {
        if (prop) {
          ReadPropValue(object, prop);
        } else {
          FPropName = String(segment);
          definedRead = true;
          object->DefineProperties(this);
          definedRead = false;
          if (!FPropName.empty()) {
            FPropName.clear();
            SkipValue();
            throw EReadError(u"Property %s does not exist", {String(segment)});
          }
        }
        break;
      }
      if (!prop) {
        // A defined property may claim the whole dotted name.
        FPropName = path;
        definedRead = true;
        object->DefineProperties(this);
        definedRead = false;
        if (FPropName.empty()) break;
        FPropName.clear();
        SkipValue();
        throw EReadError(u"Property %s does not exist", {path});
      }
      auto* next = prop->Kind == tkClass && prop->GetObject ? dynamic_cast<TPersistent*>(prop->GetObject(object)) : nullptr;
      if (!next) {
        SkipValue();
        throw EReadError(u"Invalid property path");
      }
      object = next;
      rest.remove_prefix(dot + 1);
    }
  } catch (const Exception& E) {
    FPropName.clear();
    auto* component = dynamic_cast<TComponent*>(Instance);
    String name = component && !component->Name().empty() ? component->Name() : Instance->ClassName();
    EReadError wrapped(u"Error reading %s%s%s: %s", {name, String(u"."), path, E.Message()});
    if (definedRead || !Error(wrapped.Message())) throw wrapped;
  }
}

void TReader::ReadPropValue(TPersistent* Instance, const TPropInfo* PropInfo) {
  const TPropInfo& p = *PropInfo;
  bool writable = false;
  switch (p.Kind) {
    case tkFloat:
      writable = p.SetFloat;
      break;
    case tkLString:
    case tkUString:
      writable = p.SetText;
      break;
    case tkClass:
      writable = p.SetObject;
      break;
    case tkMethod:
      writable = p.SetMethod;
      break;
    default:
      writable = p.SetOrdinal;
  }
  if (!writable) {
    auto* held = p.Kind == tkClass && p.GetObject ? dynamic_cast<TComponent*>(p.GetObject(Instance)) : nullptr;
    if (!held || !held->ComponentStyle().Contains(csSubComponent)) {
      SkipValue();
      throw EReadError(u"Property is read-only");
    }
  }
  switch (p.Kind) {
    case tkInteger:
      if (NextValue() == vaIdent) {
        String ident = ReadIdent();
        std::int64_t v = 0;
        if (!p.IdentToInt || !p.IdentToInt(ident, v)) PropValueError();
        p.SetOrdinal(Instance, v);
      } else {
        p.SetOrdinal(Instance, ReadInteger());
      }
      break;
    case tkChar: {
      String c(1, ReadChar());
      AnsiString a = AnsiOf(c);
      p.SetOrdinal(Instance, static_cast<unsigned char>(a.empty() ? '?' : a[0]));
      break;
    }
    case tkWChar:
      p.SetOrdinal(Instance, ReadChar());
      break;
    case tkEnumeration: {
      String ident = ReadIdent();
      auto it = std::find_if(p.EnumNames.begin(), p.EnumNames.end(), [&](const char16_t* n) { return SameText(ident, n); });
      if (it == p.EnumNames.end()) PropValueError();
      p.SetOrdinal(Instance, it - p.EnumNames.begin());
      break;
    }
    case tkFloat:
      p.SetFloat(Instance, ReadFloat());
      break;
    case tkLString:
    case tkUString:
      p.SetText(Instance, ReadString());
      break;
    case tkSet:
      p.SetOrdinal(Instance, ReadSet(p.EnumNames));
      break;
    case tkInt64:
      p.SetOrdinal(Instance, ReadInt64());
      break;
    case tkClass:
      switch (NextValue()) {
        case vaNil:
          ++FPos;
          if (!p.SetObject) throw EReadError(u"Property is read-only");
          p.SetObject(Instance, nullptr);
          break;
        case vaCollection: {
          ++FPos;
          auto* collection = p.GetObject ? dynamic_cast<TCollection*>(p.GetObject(Instance)) : nullptr;
          if (!collection) {
            --FPos;
            PropValueErrorSkipping();
          }
          ReadCollection(collection);
          break;
        }
        // Tags that read as identifiers ("True", "False", "Null") name a
        // component like any other identifier; only vaNil means none.
        case vaIdent:
        case vaFalse:
        case vaTrue:
        case vaNull: {
          String name = ReadIdent();
          if (!p.SetObject) throw EReadError(u"Property is read-only");
          FFixups.Add(TPropFixup{Instance, PropInfo, FRoot, name});
          break;
        }
        default:
          PropValueErrorSkipping();
      }
      break;
    case tkMethod:
      switch (NextValue()) {
        case vaNil:
          ++FPos;
          p.SetMethod(Instance, nullptr, nullptr);
          break;
        case vaIdent: {
          String name = ReadIdent();
          // Handlers are always the root's methods, also for collection items.
          const TMethodInfo* m = FindMethod(FRoot, name);
          if (!p.SetMethod(Instance, FRoot, m)) PropValueError();
          break;
        }
        default:
          PropValueErrorSkipping();
      }
      break;
  }
}

void TReader::ReadCollection(TCollection* Collection) {
  TNestingGuard nesting(FNesting);
  Collection->BeginUpdate();
  struct TEndUpdate {
    TCollection* C;
    ~TEndUpdate() { C->EndUpdate(); }
  } endUpdate{Collection};
  if (!EndOfList()) Collection->Clear();
  while (!EndOfList()) {
    if (IsIntegerTag(NextValue())) ReadInteger();  // the order value is not used
    TCollectionItem* item = Collection->Add();
    if (NextValue() != vaList) PropValueErrorSkipping();
    ++FPos;
    while (!EndOfList()) ReadProperty(item);
    ReadListEnd();
  }
  ReadListEnd();
}

TClass TReader::FindComponentClass(std::u16string_view ClassName) const {
  if (FRoot)
    for (TClass c = FRoot->ClassType(); c; c = c->Parent)
      for (const TFieldInfo& f : c->Fields)
        if (SameText(f.FieldClass->Name, ClassName)) return f.FieldClass;
  return GetClass(ClassName);
}

void TReader::AddLoaded(TComponent* Component) {
  if (std::find(FLoaded->begin(), FLoaded->end(), Component) == FLoaded->end()) FLoaded->push_back(Component);
}

TComponent* TReader::ReadComponent() {
  TNestingGuard nesting(FNesting);
  TFilerFlags flags;
  int childPos = 0;
  ReadPrefix(flags, childPos);
  String className = ReadStr();
  String name = ReadStr();
  if (!FOwner) InvalidFormat();
  TComponent* child = nullptr;
  // A child an ancestor's definition made is read again; one missing is made anew.
  if (flags.Contains(ffInherited)) child = FOwner->FindComponent(name);
  bool created = !child;
  if (created) {
    TClass cls = FindComponentClass(className);
    if (!cls || !cls->InheritsFrom(TComponent::StaticClass()) || !cls->Create)
      throw EClassNotFound(u"Class %s not found", {className});
    std::unique_ptr<TObject> made(cls->Create(FOwner));
    child = dynamic_cast<TComponent*>(made.get());
    if (!child) throw EClassNotFound(u"Class %s not found", {className});
    made.release();
  }
  try {
    child->SetComponentStateItem(csLoading, true);
    child->SetComponentStateItem(csReading, true);
    if (created) child->SetName(name);
    child->ReadState(this);
    child->SetComponentStateItem(csReading, false);
    if (flags.Contains(ffChildPos) && child->Owner()) child->Owner()->SetChildOrder(child, childPos);
    AddLoaded(child);
  } catch (...) {
    if (created) {
      FLoaded->erase(std::remove(FLoaded->begin(), FLoaded->end(), child), FLoaded->end());
      // Its references, and those of its items, go with it.
      child->Free();
    }
    throw;
  }
  return child;
}

void TReader::ReadData(TComponent* Instance) {
  struct TDepth {
    int& D;
    ~TDepth() { --D; }
  } depth{++FDataDepth};
  while (!EndOfList()) ReadProperty(Instance);
  ReadListEnd();
  TComponent* savedOwner = FOwner;
  struct TRestore {
    TComponent*& Owner;
    TComponent* Saved;
    ~TRestore() { Owner = Saved; }
  } restore{FOwner, savedOwner};
  TComponent* childOwner = Instance->GetChildOwner();
  FOwner = childOwner ? childOwner : FRoot;
  while (!EndOfList()) ReadComponent();
  ReadListEnd();
  if (FDataDepth == 1) FixupReferences();
}

void TReader::FixupReferences() {
  // One at a time: the rest stay in the list, where an object that a setter
  // or a finder frees meanwhile takes its own out.
  TPropFixup f{};
  while (FFixups.TakeFirst(f)) {
    TComponent* found = FindNestedComponent(f.Root, f.Name);
    if (!found && f.Name.find(u'.') != String::npos) {
      // A component of another module: wait until that module exists.
      AddGlobalFixup(std::move(f));
      continue;
    }
    if (!f.Prop->SetObject(f.Instance, found)) f.Prop->SetObject(f.Instance, nullptr);
  }
}

TComponent* TReader::ReadRootComponent(TComponent* Root) {
  ReadSignature();
  if (!Root) InvalidFormat();
  platform::TWriteLock nameSpace(GlobalNameSpace());
  try {
    TFilerFlags flags;
    int childPos = 0;
    ReadPrefix(flags, childPos);
    ReadStr();  // the stored class name is not compared with the root's
    Root->SetComponentStateItem(csLoading, true);
    Root->SetComponentStateItem(csReading, true);
    String name = ReadStr();
    if (!name.empty()) {
      String unique = name;
      auto isUnique = IsUniqueGlobalComponentNameProc.load();
      for (int i = 1; !isUnique(unique); ++i) unique = Format(u"%s_%d", {name, i});
      name = unique;
    }
    Root->SetName(name);
    FRoot = FLookupRoot = FOwner = Root;
    FLoaded = TLoadingScope::Current();
    if (!FLoaded) FLoaded = &FOwnLoaded;
    AddLoaded(Root);
    Root->ReadState(this);
    Root->SetComponentStateItem(csReading, false);
    if (FLoaded == &FOwnLoaded) {
      for (std::size_t i = 0; i < FOwnLoaded.size(); ++i) FOwnLoaded[i]->Loaded();
      FOwnLoaded.clear();
    }
    // A handled failure earns one more pass, not an endless loop: a handler
    // that declares every failure handled must not hang the thread. After
    // that the references simply stay waiting.
    for (int pass = 0; pass < 2; ++pass) {
      try {
        GlobalFixupReferences();
        break;
      } catch (const Exception& E) {
        if (!Error(E.Message())) throw;
      }
    }
  } catch (...) {
    RemoveFixupReferences(Root);
    throw;
  }
  return Root;
}

}  // namespace tolvane
