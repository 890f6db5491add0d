// Numbers as shown texts and log lines write them: "%.Nf" with the user's decimal separator
// and "#,##0" with the user's thousands separator. Halves round away from zero (2.5 gives 3,
// 0.125 gives 0.13 at two decimals), as a Delphi program's float formatting does, from the
// value's 18 significant digits.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "core/uFormatSettings.h"

// A float rounded to a number of decimals, in parts. Special is "NAN", "INF" or "-INF" for a
// value that is not finite (the other fields are then empty). Negative is false when every
// digit of the rounded value is 0, so no "-0.0" is ever written.
struct TFixedParts {
  std::string Special;
  bool Negative = false;
  std::string IntDigits;   // at least "0"
  std::string FracDigits;  // exactly Decimals digits
};
TFixedParts SplitFixed(double Value, int Decimals);

// "1234567" with separator "," gives "1,234,567". Digits only, no sign.
std::string GroupDigits(const std::string& Digits, const std::string& Separator);

// "%.Nf": Decimals from 0 to 40; outside that range it is clamped.
std::string FormatFixed(double Value, int Decimals);
std::string FormatFixed(double Value, int Decimals, const TFormatSettings& Settings);

// "#,##0". Whole numbers keep every digit (a 64-bit value is not sent through a double on its
// way, so nothing above 2^53 is rounded); a float is rounded to a whole number first.
std::string FormatGroupedU64(uint64_t Value, const TFormatSettings& Settings = GetFormatSettings());
std::string FormatGroupedI64(int64_t Value, const TFormatSettings& Settings = GetFormatSettings());
std::string FormatGroupedFloat(double Value, const TFormatSettings& Settings = GetFormatSettings());

template <class T>
std::string FormatFloatGrouped(T Value) {
  static_assert(!std::is_same_v<T, bool> && (std::is_integral_v<T> || std::is_floating_point_v<T>),
                "FormatFloatGrouped takes a number");
  if constexpr (std::is_floating_point_v<T>)
    return FormatGroupedFloat(static_cast<double>(Value));
  else if constexpr (std::is_signed_v<T>)
    return FormatGroupedI64(static_cast<int64_t>(Value));
  else
    return FormatGroupedU64(static_cast<uint64_t>(Value));
}
