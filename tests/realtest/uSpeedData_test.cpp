// The speed series' sharing and the chart's pure helpers.
#include "realtest/uSpeedData.h"

#include <gtest/gtest.h>

#include <limits>
#include <thread>

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

// The test thread adds while the window and the chart read: each snapshot is the series as it
// stood at one moment, and ThreadSanitizer finds no race.
TEST(SpeedData, ReadersSeeTheSeriesAsItStoodWhileTheTestAdds) {
  constexpr size_t kPoints = 5000;
  TSpeedDataArray Series;
  std::thread Writer([Series]() mutable {  // a copy shares the series, as the thread's does
    for (size_t I = 0; I < kPoints; ++I) Series.Add({double(I), 1.0 + I, "STEP1"});
  });
  size_t Seen = 0;
  bool Whole = true;
  while (Seen < kPoints && Whole) {
    const TSpeedSamples S = Series.Snapshot();
    Whole = S.size() >= Seen && Series.size() >= S.size();
    for (size_t I = Seen; I < S.size() && Whole; ++I) Whole = S[I].ElapsedSec == double(I) && S[I].StepLabel == "STEP1";
    if (!S.empty()) Whole = Whole && Series[S.size() - 1].SpeedMBps == double(S.size());
    Seen = S.size();
  }
  Writer.join();
  EXPECT_TRUE(Whole) << "after " << Seen << " samples";
  EXPECT_EQ(Series.size(), kPoints);
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

// Runs of 0 MB/s samples are waits, drawn from the sample before each run; a series that starts
// or ends in a wait keeps it.
TEST(SpeedData, WaitSpans) {
  const struct {
    std::vector<double> Speeds;              // one sample per second from 1 s
    std::vector<std::vector<double>> Spans;  // first, last, start, end
  } cases[] = {
      {{5, 6, 7}, {}},
      {{5, 2, 0, 0, 0, 6, 7}, {{2, 4, 2, 5}}},
      {{5, 0, 6, 0, 0}, {{1, 1, 1, 2}, {3, 4, 3, 5}}},
      {{0, 0, 4}, {{0, 1, 1, 2}}},
      {{0}, {{0, 0, 1, 1}}},
  };
  for (const auto& c : cases) {
    TSpeedDataArray S;
    for (size_t i = 0; i < c.Speeds.size(); ++i) S.Add({i + 1.0, c.Speeds[i], "STEP1"});
    std::vector<std::vector<double>> Got;
    for (const TWaitSpan& W : FindWaitSpans(S.Snapshot()))
      Got.push_back({double(W.First), double(W.Last), W.StartSec, W.EndSec});
    EXPECT_EQ(Got, c.Spans) << ::testing::PrintToString(c.Speeds);
  }
  EXPECT_TRUE(IsWaitSample({3, 0, "STEP3"}));
  EXPECT_FALSE(IsWaitSample({3, 0.01, "STEP3"}));
}

TEST(SpeedData, KeepInside) {
  EXPECT_EQ(KeepInside(10, 20, 0, 100), 10);
  EXPECT_EQ(KeepInside(-5, 20, 0, 100), 0);
  EXPECT_EQ(KeepInside(90, 20, 0, 100), 80);
  EXPECT_EQ(KeepInside(50, 200, 0, 100), 0) << "wider than the room: from its start";
}

// Plot 70..954 by 40..424 in a box 984 wide, labels 12 high.
TEST(SpeedData, StepLabelPlaces) {
  const tk::TRect Plot{70, 40, 954, 424};
  const struct {
    const char* What;
    std::vector<int> X, Widths;
    std::vector<tk::TPoint> At;
  } cases[] = {
      {"right of each line", {70, 400}, {25, 60}, {{72, 42}, {402, 42}}},
      {"up to 8 pixels before the box's edge", {954}, {20}, {{956, 42}}},
      {"closer to the edge", {954}, {21}, {{931, 42}}},
      {"left of a line where the box ends", {954}, {60}, {{892, 42}}},
      {"close labels take the next lines", {900, 910, 920}, {60, 60, 10}, {{902, 42}, {912, 54}, {922, 66}}},
      {"room right of a label moved left", {940, 950}, {60, 10}, {{878, 42}, {952, 42}}},
      {"4 pixels apart share a line", {70, 99}, {25, 25}, {{72, 42}, {101, 42}}},
      {"3 pixels apart do not", {70, 98}, {25, 25}, {{72, 42}, {100, 54}}},
      {"wider than the box", {100}, {2000}, {{0, 42}}},
  };
  for (const auto& c : cases) {
    std::vector<tk::TSize> Sizes;
    for (int W : c.Widths) Sizes.push_back({W, 12});
    const std::vector<tk::TPoint> At = PlaceStepLabels(c.X, Sizes, Plot, 984);
    ASSERT_EQ(At.size(), c.At.size()) << c.What;
    for (size_t i = 0; i < At.size(); ++i) EXPECT_EQ(At[i], c.At[i]) << c.What << " " << i;
  }
  // A plot with room for two lines: the third label that finds no room goes over the first line.
  const std::vector<tk::TPoint> At =
      PlaceStepLabels({100, 101, 102}, {{50, 12}, {50, 12}, {50, 12}}, tk::TRect{70, 40, 954, 66}, 984);
  EXPECT_EQ(At, (std::vector<tk::TPoint>{{102, 42}, {103, 54}, {104, 42}}));
}

}  // namespace
