#pragma once
// TDateTime: days since 30 December 1899 as a double, the fraction being the
// time of day, with no time zone. -1.0 means that no date is set.
#include <cstdint>

namespace tolvane {

using TDateTime = double;

bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Date);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Time);
// Raise EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int Year, int Month, int Day);
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec);

void DecodeDate(TDateTime Date, int& Year, int& Month, int& Day);
void DecodeTime(TDateTime Time, int& Hour, int& Min, int& Sec, int& MSec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime Date);

// The current UTC time, and the current year. Tests pin the year with
// PinCurrentYear (0 unpins it).
TDateTime NowUTC();
int CurrentYear();
void PinCurrentYear(int Year);

}  // namespace tolvane
