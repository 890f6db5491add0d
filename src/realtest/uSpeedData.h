// The real test's speed series and the small pure functions the speed chart draws it with.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// One speed sample: seconds since the test thread was created, MiB per second over the sample's
// window (0 for the samples of a wait after a speed drop), and the step's status text.
struct TSpeedDataPoint {
  double ElapsedSec = 0;
  double SpeedMBps = 0;
  std::string StepLabel;
};

// A growable series of samples in the order taken. Copies share one series: the test thread,
// the main window and the chart window all hold the same points, and nobody changes a series
// once the thread that filled it has ended.
class TSpeedDataArray {
 public:
  TSpeedDataArray() : FPoints(std::make_shared<std::vector<TSpeedDataPoint>>()) {}

  size_t size() const { return FPoints->size(); }
  bool empty() const { return FPoints->empty(); }
  const TSpeedDataPoint& operator[](size_t I) const { return (*FPoints)[I]; }
  std::vector<TSpeedDataPoint>::const_iterator begin() const { return FPoints->cbegin(); }
  std::vector<TSpeedDataPoint>::const_iterator end() const { return FPoints->cend(); }

  // Seen by every holder of the series.
  void Add(const TSpeedDataPoint& Point) { FPoints->push_back(Point); }
  bool SharesWith(const TSpeedDataArray& Other) const { return FPoints == Other.FPoints; }

 private:
  std::shared_ptr<std::vector<TSpeedDataPoint>> FPoints;
};

// Seconds, truncated to whole seconds, as "h:mm:ss" from one hour on and "m:ss" below it
// (59:59, then 1:00:00). A negative or non-finite value reads as 0.
std::string FormatDuration(double Seconds);
// The speed axis' top: 1, 2 or 5 times a power of ten, the smallest such value at or above X;
// 1 for X <= 0 (and for a value that is not finite).
double NiceAxisMax(double X);
// Spacing of the time grid in seconds for a chart MaxSeconds long.
double TimeGridStep(double MaxSeconds);
