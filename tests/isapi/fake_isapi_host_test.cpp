// The in-memory host that the ISAPI tests (and the pool and entry-point tests)
// stand on: its answers must follow the host contract, and its record must
// hold calls made from other threads.
#include "support/fake_isapi_host.h"

#include <cstring>
#include <thread>

#include <gtest/gtest.h>

using namespace tolvane::testing;

TEST(FakeIsapiHost, ServerVariablesFollowTheSizeRules) {
  TFakeIsapiConnection host;
  host.SetVariable("NAME", "abc");
  EXTENSION_CONTROL_BLOCK* ecb = host.ECB();
  char buffer[8];
  char name[] = "NAME";
  char unknown[] = "OTHER";
  struct Case { char* name; DWORD size; bool report; BOOL result; DWORD sizeAfter; } cases[] = {
      {name, 8, true, ISAPI_TRUE, 4},    // stored with its zero
      {name, 4, true, ISAPI_TRUE, 4},    // exactly enough
      {name, 3, true, ISAPI_FALSE, 4},   // too small: the size needed
      {name, 3, false, ISAPI_FALSE, 3},  // a host that reports nothing
      {unknown, 8, true, ISAPI_FALSE, 8},
  };
  for (const auto& c : cases) {
    host.ReportNeededSize = c.report;
    std::memset(buffer, 'x', sizeof buffer);
    DWORD size = c.size;
    EXPECT_EQ(ecb->GetServerVariable(ecb->ConnID, c.name, buffer, &size), c.result) << c.name << c.size;
    EXPECT_EQ(size, c.sizeAfter);
    if (c.result) {
      EXPECT_STREQ(buffer, "abc");
    } else {
      EXPECT_EQ(buffer[0], 'x');  // nothing stored on failure
    }
  }
}

TEST(FakeIsapiHost, RecordsCallsFromAnyThreadAndSignalsTheEndOfTheSession) {
  TFakeIsapiConnection host;
  EXTENSION_CONTROL_BLOCK* ecb = host.ECB();
  EXPECT_FALSE(host.WaitDone(std::chrono::milliseconds(1)));
  std::thread::id worker;
  std::thread t([&] {
    worker = std::this_thread::get_id();
    DWORD bytes = 2;
    ecb->WriteClient(ecb->ConnID, const_cast<char*>("hi"), &bytes, 0);
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, nullptr, nullptr, nullptr);
  });
  EXPECT_TRUE(host.WaitDone(std::chrono::seconds(10)));
  t.join();
  auto calls = host.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].Thread, worker);
  EXPECT_EQ(calls[1].Request, HSE_REQ_DONE_WITH_SESSION);
  EXPECT_EQ(host.Written(), "hi");
  EXPECT_EQ(host.DoneCount(), 1);
}

TEST(FakeIsapiHost, ACallForAnotherConnectionIsRefusedAndCounted) {
  TFakeIsapiConnection host;
  EXTENSION_CONTROL_BLOCK* ecb = host.ECB();
  const int strays = TFakeIsapiConnection::StrayCalls();
  int elsewhere = 0;
  DWORD bytes = 1;
  EXPECT_EQ(ecb->WriteClient(&elsewhere, const_cast<char*>("x"), &bytes, 0), ISAPI_FALSE);
  EXPECT_EQ(TFakeIsapiConnection::StrayCalls(), strays + 1);
  EXPECT_TRUE(host.Calls().empty());
}
