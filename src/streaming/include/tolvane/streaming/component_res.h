#pragma once
// Reading the stored definitions of a component's classes from the library's
// RCDATA resources.
#include <tolvane/runtime/component.h>

namespace tolvane {

// Reads the definition of every class of Instance's chain below RootAncestor
// (stopping at the component base), ancestors first, under the name-space
// lock and, unless Instance is already loading, in a loading scope of its
// own. True when at least one class had a definition.
bool InitInheritedComponent(TComponent* Instance, TClass RootAncestor);

// Reads the RCDATA resource ResName into Instance; false when the library
// holds no resource of that name.
bool InternalReadComponentRes(std::u16string_view ResName, TComponent* Instance);

// Reads a definition held in memory into Root.
void ReadComponentData(std::span<const std::uint8_t> Data, TComponent* Root);

}  // namespace tolvane
