#pragma once
// Small classes with the published shape of a web module: a data module with
// an Actions collection whose items have Default, Name, PathInfo, Enabled,
// MethodType and OnAction, plus a published handler; and components it can
// own. Their class names are what stored definitions name.
#include <span>

#include <tolvane/runtime/collection.h>
#include <tolvane/runtime/data_module.h>
#include <tolvane/runtime/published.h>

namespace tolvane::test {

enum TTestMethodType { tmAny, tmGet, tmPut, tmPost, tmHead };
inline constexpr const char16_t* TestMethodTypeNames[] = {u"tmAny", u"tmGet", u"tmPut", u"tmPost", u"tmHead"};

// Sender, the content to set, Handled.
using TTestActionEvent = TMethodEvent<TObject*, String&, bool&>;

class TTestActionItem : public TCollectionItem {
  TV_DECLARE_CLASS(TTestActionItem)
 public:
  // How many exist, to show that failed reads leave none behind.
  static inline int Live = 0;
  TTestActionItem() { ++Live; }
  ~TTestActionItem() override { --Live; }

  bool Default() const { return FDefault; }
  void SetDefault(bool Value) { FDefault = Value; }
  const String& Name() const { return FName; }
  void SetName(const String& Value) { FName = Value; }
  const String& PathInfo() const { return FPathInfo; }
  void SetPathInfo(const String& Value) { FPathInfo = Value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }
  TTestMethodType MethodType() const { return FMethodType; }
  void SetMethodType(TTestMethodType Value) { FMethodType = Value; }
  const TTestActionEvent& OnAction() const { return FOnAction; }
  void SetOnAction(const TTestActionEvent& Value) { FOnAction = Value; }

 private:
  bool FDefault = false;
  String FName;
  String FPathInfo;
  bool FEnabled = true;
  TTestMethodType FMethodType = tmAny;
  TTestActionEvent FOnAction;
};

class TTestActions : public TCollection {
  TV_DECLARE_CLASS(TTestActions)
 public:
  explicit TTestActions(TPersistent* Owner) : TCollection(TTestActionItem::StaticClass(), Owner) {}
  TTestActionItem* Items(int Index) const { return static_cast<TTestActionItem*>(GetItem(Index)); }
};

// A component with a reference to another one and a few value kinds.
class TTestPart : public TComponent {
  TV_DECLARE_CLASS(TTestPart)
 public:
  static inline int Live = 0;
  explicit TTestPart(TComponent* AOwner) : TComponent(AOwner) { ++Live; }
  ~TTestPart() override { --Live; }
  TComponent* Partner() const { return FPartner; }
  void SetPartner(TComponent* Value) { FPartner = Value; }
  std::int64_t Big() const { return FBig; }
  void SetBig(std::int64_t Value) { FBig = Value; }
  double Ratio() const { return FRatio; }
  void SetRatio(double Value) { FRatio = Value; }
  char16_t Letter() const { return FLetter; }
  void SetLetter(char16_t Value) { FLetter = Value; }
  TSet<TTestMethodType> Methods() const { return FMethods; }
  void SetMethods(TSet<TTestMethodType> Value) { FMethods = Value; }
  const AnsiString& Caption() const { return FCaption; }
  void SetCaption(const AnsiString& Value) { FCaption = Value; }
  // A defined binary property, "Blob".
  const std::string& Blob() const { return FBlob; }
  void DefineProperties(TFiler* Filer) override;
  int LoadedCalls() const { return FLoadedCalls; }
  void Loaded() override {
    TComponent::Loaded();
    ++FLoadedCalls;
  }

 private:
  TComponent* FPartner = nullptr;
  std::int64_t FBig = 0;
  double FRatio = 0;
  char16_t FLetter = 0;
  TSet<TTestMethodType> FMethods;
  AnsiString FCaption;
  std::string FBlob;
  int FLoadedCalls = 0;
};

// A component class found only through the class registry.
class TTestRegisteredPart : public TTestPart {
  TV_DECLARE_CLASS(TTestRegisteredPart)
 public:
  using TTestPart::TTestPart;
};

// Settings reached through a dotted property path ("Options.Level").
class TTestOptions : public TPersistent {
  TV_DECLARE_CLASS(TTestOptions)
 public:
  int Level() const { return FLevel; }
  void SetLevel(int Value) { FLevel = Value; }

 private:
  int FLevel = 0;
};

class TTestLinks;

// A collection item that refers to a component by name and holds a
// collection of its own, so that items nest.
class TTestLinkItem : public TCollectionItem {
  TV_DECLARE_CLASS(TTestLinkItem)
 public:
  TTestLinkItem();
  ~TTestLinkItem() override;
  TComponent* Target() const { return FTarget; }
  void SetTarget(TComponent* Value) { FTarget = Value; }
  TTestLinks* Links() const { return FLinks.get(); }
  void SetLinks(TTestLinks* Value);

 private:
  TComponent* FTarget = nullptr;
  std::unique_ptr<TTestLinks> FLinks;
};

class TTestLinks : public TCollection {
  TV_DECLARE_CLASS(TTestLinks)
 public:
  explicit TTestLinks(TPersistent* Owner) : TCollection(TTestLinkItem::StaticClass(), Owner) {}
  TTestLinkItem* Items(int Index) const { return static_cast<TTestLinkItem*>(GetItem(Index)); }
};

class TTestModule : public TDataModule {
  TV_DECLARE_CLASS(TTestModule)
 public:
  explicit TTestModule(TComponent* AOwner);

  TTestActions* Actions() const { return FActions.get(); }
  // A stored reference to no collection empties it (assigning none would raise).
  void SetActions(TTestActions* Value) {
    if (Value) FActions->Assign(Value);
    else FActions->Clear();
  }
  // Read-only: reached only through dotted paths.
  TTestOptions* Options() const { return FOptions.get(); }
  TTestLinks* Links() const { return FLinks.get(); }
  void SetLinks(TTestLinks* Value);

  // Published handlers.
  void WebModule1DefaultHandlerAction(TObject* Sender, String& Content, bool& Handled);
  void ModuleCreated(TObject* Sender);

  // A published field: the child named Part1 lands here.
  TTestPart* Part1 = nullptr;

  // Builds a module from a definition held in memory: under the name-space
  // lock and in a loading scope, as a module constructor does. A failure
  // frees the module whole.
  static TComponentPtr<TTestModule> Load(std::span<const std::uint8_t> Definition);

  TObject* LastSender = nullptr;
  int LoadedCalls = 0;
  void Loaded() override {
    TDataModule::Loaded();
    ++LoadedCalls;
  }

 private:
  std::unique_ptr<TTestActions> FActions;
  std::unique_ptr<TTestOptions> FOptions = std::make_unique<TTestOptions>();
  std::unique_ptr<TTestLinks> FLinks = std::make_unique<TTestLinks>(this);
};

// The application module's class name, so that its definition is found in
// the library's resources.
class TWebModule1 : public TTestModule {
  TV_DECLARE_CLASS(TWebModule1)
 public:
  // Reads its stored definitions as a module constructor does.
  explicit TWebModule1(TComponent* AOwner);
};

}  // namespace tolvane::test

namespace tolvane {
template <>
inline constexpr std::span<const char16_t* const> EnumValueNames<test::TTestMethodType> = test::TestMethodTypeNames;
}
