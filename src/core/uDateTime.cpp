#include "core/uDateTime.h"

#include <cmath>

#include "core/uFormat.h"
#include "platform/Platform.h"

namespace {
constexpr int64_t kMsPerDay = 86400000;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (m == 2 && IsLeap(y)) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil-date algorithms).
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

constexpr int64_t kEpoch = DaysFromCivil(1899, 12, 30);
}  // namespace

bool TryEncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MilliSecond,
                       TDateTime& Out) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInMonth(Year, Month))
    return false;
  if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59 || MilliSecond < 0 ||
      MilliSecond > 999)
    return false;
  const double days = static_cast<double>(DaysFromCivil(Year, Month, Day) - kEpoch);
  const double time = static_cast<double>(((Hour * 60 + Minute) * 60 + Second) * 1000 + MilliSecond) /
                      static_cast<double>(kMsPerDay);
  Out = days >= 0 ? days + time : days - time;
  return true;
}

TDateTime SystemTimeToDateTime(const plat::SYSTEMTIME& St) {
  TDateTime dt = 0;
  if (!TryEncodeDateTime(St.wYear, St.wMonth, St.wDay, St.wHour, St.wMinute, St.wSecond, St.wMilliseconds, dt))
    return 0;
  return dt;
}

plat::SYSTEMTIME DateTimeToSystemTime(TDateTime Dt) {
  plat::SYSTEMTIME st;
  // Far outside years 1-9999, or not a number: nothing to decode (and no overflow below).
  if (!std::isfinite(Dt) || std::fabs(Dt) > 3.0e6) return st;
  const int64_t total = std::llround(Dt * static_cast<double>(kMsPerDay));
  const int64_t days = total / kMsPerDay;  // toward zero: the date part of a negative count
  const int64_t ms = (total < 0 ? -total : total) % kMsPerDay;
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(days + kEpoch, y, m, d);
  if (y < 1 || y > 9999) return st;
  st.wYear = static_cast<plat::WORD>(y);
  st.wMonth = static_cast<plat::WORD>(m);
  st.wDay = static_cast<plat::WORD>(d);
  st.wDayOfWeek = static_cast<plat::WORD>(((days % 7) + 7 + 6) % 7);  // day 0 was a Saturday
  st.wHour = static_cast<plat::WORD>(ms / 3600000);
  st.wMinute = static_cast<plat::WORD>(ms / 60000 % 60);
  st.wSecond = static_cast<plat::WORD>(ms / 1000 % 60);
  st.wMilliseconds = static_cast<plat::WORD>(ms % 1000);
  return st;
}

plat::SYSTEMTIME LocalTimeNow() {
  plat::SYSTEMTIME st;
  plat::Win().GetLocalTime(&st);
  return st;
}

TDateTime Now() { return SystemTimeToDateTime(LocalTimeNow()); }

std::string FormatFileStamp(const plat::SYSTEMTIME& St) {
  return FormatPlain("%.4d%.2d%.2d_%.2d%.2d%.2d", St.wYear, St.wMonth, St.wDay, St.wHour, St.wMinute, St.wSecond);
}

std::string FormatProbeStamp(const plat::SYSTEMTIME& St) {
  return FormatPlain("%.2d%.2d%.2d%.3d", St.wHour, St.wMinute, St.wSecond, St.wMilliseconds);
}

std::string FormatLogTimestamp(const plat::SYSTEMTIME& St) {
  return FormatPlain("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", St.wYear, St.wMonth, St.wDay, St.wHour, St.wMinute,
                     St.wSecond, St.wMilliseconds);
}

std::string FormatClockTime(const plat::SYSTEMTIME& St) {
  const std::string& sep = GetFormatSettings().TimeSeparator;
  return FormatPlain("%.2d%s%.2d%s%.2d", St.wHour, sep, St.wMinute, sep, St.wSecond);
}
