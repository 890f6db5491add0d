// Dates and times as the program keeps and writes them.
//
// TDateTime is a day count: days since 30 December 1899, the fraction the time of day (0.5 is
// noon). Before that day the count is negative and the fraction still counts forward from
// midnight: -1.25 is 29 December 1899, 06:00. Years 1 to 9999.
#pragma once

#include <string>

#include "platform/PlatformTypes.h"

using TDateTime = double;

// False (and Out untouched) when a field is out of range: month 1-12, the day within its month,
// hour 0-23, minute and second 0-59, millisecond 0-999, year 1-9999.
bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MilliSecond,
                       TDateTime& Out);
// 0 for a record whose fields are out of range; wDayOfWeek is not read.
TDateTime SystemTimeToDateTime(const plat::SYSTEMTIME& St);
// Rounded to the millisecond, with the day of the week (0 = Sunday); all zero outside years 1-9999.
plat::SYSTEMTIME DateTimeToSystemTime(TDateTime Dt);

// The local time now (GetLocalTime).
plat::SYSTEMTIME LocalTimeNow();
TDateTime Now();

// "yyyymmdd_hhnnss": file names (run logs, reports); local time.
std::string FormatFileStamp(const plat::SYSTEMTIME& St);
// "hhnnsszzz": the working folder's write probe.
std::string FormatProbeStamp(const plat::SYSTEMTIME& St);
// "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ": the log's UTC stamp.
std::string FormatLogTimestamp(const plat::SYSTEMTIME& St);
// "hh:nn:ss" joined by the user's time separator (read at start): a clock time shown to the user.
std::string FormatClockTime(const plat::SYSTEMTIME& St);
