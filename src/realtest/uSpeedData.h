// The real test's speed series and the small pure functions the speed chart draws it with.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/toolkit/uTkTypes.h"

// One speed sample: seconds since the test thread was created, MiB per second over the sample's
// window (0 for the samples of a wait after a speed drop), and the step's status text.
struct TSpeedDataPoint {
  double ElapsedSec = 0;
  double SpeedMBps = 0;
  std::string StepLabel;
};

// The samples as one reader sees them at a moment: a copy, its own to walk.
using TSpeedSamples = std::vector<TSpeedDataPoint>;

// A growable series of samples in the order taken, with the root of the drive they were taken
// on. Copies share one series: the test thread adds to it while the main window and the chart
// read it, so every access takes the series' lock, and a reader walks a snapshot.
class TSpeedDataArray {
 public:
  TSpeedDataArray() : FShared(std::make_shared<TShared>()) {}

  size_t size() const;
  bool empty() const { return size() == 0; }
  // A copy of one sample.
  TSpeedDataPoint operator[](size_t I) const;
  TSpeedSamples Snapshot() const;
  // Seen by every holder of the series.
  void Add(const TSpeedDataPoint& Point);
  bool SharesWith(const TSpeedDataArray& Other) const { return FShared == Other.FShared; }

  // The drive's root (for example "E:\"), empty when the series names none.
  std::string Drive() const;
  void SetDrive(const std::string& Root);

 private:
  struct TShared {
    mutable std::mutex Lock;
    TSpeedSamples Points;
    std::string Drive;
  };
  std::shared_ptr<TShared> FShared;
};

// A sample's step label in the current language: the translated step texts a test gives its
// samples are the same step in whichever language the test ran, so a chart never mixes two.
// Any other label stays as it is.
std::string StepLabelNow(const std::string& Label);

// Seconds, truncated to whole seconds, as "h:mm:ss" from one hour on and "m:ss" below it
// (59:59, then 1:00:00). A negative or non-finite value reads as 0.
std::string FormatDuration(double Seconds);
// The speed axis' top: 1, 2 or 5 times a power of ten, the smallest such value at or above X;
// 1 for X <= 0 (and for a value that is not finite).
double NiceAxisMax(double X);
// Spacing of the time grid in seconds for a chart MaxSeconds long.
double TimeGridStep(double MaxSeconds);

// ---- The chart's geometry, in the paint box's pixels ----

// The plot area of a paint box W x H: left 70, top 40, right and bottom 30 and 50 pixels in, at
// least 10 pixels wide and high.
tk::TRect SpeedChartPlotRect(int W, int H);
// Where a time and a speed lie in the plot: rounded to the nearest pixel, halves to even; a speed
// above the axis maximum lies on the top edge.
int PlotX(const tk::TRect& Plot, double Seconds, double MaxSeconds);
int PlotY(const tk::TRect& Plot, double Speed, double AxisMax);

// A sample of a speed-drop wait: the wait adds one of 0 MB/s every two seconds, while a transfer
// window always counts at least one block, so no other sample is 0.
bool IsWaitSample(const TSpeedDataPoint& P);

// One wait as the series holds it: its samples First to Last, drawn from the sample before them
// (the window that showed the drop, when the wait began) to the last of them.
struct TWaitSpan {
  size_t First = 0;
  size_t Last = 0;
  double StartSec = 0;
  double EndSec = 0;
};
std::vector<TWaitSpan> FindWaitSpans(const TSpeedSamples& Samples);

// The start of a text Width wide that should start at Want, moved back between Low and High
// (to Low when it is wider than that).
int KeepInside(int Want, int Width, int Low, int High);

// The step markers' labels, given each marker's line and each label's size: a label starts 2
// pixels right of its line, or ends 2 pixels left of it where it would come within 8 pixels of
// the paint box's right edge; one that would touch a label placed before it on its line goes down a line, as far
// as the plot is high. Never outside 0 to BoxWidth. The top left corner of each label.
std::vector<tk::TPoint> PlaceStepLabels(const std::vector<int>& MarkerX, const std::vector<tk::TSize>& Sizes,
                                        const tk::TRect& Plot, int BoxWidth);
