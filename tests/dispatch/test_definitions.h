#pragma once
// The stored definitions of the dispatch tests' modules, built with the
// definition writer. tests/dispatch/rcdata holds the same bytes as resources;
// a test checks that they agree.
#include <cstdint>
#include <vector>

namespace tolvane::test {

// TTestWebModule "TestWebModule": BeforeDispatch, AfterDispatch and
// OnException bound; the items
//   Items   GET only, "/items/*", ItemsAction
//   Home    the default, "/", HomeAction
//   Page    "/page", content from Producer1
//   Form    POST only, stored as "form\sent" (read as "/form/sent"), FormAction
//   Fail    "/fail", FailAction (raises)
// and the owned components Producer1 (TTestProducer) and Claimer1
// (TTestClaimer, claiming "/claim/*").
std::vector<std::uint8_t> TestWebModuleDefinition();

// TTestOldOrderModule, read after its ancestor TTestWebModule's definition:
// OnCreate bound to ModuleCreate, OldCreateOrder not stored (so true).
std::vector<std::uint8_t> TestOldOrderModuleDefinition();

}  // namespace tolvane::test
