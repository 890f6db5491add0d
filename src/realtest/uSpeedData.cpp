#include "realtest/uSpeedData.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/uFormat.h"
#include "core/uLang.h"

size_t TSpeedDataArray::size() const {
  std::lock_guard<std::mutex> Lock(FShared->Lock);
  return FShared->Points.size();
}

TSpeedDataPoint TSpeedDataArray::operator[](size_t I) const {
  std::lock_guard<std::mutex> Lock(FShared->Lock);
  return FShared->Points[I];
}

TSpeedSamples TSpeedDataArray::Snapshot() const {
  std::lock_guard<std::mutex> Lock(FShared->Lock);
  return FShared->Points;
}

void TSpeedDataArray::Add(const TSpeedDataPoint& Point) {
  std::lock_guard<std::mutex> Lock(FShared->Lock);
  FShared->Points.push_back(Point);
}

std::string TSpeedDataArray::Drive() const {
  std::lock_guard<std::mutex> Lock(FShared->Lock);
  return FShared->Drive;
}

void TSpeedDataArray::SetDrive(const std::string& Root) {
  std::lock_guard<std::mutex> Lock(FShared->Lock);
  FShared->Drive = Root;
}

std::string StepLabelNow(const std::string& Label) {
  // The step texts of the table that a test stores in its samples (its status texts).
  static constexpr TTextId kStepTexts[] = {TTextId::RealTestPreparing, TTextId::RealTestVerifying,
                                           TTextId::RealTestDone,      TTextId::Step4Verify,
                                           TTextId::Step5Verify};
  if (Label.empty()) return Label;
  for (int32_t L = 0; L < LanguageCount(); ++L) {
    const char* const* Table = LangTableFor(LanguageFromIndex(L));
    for (TTextId Id : kStepTexts)
      if (Label == Table[TextIndex(Id)]) return GetLangText(Id);
  }
  return Label;
}

std::string FormatDuration(double Seconds) {
  // Anything past the range of a 64-bit count of seconds is not a duration this program shows.
  const int64_t s =
      (std::isfinite(Seconds) && Seconds > 0 && Seconds < 9.2e18) ? static_cast<int64_t>(Seconds) : 0;
  const int64_t h = s / 3600, m = (s % 3600) / 60, r = s % 60;
  if (h > 0) return Format("%d:%02d:%02d", h, m, r);
  return Format("%d:%02d", m, r);
}

double NiceAxisMax(double X) {
  if (!(X > 0) || !std::isfinite(X)) return 1;
  const double a = std::pow(10.0, std::floor(std::log10(X)));
  const double n = X / a;
  if (n <= 1) return a;
  if (n <= 2) return 2 * a;
  if (n <= 5) return 5 * a;
  return 10 * a;
}

double TimeGridStep(double MaxSeconds) {
  if (MaxSeconds <= 60) return 10;
  if (MaxSeconds <= 300) return 30;
  if (MaxSeconds <= 600) return 60;
  if (MaxSeconds <= 1800) return 300;
  if (MaxSeconds <= 3600) return 600;
  if (MaxSeconds <= 7200) return 900;
  return 1800;
}

tk::TRect SpeedChartPlotRect(int W, int H) {
  tk::TRect R{70, 40, W - 30, H - 50};
  if (R.Right < R.Left + 10) R.Right = R.Left + 10;
  if (R.Bottom < R.Top + 10) R.Bottom = R.Top + 10;
  return R;
}

namespace {

// Rounded to the nearest integer, halves to even (the default rounding mode); kept inside the
// range of an int so that no value makes the conversion undefined.
int Nearest(double A) {
  const double R = std::nearbyint(A);
  if (!(R > -1e9)) return -1000000000;  // NaN too
  if (R > 1e9) return 1000000000;
  return static_cast<int>(R);
}

}  // namespace

int PlotX(const tk::TRect& Plot, double Seconds, double MaxSeconds) {
  return Plot.Left + Nearest(Plot.Width() * Seconds / MaxSeconds);
}

int PlotY(const tk::TRect& Plot, double Speed, double AxisMax) {
  return Plot.Bottom - Nearest(std::min(Speed, AxisMax) * Plot.Height() / AxisMax);
}

bool IsWaitSample(const TSpeedDataPoint& P) { return !(P.SpeedMBps > 0); }

std::vector<TWaitSpan> FindWaitSpans(const TSpeedSamples& Samples) {
  std::vector<TWaitSpan> Spans;
  for (size_t I = 0; I < Samples.size(); ++I) {
    if (!IsWaitSample(Samples[I])) continue;
    TWaitSpan S;
    S.First = I;
    while (I + 1 < Samples.size() && IsWaitSample(Samples[I + 1])) ++I;
    S.Last = I;
    S.StartSec = Samples[S.First > 0 ? S.First - 1 : S.First].ElapsedSec;
    S.EndSec = Samples[S.Last].ElapsedSec;
    Spans.push_back(S);
  }
  return Spans;
}

int KeepInside(int Want, int Width, int Low, int High) { return std::max(Low, std::min(Want, High - Width)); }

std::vector<tk::TPoint> PlaceStepLabels(const std::vector<int>& MarkerX, const std::vector<tk::TSize>& Sizes,
                                        const tk::TRect& Plot, int BoxWidth) {
  constexpr int kGap = 4;  // between two labels on one line
  // Room left before the box's edge: a small font may draw a few pixels wider than it measures
  // (wine's Tahoma at 7 pt by 6).
  constexpr int kEdgeRoom = 8;
  std::vector<tk::TPoint> At;
  std::vector<std::vector<std::pair<int, int>>> Lines;  // the labels' extents on each line
  for (size_t I = 0; I < MarkerX.size() && I < Sizes.size(); ++I) {
    const tk::TSize S = Sizes[I];
    int X = MarkerX[I] + 2;
    if (X + S.Width > BoxWidth - kEdgeRoom) X = MarkerX[I] - 2 - S.Width;
    X = KeepInside(X, S.Width, 0, BoxWidth);
    const int LineHeight = std::max(1, S.Height);
    const int LineCount = std::max(1, (Plot.Height() - 2) / LineHeight);
    size_t Line = 0;
    for (; static_cast<int>(Line) < LineCount; ++Line) {
      if (Line >= Lines.size()) break;
      const bool Free = std::none_of(Lines[Line].begin(), Lines[Line].end(), [&](const std::pair<int, int>& E) {
        return X < E.second + kGap && E.first < X + S.Width + kGap;
      });
      if (Free) break;
    }
    if (static_cast<int>(Line) >= LineCount) Line = 0;  // no room below: over the first line
    if (Line >= Lines.size()) Lines.resize(Line + 1);
    Lines[Line].push_back({X, X + S.Width});
    At.push_back({X, Plot.Top + 2 + static_cast<int>(Line) * LineHeight});
  }
  return At;
}
