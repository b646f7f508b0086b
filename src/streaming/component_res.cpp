#include <tolvane/streaming/component_res.h>

#include <optional>

#include <tolvane/platform/resource.h>
#include <tolvane/streaming/reader.h>

namespace tolvane {

namespace {

bool InitComponent(TClass Class, TClass RootAncestor, TComponent* Instance) {
  if (!Class || Class == RootAncestor || Class == TComponent::StaticClass()) return false;
  bool found = InitComponent(Class->Parent, RootAncestor, Instance);
  return InternalReadComponentRes(Class->Name, Instance) || found;
}

}  // namespace

void ReadComponentData(std::span<const std::uint8_t> Data, TComponent* Root) {
  TReader reader(Data);
  reader.ReadRootComponent(Root);
}

bool InternalReadComponentRes(std::u16string_view ResName, TComponent* Instance) {
  auto data = platform::FindRCData(ResName);
  if (!data) return false;
  ReadComponentData(*data, Instance);
  return true;
}

bool InitInheritedComponent(TComponent* Instance, TClass RootAncestor) {
  platform::TWriteLock nameSpace(GlobalNameSpace());
  std::optional<TLoadingScope> scope;
  if (!Instance->ComponentState().Contains(csLoading)) scope.emplace();
  bool result = InitComponent(Instance->ClassType(), RootAncestor, Instance);
  // On an exception the scope closes without any Loaded call.
  if (scope) scope->NotifyLoaded();
  return result;
}

}  // namespace tolvane
