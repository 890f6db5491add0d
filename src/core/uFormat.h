// A checked printf-style Format, as the program's texts and log lines are written.
//
// Conversions: %d %u %x %X %f %s %% with the flags "-" (left-justify) and "0" (pad with zeros),
// a width, a precision (".N": at least N digits for %d %u %x, N decimals for %f, at most N
// characters for %s) and the length prefixes "ll" and "I64", which read the argument as 64 bits.
// Widths and precisions count characters (code points), not bytes.
//
// The rules that differ from C:
// - %x prints upper-case hex digits, like %X: every formatted text shows hex in upper case.
// - %f writes the user's decimal separator (Format) or "." (FormatPlain), rounds halves away
//   from zero, and defaults to 2 decimals; a negative value that rounds to 0 is written "0.00".
// - Arguments keep their own width: %d of a 32-bit unsigned value with the top bit set prints
//   it as signed 32-bit (Windows error codes of the log read as Delphi writes them), and %u of a
//   negative 32-bit value prints it as unsigned 32-bit; with "ll"/"I64" the argument is widened
//   first (sign-extended when signed). A 64-bit unsigned value always prints unsigned: sizes
//   and block addresses are never shown negative. Smaller integers are read as 32-bit signed.
//
// Checked: every argument is carried with its type, and a conversion that does not fit its
// argument (a number for %s, a text for %d, a float for %d, an integer for %f), too few or too
// many arguments, or a conversion this Format does not know is an error. Builds without NDEBUG
// (debug and test builds) throw std::logic_error naming it; release builds write a marker in its
// place ("%!d(text)", "%!s(missing)", "%!(extra)") and never read past the arguments.
// bool, char, enums and pointers other than text do not compile: convert them first.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "core/uFormatSettings.h"

#ifdef NDEBUG
inline constexpr bool kFormatThrows = false;
#else
inline constexpr bool kFormatThrows = true;
#endif

// Integers Format takes; bool and the character types are not among them.
template <class T>
concept CFormatInteger =
    std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> && !std::is_same_v<T, wchar_t> &&
    !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t>;

// One argument of Format, tagged with the kind of value it holds.
class TFormatArg {
 public:
  enum class TKind : uint8_t { I32, U32, I64, U64, Float, Text };

  template <CFormatInteger T>
  TFormatArg(T v) {
    if constexpr (sizeof(T) > 4) {
      if constexpr (std::is_signed_v<T>) {
        FKind = TKind::I64;
        FInt = static_cast<uint64_t>(static_cast<int64_t>(v));
      } else {
        FKind = TKind::U64;
        FInt = static_cast<uint64_t>(v);
      }
    } else if constexpr (sizeof(T) == 4 && std::is_unsigned_v<T>) {
      FKind = TKind::U32;
      FInt = static_cast<uint64_t>(v);
    } else {
      FKind = TKind::I32;
      FInt = static_cast<uint64_t>(static_cast<int64_t>(v));
    }
  }
  template <class T>
  requires std::is_floating_point_v<T> TFormatArg(T v) : FKind(TKind::Float), FFloat(static_cast<double>(v)) {}
  TFormatArg(const char* s) : FKind(TKind::Text), FText(s ? std::string_view(s) : std::string_view()) {}
  TFormatArg(const std::string& s) : FKind(TKind::Text), FText(s) {}
  TFormatArg(std::string_view s) : FKind(TKind::Text), FText(s) {}
  // Anything else (bool, characters, enums, pointers, records) is refused at compile time.
  template <class T>
  requires(!CFormatInteger<T> && !std::is_floating_point_v<T> &&
           !std::is_convertible_v<const T&, std::string_view>) TFormatArg(const T&)
  = delete;

  TKind Kind() const { return FKind; }
  uint64_t IntBits() const { return FInt; }  // two's complement, sign-extended for I32/I64
  double FloatValue() const { return FFloat; }
  std::string_view Text() const { return FText; }

 private:
  TKind FKind = TKind::I32;
  uint64_t FInt = 0;
  double FFloat = 0;
  std::string_view FText;
};

// The engine behind Format: Fmt filled from Args with the given separators.
std::string FormatArgs(std::string_view Fmt, std::span<const TFormatArg> Args, const TFormatSettings& Settings);

// Shown texts and log lines: %f uses the user's decimal separator.
template <class... TArgs>
std::string Format(std::string_view Fmt, const TArgs&... Args) {
  const TFormatArg a[sizeof...(TArgs) + 1] = {TFormatArg(Args)..., TFormatArg(0)};
  return FormatArgs(Fmt, std::span<const TFormatArg>(a, sizeof...(TArgs)), GetFormatSettings());
}

// Files (CSV, JSON, settings): %f always writes ".".
template <class... TArgs>
std::string FormatPlain(std::string_view Fmt, const TArgs&... Args) {
  const TFormatArg a[sizeof...(TArgs) + 1] = {TFormatArg(Args)..., TFormatArg(0)};
  return FormatArgs(Fmt, std::span<const TFormatArg>(a, sizeof...(TArgs)), PlainFormatSettings());
}
