#include "core/uDateTime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/sim/SimMachine.h"
#include "ScopedFormatSettings.h"

using plat::SYSTEMTIME;

namespace {

SYSTEMTIME St(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  SYSTEMTIME st;
  st.wYear = static_cast<plat::WORD>(y);
  st.wMonth = static_cast<plat::WORD>(mo);
  st.wDay = static_cast<plat::WORD>(d);
  st.wHour = static_cast<plat::WORD>(h);
  st.wMinute = static_cast<plat::WORD>(mi);
  st.wSecond = static_cast<plat::WORD>(s);
  st.wMilliseconds = static_cast<plat::WORD>(ms);
  return st;
}

void ExpectSameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
  EXPECT_EQ(a.wYear, b.wYear);
  EXPECT_EQ(a.wMonth, b.wMonth);
  EXPECT_EQ(a.wDay, b.wDay);
  EXPECT_EQ(a.wHour, b.wHour);
  EXPECT_EQ(a.wMinute, b.wMinute);
  EXPECT_EQ(a.wSecond, b.wSecond);
  EXPECT_EQ(a.wMilliseconds, b.wMilliseconds);
}

TEST(DateTime, DayCountsOfKnownDates) {
  struct Row {
    SYSTEMTIME st;
    double days;
    int dayOfWeek;
  };
  const Row rows[] = {
      {St(1899, 12, 30), 0.0, 6},
      {St(1899, 12, 31), 1.0, 0},
      {St(1900, 1, 1), 2.0, 1},
      {St(2000, 1, 1), 36526.0, 6},
      {St(2024, 2, 29, 12), 45351.5, 4},
      {St(1899, 12, 29, 6), -1.25, 5},  // before the epoch the fraction still counts forward
      {St(1, 1, 1), -693593.0, 1},
      {St(9999, 12, 31), 2958465.0, 5},
  };
  for (const Row& r : rows) {
    EXPECT_DOUBLE_EQ(SystemTimeToDateTime(r.st), r.days) << r.st.wYear << "-" << r.st.wMonth << "-" << r.st.wDay;
    const SYSTEMTIME back = DateTimeToSystemTime(r.days);
    ExpectSameTime(back, r.st);
    EXPECT_EQ(back.wDayOfWeek, r.dayOfWeek) << r.days;
  }
}

TEST(DateTime, RoundTripsToTheMillisecond) {
  const SYSTEMTIME samples[] = {St(2024, 3, 5, 7, 8, 9, 4),      St(2024, 12, 31, 23, 59, 59, 999),
                                St(1970, 1, 1, 0, 0, 0, 1),      St(1600, 2, 29, 13, 14, 15, 16),
                                St(1899, 1, 1, 23, 59, 59, 999), St(2100, 3, 1, 0, 0, 0, 500)};
  for (const SYSTEMTIME& s : samples) ExpectSameTime(DateTimeToSystemTime(SystemTimeToDateTime(s)), s);
}

TEST(DateTime, RefusesFieldsOutOfRange) {
  TDateTime out = 42;
  EXPECT_FALSE(TryEncodeDateTime(1900, 2, 29, 0, 0, 0, 0, out));  // 1900 is not a leap year
  EXPECT_FALSE(TryEncodeDateTime(2023, 13, 1, 0, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeDateTime(2023, 4, 31, 0, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeDateTime(2023, 1, 1, 24, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeDateTime(2023, 1, 1, 0, 60, 0, 0, out));
  EXPECT_FALSE(TryEncodeDateTime(2023, 1, 1, 0, 0, 0, 1000, out));
  EXPECT_FALSE(TryEncodeDateTime(0, 1, 1, 0, 0, 0, 0, out));
  EXPECT_EQ(out, 42);
  EXPECT_TRUE(TryEncodeDateTime(2000, 2, 29, 0, 0, 0, 0, out));
  EXPECT_EQ(SystemTimeToDateTime(St(2023, 0, 1)), 0);
  // Nothing to decode: all zero.
  for (double bad : {std::nan(""), 1e7, -1e7, -693594.0}) EXPECT_EQ(DateTimeToSystemTime(bad).wYear, 0) << bad;
}

TEST(DateTime, NowIsTheLocalClock) {
  plat::sim::ScopedSimMachine m;
  m->Kernel().SetUtcAtBoot(2024, 3, 5, 6, 8, 9, 4);
  m->Kernel().SetLocalOffsetMinutes(60);
  ExpectSameTime(DateTimeToSystemTime(Now()), St(2024, 3, 5, 7, 8, 9, 4));
  ExpectSameTime(LocalTimeNow(), St(2024, 3, 5, 7, 8, 9, 4));
}

TEST(DateTime, Stamps) {
  const SYSTEMTIME t = St(2024, 3, 5, 7, 8, 9, 4);
  EXPECT_EQ(FormatFileStamp(t), "20240305_070809");
  EXPECT_EQ(FormatProbeStamp(t), "070809004");
  EXPECT_EQ(FormatLogTimestamp(t), "2024-03-05T07:08:09.004Z");
  EXPECT_EQ(FormatLogTimestamp(St(987, 12, 31, 23, 59, 59, 999)), "0987-12-31T23:59:59.999Z");
  EXPECT_EQ(FormatProbeStamp(St(2024, 1, 1, 23, 59, 59, 999)), "235959999");

  ScopedFormatSettings colon(PlainFormatSettings());
  EXPECT_EQ(FormatClockTime(t), "07:08:09");
  // The user's separators never reach the fixed stamps.
  SetFormatSettings({",", ".", "."});
  EXPECT_EQ(FormatClockTime(t), "07.08.09");
  EXPECT_EQ(FormatLogTimestamp(t), "2024-03-05T07:08:09.004Z");
  EXPECT_EQ(FormatFileStamp(t), "20240305_070809");
}

}  // namespace
