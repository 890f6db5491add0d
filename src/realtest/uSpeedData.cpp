#include "realtest/uSpeedData.h"

#include <cmath>
#include <cstdint>

#include "core/uFormat.h"

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
