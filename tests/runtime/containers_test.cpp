#include <gtest/gtest.h>

#include <cmath>

#include <tolvane/runtime/collection.h>
#include <tolvane/runtime/date_time.h>
#include <tolvane/runtime/exception.h>
#include <tolvane/runtime/stream.h>
#include <tolvane/runtime/string_list.h>

using namespace tolvane;

TEST(StringList, NameValueLookupIgnoresCaseAndKeepsOrder) {
  TStringList list;
  list.Add(u"X-A=1");
  list.Add(u"novalue");
  list.Add(u"\u00C9t\u00E9=summer");
  EXPECT_EQ(list.Values(u"x-a"), u"1");
  EXPECT_EQ(list.Values(u"\u00E9T\u00C9"), u"summer");
  EXPECT_EQ(list.Values(u"missing"), u"");
  EXPECT_EQ(list.Names(1), u"");
  list.SetValue(u"x-a", u"2");  // replaced in place
  EXPECT_EQ(list[0], u"x-a=2");
  list.SetValue(u"new", u"v");  // appended
  EXPECT_EQ(list[3], u"new=v");
  list.SetValue(u"X-A", u"");   // deleted
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[0], u"novalue");
  list.SetValue(u"absent", u"");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_THROW(list.Get(3), EListError);
}

TEST(DateTime, EncodesAndDecodesAcrossTheRange) {
  struct Case { int y, m, d; double serial; } cases[] = {
      {1899, 12, 30, 0}, {1900, 1, 1, 2}, {1994, 11, 6, 34644}, {2000, 2, 29, 36585}, {1, 1, 1, -693593},
      {9999, 12, 31, 2958465}, {1899, 12, 29, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.serial);
    int y, m, d;
    DecodeDate(c.serial, y, m, d);
    EXPECT_EQ(std::tie(y, m, d), std::tie(c.y, c.m, c.d));
  }
  EXPECT_EQ(DayOfWeek(EncodeDate(1994, 11, 6)), 1);  // a Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 10)), 5);  // a Thursday
  int h, n, s, ms;
  DecodeTime(EncodeDate(1994, 11, 6) + EncodeTime(8, 49, 37, 0), h, n, s, ms);
  EXPECT_EQ(std::tie(h, n, s, ms), std::make_tuple(8, 49, 37, 0));
  DecodeTime(-1.25, h, n, s, ms);  // the fraction of a date before 1899 still counts from midnight
  EXPECT_EQ(h, 6);
  for (double far : {1e300, -1e300, std::nan(""), HUGE_VAL}) {
    int y = 1, m = 1, d = 1;
    DecodeDate(far, y, m, d);
    EXPECT_EQ(std::tie(y, m, d), std::make_tuple(0, 0, 0));
  }
}

TEST(DateTime, InvalidArgumentsRaiseTheExactErrors) {
  for (auto [y, m, d] : {std::tuple{1994, 2, 29}, {0, 1, 1}, {10000, 1, 1}, {2000, 13, 1}, {2000, 4, 31}}) {
    try {
      EncodeDate(y, m, d);
      ADD_FAILURE();
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), u"Invalid argument to date encode");
    }
  }
  try {
    EncodeTime(24, 0, 0, 0);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Invalid argument to time encode");
  }
}

TEST(DateTime, CurrentYearCanBePinned) {
  PinCurrentYear(2030);
  EXPECT_EQ(CurrentYear(), 2030);
  PinCurrentYear(0);
  EXPECT_GE(CurrentYear(), 2024);
}

TEST(MemoryStream, TracksPositionAndSize) {
  TMemoryStream s;
  s.WriteBuffer("hello", 5);
  EXPECT_EQ(s.Size(), 5);
  s.SetPosition(1);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, 8), 4);
  EXPECT_STREQ(buf, "ello");
  EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
}

namespace {
class TNamedItem : public TCollectionItem {
  TV_DECLARE_CLASS(TNamedItem)
 public:
  String Name = u"unnamed";
  void Assign(const TPersistent* Source) override {
    if (auto* other = dynamic_cast<const TNamedItem*>(Source)) Name = other->Name;
    else TCollectionItem::Assign(Source);
  }
};
TV_DEFINE_CLASS(TNamedItem, TCollectionItem, CreateItem<TNamedItem>);

class TCountingCollection : public TCollection {
 public:
  TCountingCollection() : TCollection(TNamedItem::StaticClass()) {}
  int Updates = 0;
  std::vector<String> NamedAtInsert;

 protected:
  void Update(TCollectionItem*) override { ++Updates; }
  void SetItemName(TCollectionItem* Item) override {
    // The item is complete by the time it joins.
    NamedAtInsert.push_back(static_cast<TNamedItem*>(Item)->Name);
  }
};
}  // namespace

TEST(Collection, OwnsItemsReportsChangesAndAssigns) {
  TCountingCollection c;
  auto* a = static_cast<TNamedItem*>(c.Add());
  a->Name = u"a";
  EXPECT_EQ(c.NamedAtInsert, std::vector<String>{u"unnamed"});
  EXPECT_EQ(c.Updates, 1);
  c.BeginUpdate();
  c.Add();
  c.Add();
  EXPECT_EQ(c.Updates, 1);
  c.EndUpdate();
  EXPECT_EQ(c.Updates, 2);
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(a->Index(), 0);
  TCollectionItem* third = c.GetItem(2);
  delete c.GetItem(1);
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(c.GetItem(0), a);
  EXPECT_EQ(c.GetItem(1), third);

  TCountingCollection copy;
  copy.Add();
  copy.Assign(&c);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(static_cast<TNamedItem*>(copy.GetItem(0))->Name, u"a");

  try {
    copy.GetItem(0)->Assign(&c);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a TCollection to a TNamedItem");
  }
}
