#include "core/uNumbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kMaxDecimals = 40;
// Significant digits taken from a double before rounding, as Delphi's float-to-text does.
constexpr int kSigDigits = 18;

std::string DigitsOf(uint64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string Join(const TFixedParts& p, const std::string& DecimalSeparator) {
  if (!p.Special.empty()) return p.Special;
  std::string s = p.Negative ? "-" : "";
  s += p.IntDigits;
  if (!p.FracDigits.empty()) s += DecimalSeparator + p.FracDigits;
  return s;
}
}  // namespace

TFixedParts SplitFixed(double Value, int Decimals) {
  Decimals = std::clamp(Decimals, 0, kMaxDecimals);
  TFixedParts r;
  if (std::isnan(Value)) {
    r.Special = "NAN";
    return r;
  }
  if (std::isinf(Value)) {
    r.Special = Value < 0 ? "-INF" : "INF";
    return r;
  }
  // Value = 0.D * 10^P, D the significant digits.
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*e", kSigDigits - 1, std::fabs(Value));
  std::string d;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') d += *p;
  int exp10 = (*p == 'e') ? std::atoi(p + 1) : 0;
  int pos = exp10 + 1;
  if (d.find_first_not_of('0') == std::string::npos) pos = 1;  // zero: one integer digit

  // Keep K digits, rounding on the first digit dropped.
  const int keep = pos + Decimals;
  if (keep < 0) {
    d.clear();
  } else if (keep < static_cast<int>(d.size())) {
    const bool up = d[keep] >= '5';
    d.resize(keep);
    if (up) {
      int i = keep - 1;
      for (; i >= 0 && d[i] == '9'; --i) d[i] = '0';
      if (i >= 0) {
        ++d[i];
      } else {
        d.insert(d.begin(), '1');
        ++pos;
      }
    }
  }
  auto digitAt = [&](int i) { return (i >= 0 && i < static_cast<int>(d.size())) ? d[i] : '0'; };
  for (int i = 0; i < pos; ++i) r.IntDigits += digitAt(i);
  if (r.IntDigits.empty()) r.IntDigits.push_back('0');
  r.IntDigits.erase(0, std::min(r.IntDigits.find_first_not_of('0'), r.IntDigits.size() - 1));
  for (int i = 0; i < Decimals; ++i) r.FracDigits += digitAt(pos + i);
  const bool nonZero = r.IntDigits.find_first_not_of('0') != std::string::npos ||
                       r.FracDigits.find_first_not_of('0') != std::string::npos;
  r.Negative = std::signbit(Value) && nonZero;
  return r;
}

std::string GroupDigits(const std::string& Digits, const std::string& Separator) {
  std::string out;
  const size_t n = Digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += Separator;
    out += Digits[i];
  }
  return out;
}

std::string FormatFixed(double Value, int Decimals) { return FormatFixed(Value, Decimals, GetFormatSettings()); }

std::string FormatFixed(double Value, int Decimals, const TFormatSettings& Settings) {
  return Join(SplitFixed(Value, Decimals), Settings.DecimalSeparator);
}

std::string FormatGroupedU64(uint64_t Value, const TFormatSettings& Settings) {
  return GroupDigits(DigitsOf(Value), Settings.ThousandSeparator);
}

std::string FormatGroupedI64(int64_t Value, const TFormatSettings& Settings) {
  // The magnitude in unsigned arithmetic, so INT64_MIN has one too.
  const uint64_t mag = Value < 0 ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
  std::string s = Value < 0 ? "-" : "";
  s += FormatGroupedU64(mag, Settings);
  return s;
}

std::string FormatGroupedFloat(double Value, const TFormatSettings& Settings) {
  TFixedParts p = SplitFixed(Value, 0);
  if (!p.Special.empty()) return p.Special;
  std::string s = p.Negative ? "-" : "";
  s += GroupDigits(p.IntDigits, Settings.ThousandSeparator);
  return s;
}
