// Process facts and COM as every platform answers them.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <tolvane/platform/com.h>
#include "platform/long_path.h"
#include <tolvane/platform/process.h>

using namespace tolvane::platform;

TEST(Process, ThePlatformIsTheNTFamilyUnlessATestSaysOtherwise) {
  EXPECT_EQ(PlatformId(), kPlatformWin32NT);
  SetPlatformId(kPlatformWin32Windows);
  EXPECT_EQ(PlatformId(), kPlatformWin32Windows);
  SetPlatformId(kPlatformWin32NT);
}

TEST(Com, EachThreadKeepsARecordOfItsInitializationUntilReleased) {
  ClearComRecords();
  std::thread::id Worker;
  std::vector<std::int32_t> Results;
  std::thread([&] {
    Worker = std::this_thread::get_id();
    Results.push_back(ComInitialize(kCoInitMultithreaded));
    Results.push_back(ComInitialize(kCoInitMultithreaded));     // nested
    Results.push_back(ComInitialize(kCoInitApartmentThreaded));  // another model: refused
    ComUninitialize();
    auto Records = ComRecords();
    ASSERT_EQ(Records.size(), 1u);
    EXPECT_FALSE(Records[0].Released) << "released before the last uninitialize";
    ComUninitialize();
    ComUninitialize();  // one too many: no effect
    Results.push_back(ComInitialize(kCoInitApartmentThreaded));  // a fresh start with another model
  }).join();
  EXPECT_EQ(Results, (std::vector<std::int32_t>{kComOk, kComAlreadyInitialized, kComChangedMode, kComOk}));
  std::thread([] { ComInitialize(kCoInitMultithreaded); }).join();  // never released

  auto Records = ComRecords();
  ASSERT_EQ(Records.size(), 3u);
  EXPECT_EQ(Records[0].Thread, Worker);
  EXPECT_EQ(Records[0].Flags, kCoInitMultithreaded);
  EXPECT_TRUE(Records[0].Released);
  EXPECT_EQ(Records[1].Thread, Worker);
  EXPECT_EQ(Records[1].Flags, kCoInitApartmentThreaded);
  EXPECT_FALSE(Records[1].Released);
  EXPECT_EQ(Records[2].Flags, kCoInitMultithreaded);
  EXPECT_FALSE(Records[2].Released);
  // The main thread has not initialized: uninitializing it touches nobody's record.
  ComUninitialize();
  EXPECT_FALSE(ComRecords()[2].Released);
  ClearComRecords();
  EXPECT_TRUE(ComRecords().empty());
}

TEST(LongPath, ThePrefixGoesWhereAnOrdinaryNameExists) {
  const struct {
    std::u16string Reported, Ordinary;
  } Cases[] = {
      {u"\\\\?\\C:\\inetpub\\scripts\\tolvane.dll", u"C:\\inetpub\\scripts\\tolvane.dll"},
      {u"\\\\?\\d:", u"d:"},
      {u"\\\\?\\UNC\\server\\share\\tolvane.dll", u"\\\\server\\share\\tolvane.dll"},
      {u"\\\\?\\unc\\server\\share\\x.dll", u"\\\\server\\share\\x.dll"},
      // No ordinary form, or no prefix: unchanged.
      {u"\\\\?\\Volume{0b1f}\\tolvane.dll", u"\\\\?\\Volume{0b1f}\\tolvane.dll"},
      {u"\\\\?\\C:tolvane.dll", u"\\\\?\\C:tolvane.dll"},
      {u"\\\\?\\UNC", u"\\\\?\\UNC"},
      {u"\\\\.\\C:\\tolvane.dll", u"\\\\.\\C:\\tolvane.dll"},
      {u"\\\\server\\share\\tolvane.dll", u"\\\\server\\share\\tolvane.dll"},
      {u"C:\\\\?\\x", u"C:\\\\?\\x"},
      {u"/usr/lib/tolvane.so", u"/usr/lib/tolvane.so"},
      {u"", u""},
  };
  for (const auto& Case : Cases) EXPECT_EQ(WithoutLongPathPrefix(Case.Reported), Case.Ordinary);
}
