#pragma once
// Data modules: components that hold other components and have creation and
// destruction events. OldCreateOrder decides when OnCreate runs: false, once
// construction is complete (AfterConstruction); true, inside the constructor
// of the class that reads the stored definition (it calls DoCreate). OnDestroy
// runs at the start of destruction (Free), under either order, while the
// module and its components are still whole: a handler is a method of the
// module and must not run on a partly destroyed object.
// An exception from OnCreate goes to the process-wide exception hook with the
// module as sender (and propagates when none is installed); one from
// OnDestroy goes to the hook and is dropped.
// Destruction holds the name-space lock for writing throughout.
#include <tolvane/runtime/component.h>
#include <tolvane/runtime/method_event.h>

namespace tolvane {

class TDataModule : public TComponent {
  TV_DECLARE_CLASS(TDataModule)
 public:
  explicit TDataModule(TComponent* AOwner);
  ~TDataModule() override;

  bool OldCreateOrder() const { return FOldCreateOrder; }
  void SetOldCreateOrder(bool Value) { FOldCreateOrder = Value; }
  const TNotifyEvent& OnCreate() const { return FOnCreate; }
  void SetOnCreate(const TNotifyEvent& Value) { FOnCreate = Value; }
  const TNotifyEvent& OnDestroy() const { return FOnDestroy; }
  void SetOnDestroy(const TNotifyEvent& Value) { FOnDestroy = Value; }

  // Design values: stored with the module, not used while it serves.
  int DesignHeight() const { return FDesignHeight; }
  int DesignWidth() const { return FDesignWidth; }
  int DesignHorizontalOffset() const { return FDesignOffsetX; }
  int DesignVerticalOffset() const { return FDesignOffsetY; }

  void AfterConstruction() override;
  void BeforeDestruction() override;
  // OldCreateOrder becomes true, then the stored data is read.
  void ReadState(TFiler* Reader) override;
  void DefineProperties(TFiler* Filer) override;

 protected:
  void DoCreate();
  void DoDestroy();

 private:
  bool FOldCreateOrder = false;
  TNotifyEvent FOnCreate;
  TNotifyEvent FOnDestroy;
  int FDesignHeight = 0;
  int FDesignWidth = 0;
  int FDesignOffsetX = 0;
  int FDesignOffsetY = 0;
  bool FNameSpaceHeld = false;
};

}  // namespace tolvane
