// The speed series' sharing and the chart's pure helpers.
#include "realtest/uSpeedData.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(SpeedData, CopiesShareOneSeries) {
  TSpeedDataArray thread;
  TSpeedDataArray window = thread;  // handed over: no element copy
  thread.Add({2.0, 31.5, "STEP1"});
  ASSERT_EQ(window.size(), 1u);
  EXPECT_EQ(window[0].StepLabel, "STEP1");
  EXPECT_TRUE(window.SharesWith(thread));
  window = TSpeedDataArray();  // a later test's empty series replaces it
  EXPECT_TRUE(window.empty());
  EXPECT_FALSE(window.SharesWith(thread));
  EXPECT_EQ(thread.size(), 1u);
}

TEST(SpeedData, FormatDuration) {
  const struct {
    double Seconds;
    const char* Text;
  } cases[] = {
      {0, "0:00"},       {0.99, "0:00"},
      {45, "0:45"},      {59 * 60 + 59.9, "59:59"},
      {3600, "1:00:00"}, {7200, "2:00:00"},
      {3725, "1:02:05"}, {90061, "25:01:01"},
      {-3, "0:00"},      {std::numeric_limits<double>::quiet_NaN(), "0:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDuration(c.Seconds), c.Text) << c.Seconds;
}

TEST(SpeedData, NiceAxisMax) {
  const struct {
    double X, Max;
  } cases[] = {
      {-1, 1},  {0, 1},    {1, 1},     {1.01, 2},    {2, 2},     {37, 50},    {37.4, 50},
      {50, 50}, {51, 100}, {120, 200}, {1000, 1000}, {0.3, 0.5}, {999, 1000},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(NiceAxisMax(c.X), c.Max) << c.X;
  EXPECT_EQ(NiceAxisMax(std::numeric_limits<double>::infinity()), 1);
}

TEST(SpeedData, TimeGridStep) {
  const struct {
    double Max, Step;
  } cases[] = {
      {0, 10},    {45, 10},    {60, 10},    {60.5, 30},  {300, 30},    {301, 60},   {600, 60},
      {601, 300}, {1800, 300}, {3600, 600}, {7200, 900}, {7500, 1800}, {1e9, 1800},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeGridStep(c.Max), c.Step) << c.Max;
}

}  // namespace
