#include <gtest/gtest.h>

#include <tolvane/runtime/exception.h>
#include <tolvane/webapp/component_list.h>
#include "webapp/test_modules.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

// Frees its partner when it goes, as a module may free another.
class TPartnerFreeing : public TPlainModule {
 public:
  using TPlainModule::TPlainModule;
  TComponent* Partner = nullptr;
  ~TPartnerFreeing() override {
    if (Partner) Partner->Free();
  }
};

}  // namespace

TEST(ComponentList, OwnsWhatItHoldsAndForgetsWhatIsFreedElsewhere) {
  int live = TPlainModule::Live;
  TComponent* extracted = nullptr;
  {
    TComponentList list;
    auto* a = NewComponent<TPlainModule>(nullptr);
    auto* b = NewComponent<TPlainModule>(nullptr);
    auto* c = NewComponent<TPlainModule>(nullptr);
    list.Add(a);
    list.Add(b);
    list.Add(a);  // held once
    list.Add(c);
    EXPECT_EQ(list.Count(), 3);
    b->Free();
    EXPECT_EQ(list.List(), (std::vector<TComponent*>{a, c}));
    EXPECT_THROW(list.Items(2), EListError);

    EXPECT_TRUE(list.Extract(c));
    EXPECT_FALSE(list.Extract(c));
    extracted = c;
    EXPECT_EQ(list.IndexOf(c), -1);
  }
  // a freed with the list; c was given up and lives on, unwatched.
  EXPECT_EQ(TPlainModule::Live, live + 1);
  extracted->Free();
  EXPECT_EQ(TPlainModule::Live, live);
}

TEST(ComponentList, ClearCopesWithComponentsThatFreeEachOther) {
  int live = TPlainModule::Live;
  {
    TComponentList list;
    auto* first = NewComponent<TPartnerFreeing>(nullptr);
    auto* second = NewComponent<TPlainModule>(nullptr);
    first->Partner = second;
    list.Add(first);
    list.Add(second);
  }
  EXPECT_EQ(TPlainModule::Live, live);
}
