#pragma once
// Data modules: components that hold other components and have creation and
// destruction events. OldCreateOrder decides when the events run:
//  - false: OnCreate once construction is complete (AfterConstruction), and
//    OnDestroy at the start of destruction (BeforeDestruction);
//  - true: OnCreate inside the constructor of the class that reads the stored
//    definition (it calls DoCreate), and OnDestroy during destruction
//    (DestroyDataModule).
// An exception from OnCreate goes to the process-wide exception hook with the
// module as sender (and propagates when none is installed); one from
// OnDestroy goes to the hook and is dropped.
#include "runtime/component.h"
#include "runtime/method_event.h"

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
  // Runs OnDestroy under the old order and frees the owned components, once.
  // A derived destructor that its components' removal must still find whole
  // calls it first.
  void DestroyDataModule();

 private:
  bool FOldCreateOrder = false;
  TNotifyEvent FOnCreate;
  TNotifyEvent FOnDestroy;
  int FDesignHeight = 0;
  int FDesignWidth = 0;
  int FDesignOffsetX = 0;
  int FDesignOffsetY = 0;
  bool FDestroyed = false;
  bool FNameSpaceHeld = false;
};

}  // namespace tolvane
