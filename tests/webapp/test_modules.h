#pragma once
// Module classes and a configurable factory for the module-set tests. The
// modules are small components; some read a stored definition of their own
// while they are constructed, as a web module does.
#include <atomic>
#include <memory>
#include <span>
#include <vector>

#include "support/test_module.h"
#include <tolvane/webapp/web_module_factory.h>

namespace tolvane::test {

// Counted, so that a test sees what was freed.
class TPlainModule : public TComponent {
  TV_DECLARE_CLASS(TPlainModule)
 public:
  static inline int Live = 0;
  explicit TPlainModule(TComponent* AOwner) : TComponent(AOwner) { ++Live; }
  ~TPlainModule() override { --Live; }
};

class TDerivedPlainModule : public TPlainModule {
  TV_DECLARE_CLASS(TDerivedPlainModule)
 public:
  using TPlainModule::TPlainModule;
};

class TSecondPlainModule : public TPlainModule {
  TV_DECLARE_CLASS(TSecondPlainModule)
 public:
  using TPlainModule::TPlainModule;
};

// Built by code: named "Target", owning a part named "Thing".
class TTargetModule : public TComponent {
  TV_DECLARE_CLASS(TTargetModule)
 public:
  explicit TTargetModule(TComponent* AOwner);
};

// Like TTargetModule, but it answers to "Elsewhere".
class TElsewhereModule : public TComponent {
  TV_DECLARE_CLASS(TElsewhereModule)
 public:
  explicit TElsewhereModule(TComponent* AOwner);
};

// Makes a part of its own, then fails.
class TBrokenModule : public TComponent {
  TV_DECLARE_CLASS(TBrokenModule)
 public:
  explicit TBrokenModule(TComponent* AOwner);
};

// Reads a stored definition while it is constructed: under the name-space
// lock and in a loading scope of its own unless one is open.
class TStoredModule : public TTestModule {
  TV_DECLARE_CLASS(TStoredModule)
 protected:
  TStoredModule(TComponent* AOwner, std::span<const std::uint8_t> Definition);
};

// "Referrer": parts Part1 and Part2 whose partners are "Target.Thing" and
// "TARGET.Thing", a component of another module.
class TReferrerModule : public TStoredModule {
  TV_DECLARE_CLASS(TReferrerModule)
 public:
  explicit TReferrerModule(TComponent* AOwner);
};

// "Target" with a part "Thing", read from its definition.
class TStoredTargetModule : public TStoredModule {
  TV_DECLARE_CLASS(TStoredTargetModule)
 public:
  explicit TStoredTargetModule(TComponent* AOwner);
};

// A definition that makes a part and then names an unknown property.
class TFailingModule : public TStoredModule {
  TV_DECLARE_CLASS(TFailingModule)
 public:
  explicit TFailingModule(TComponent* AOwner);
};

// A factory with every answer chosen by the test; it counts what it is asked.
class TTestFactory : public TAbstractWebModuleFactory {
 public:
  TTestFactory(TClass AClass, String AName, TWebModuleCreateMode ACreateMode = crOnDemand,
               TWebModuleCacheMode ACacheMode = caCache, bool AIsApp = false)
      : FClass(AClass), FName(std::move(AName)), FCreateMode(ACreateMode), FCacheMode(ACacheMode), FIsApp(AIsApp) {}
  ~TTestFactory() override {
    if (Destroyed) *Destroyed = true;
  }

  String GetModuleName() override { return FName; }
  bool GetIsAppModule() override { return FIsApp; }
  TWebModuleCreateMode GetCreateMode() override { return FCreateMode; }
  TWebModuleCacheMode GetCacheMode() override { return FCacheMode; }
  TClass GetComponentClass() override { return FClass; }
  TComponent* GetModule() override {
    ++Made;
    return dynamic_cast<TComponent*>(FClass->Create(nullptr));
  }
  void PreventDestruction() override { ++Prevented; }

  // Atomic: sets on several threads make modules at once.
  std::atomic<int> Made{0};
  std::atomic<int> Prevented{0};
  bool* Destroyed = nullptr;

 private:
  TClass FClass;
  String FName;
  TWebModuleCreateMode FCreateMode;
  TWebModuleCacheMode FCacheMode;
  bool FIsApp;
};

// Registers a new test factory and answers it; the list owns it.
TTestFactory* AddTestFactory(TWebModuleFactoryList& List, TClass AClass, const String& AName,
                             TWebModuleCreateMode ACreateMode = crOnDemand, TWebModuleCacheMode ACacheMode = caCache);

}  // namespace tolvane::test
