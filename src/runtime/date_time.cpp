#include <tolvane/runtime/date_time.h>

#include <atomic>
#include <chrono>
#include <cmath>

#include <tolvane/runtime/exception.h>

namespace tolvane {
namespace {

constexpr std::int64_t kMSecsPerDay = 86400000;
// Days from 1 January 0001 to 30 December 1899.
constexpr std::int64_t kDateDelta = 693594;

std::atomic<int> PinnedYear{0};

// Splits a date into whole days since 1 January 0001 (day 1) and milliseconds
// into the day; the fraction of a negative date counts forward from midnight.
void ToTimeStamp(TDateTime DateTime, std::int64_t& Days, std::int64_t& MSecs) {
  if (!(std::fabs(DateTime) < 1e12)) {  // NaN, infinite or far beyond any calendar year: no date
    Days = MSecs = 0;
    return;
  }
  double whole = std::trunc(DateTime);
  MSecs = std::llround(std::fabs(DateTime - whole) * double(kMSecsPerDay));
  Days = kDateDelta + std::int64_t(whole);
  if (MSecs >= kMSecsPerDay) {  // rounding reached the next day
    MSecs -= kMSecsPerDay;
    Days += DateTime < 0 ? -1 : 1;
  }
}

}  // namespace

bool IsLeapYear(int Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

int DaysInMonth(int Year, int Month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return Month == 2 && IsLeapYear(Year) ? 29 : kDays[Month - 1];
}

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Date) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInMonth(Year, Month))
    return false;
  std::int64_t days = Day;
  for (int m = 1; m < Month; ++m) days += DaysInMonth(Year, m);
  std::int64_t y = Year - 1;
  days += y * 365 + y / 4 - y / 100 + y / 400;
  Date = double(days - kDateDelta);
  return true;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Time) {
  if (Hour < 0 || Hour > 23 || Min < 0 || Min > 59 || Sec < 0 || Sec > 59 || MSec < 0 || MSec > 999)
    return false;
  Time = double(((std::int64_t(Hour) * 60 + Min) * 60 + Sec) * 1000 + MSec) / double(kMSecsPerDay);
  return true;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
  TDateTime d;
  if (!TryEncodeDate(Year, Month, Day, d)) throw EConvertError(u"Invalid argument to date encode");
  return d;
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec) {
  TDateTime t;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, t)) throw EConvertError(u"Invalid argument to time encode");
  return t;
}

void DecodeDate(TDateTime Date, int& Year, int& Month, int& Day) {
  std::int64_t days, msecs;
  ToTimeStamp(Date, days, msecs);
  if (days <= 0) {
    Year = Month = Day = 0;
    return;
  }
  std::int64_t t = days - 1;  // days since 1 January 0001
  std::int64_t y = 1;
  y += 400 * (t / 146097);
  t %= 146097;
  std::int64_t c = t / 36524;
  if (c == 4) c = 3;
  y += 100 * c;
  t -= c * 36524;
  y += 4 * (t / 1461);
  t %= 1461;
  std::int64_t n = t / 365;
  if (n == 4) n = 3;
  y += n;
  t -= n * 365;
  Year = int(y);
  Month = 1;
  while (t >= DaysInMonth(Year, Month)) t -= DaysInMonth(Year, Month++);
  Day = int(t) + 1;
}

void DecodeTime(TDateTime Time, int& Hour, int& Min, int& Sec, int& MSec) {
  std::int64_t days, msecs;
  ToTimeStamp(Time, days, msecs);
  Hour = int(msecs / 3600000);
  Min = int(msecs / 60000 % 60);
  Sec = int(msecs / 1000 % 60);
  MSec = int(msecs % 1000);
}

int DayOfWeek(TDateTime Date) {
  std::int64_t days, msecs;
  ToTimeStamp(Date, days, msecs);
  // Day 1 (1 January 0001) was a Monday.
  return int(((days % 7) + 7) % 7) + 1;
}

TDateTime NowUTC() {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  return 25569.0 + double(ms) / double(kMSecsPerDay);  // 25569 = 1 January 1970
}

int CurrentYear() {
  if (int pinned = PinnedYear.load(std::memory_order_relaxed)) return pinned;
  int y, m, d;
  DecodeDate(NowUTC(), y, m, d);
  return y;
}

void PinCurrentYear(int Year) { PinnedYear.store(Year, std::memory_order_relaxed); }

}  // namespace tolvane
