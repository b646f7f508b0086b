#include <gtest/gtest.h>

#include <thread>

#include <tolvane/platform/process.h>
#include <tolvane/webapp/web_context.h>

using namespace tolvane;

namespace {

class TTestContext : public TAbstractWebContext {};

String CustomFileName() { return u"custom"; }

}  // namespace

TEST(WebContext, InitializationFillsOnlyTheEmptyHooks) {
  GetWebContextProc = nullptr;
  SetWebContextProc = nullptr;
  GetModuleFileNameProc = CustomFileName;
  InitWebContextHooks();
  EXPECT_EQ(GetWebContextProc, &GetWebContext);
  EXPECT_EQ(SetWebContextProc, &SetWebContext);
  EXPECT_EQ(GetModuleFileNameProc(), u"custom");

  GetModuleFileNameProc = nullptr;
  InitWebContextHooks();
  EXPECT_EQ(GetModuleFileNameProc(), platform::LibraryFileName());
  EXPECT_FALSE(GetModuleFileNameProc().empty());
}

TEST(WebContext, EachThreadHasItsOwnSlot) {
  InitWebContextHooks();
  TTestContext context;
  EXPECT_EQ(GetWebContextProc(), nullptr);
  SetWebContextProc(&context);
  TAbstractWebContext* seenThere = &context;
  std::thread([&] { seenThere = GetWebContextProc(); }).join();
  EXPECT_EQ(seenThere, nullptr);
  EXPECT_EQ(GetWebContextProc(), &context);
  SetWebContextProc(nullptr);
}
