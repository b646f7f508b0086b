#include <gtest/gtest.h>

#include <string>

#include <tolvane/platform/resource.h>

using namespace tolvane::platform;

// Names the system would read differently from the name given (cut at a NUL,
// taken as a number after "#") must not find a resource.
TEST(Resource, OnlyTheWholeNameFindsTheDefinitionIgnoringCase) {
  using namespace std::string_literals;
  const struct {
    std::u16string Name;
    bool Found;
  } Cases[] = {
      {u"TWEBMODULE1", true},
      {u"tWebModule1", true},
      {u"TWEBMODULE1\0"s, false},
      {u"TWEBMODULE1\0X"s, false},
      {u"TWEBMODULE", false},
      {u" TWEBMODULE1", false},
      {u"#10", false},
      {u"", false},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(testing::Message() << "name of " << Case.Name.size() << " characters");
    auto Data = FindRCData(Case.Name);
    ASSERT_EQ(Data.has_value(), Case.Found);
    if (Data) {
      ASSERT_GE(Data->size(), 4u);
      EXPECT_EQ(std::string(Data->begin(), Data->begin() + 4), "TPF0");
    }
  }
}
