#include <tolvane/runtime/data_module.h>

#include <tolvane/runtime/application_hook.h>
#include <tolvane/runtime/published.h>

namespace tolvane {

namespace {

const TPropInfo DataModuleProps[] = {
    WithDefault(TV_PROPERTY(TDataModule, OldCreateOrder), 0),
    TV_PROPERTY(TDataModule, OnCreate),
    TV_PROPERTY(TDataModule, OnDestroy),
};

}  // namespace

TV_DEFINE_CLASS(TDataModule, TComponent, CreateComponent<TDataModule>, DataModuleProps);

TDataModule::TDataModule(TComponent* AOwner) : TComponent(AOwner) {}

TDataModule::~TDataModule() {
  // Free took the lock in BeforeDestruction; a module deleted without Free
  // (a constructor that failed) takes it here, and its components go now.
  if (!FNameSpaceHeld) {
    GlobalNameSpace().BeginWrite();
    FNameSpaceHeld = true;
  }
  ReleaseFixups();
  try {
    ReleaseLinks();
  } catch (...) {
    // A destructor has nowhere to send it; Free raises such failures itself.
  }
  FNameSpaceHeld = false;
  GlobalNameSpace().EndWrite();
}

void TDataModule::AfterConstruction() {
  TComponent::AfterConstruction();
  if (!FOldCreateOrder) DoCreate();
}

void TDataModule::BeforeDestruction() {
  GlobalNameSpace().BeginWrite();
  FNameSpaceHeld = true;
  TComponent::BeforeDestruction();
  DoDestroy();
}

void TDataModule::DoCreate() {
  if (!FOnCreate) return;
  try {
    FOnCreate(this);
  } catch (...) {
    if (!HandleApplicationException(this)) throw;
  }
}

void TDataModule::DoDestroy() {
  if (!FOnDestroy) return;
  try {
    FOnDestroy(this);
  } catch (...) {
    try {
      HandleApplicationException(this);
    } catch (...) {
      // Destruction goes on whatever the hook does.
    }
  }
}

void TDataModule::ReadState(TFiler* Reader) {
  FOldCreateOrder = true;
  TComponent::ReadState(Reader);
}

void TDataModule::DefineProperties(TFiler* Filer) {
  TComponent::DefineProperties(Filer);
  Filer->DefineProperty(u"Height", [this](TFiler& R) { FDesignHeight = R.ReadInteger(); }, FDesignHeight != 0);
  Filer->DefineProperty(u"Width", [this](TFiler& R) { FDesignWidth = R.ReadInteger(); }, FDesignWidth != 0);
  Filer->DefineProperty(u"HorizontalOffset", [this](TFiler& R) { FDesignOffsetX = R.ReadInteger(); }, FDesignOffsetX != 0);
  Filer->DefineProperty(u"VerticalOffset", [this](TFiler& R) { FDesignOffsetY = R.ReadInteger(); }, FDesignOffsetY != 0);
}

}  // namespace tolvane
