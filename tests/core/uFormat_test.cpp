#include "core/uFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/uTypes.h"
#include "ScopedFormatSettings.h"

namespace {

struct Case {
  std::string got;
  std::string want;
};

void ExpectAll(const std::vector<Case>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << "case " << i;
}

TEST(Format, IntegersKeepTheirOwnWidth) {
  ExpectAll({
      {Format("%d", 0), "0"},
      {Format("%d", -5), "-5"},
      {Format("%d", INT32_MIN), "-2147483648"},
      {Format("%d", INT32_MAX), "2147483647"},
      // A Windows error code with the top bit set reads as signed 32-bit, as the log writes it.
      {Format("winerr=%d", uint32_t{0xFFFFFFFF}), "winerr=-1"},
      {Format("%d", uint32_t{0x80000000}), "-2147483648"},
      {Format("%d", uint8_t{200}), "200"},
      {Format("%d", uint16_t{65535}), "65535"},
      {Format("%d", int64_t{-1234567890123}), "-1234567890123"},
      {Format("%d", INT64_MIN), "-9223372036854775808"},
      // A 64-bit unsigned size is never shown negative.
      {Format("%d", UINT64_MAX), "18446744073709551615"},
      {Format("%u", uint32_t{0xFFFFFFFF}), "4294967295"},
      {Format("%u", -1), "4294967295"},
      {Format("%u", int64_t{-1}), "18446744073709551615"},
      {Format("lba=%u", uint64_t{0x123456789ABCull}), "lba=20015998343868"},
      // "ll" / "I64" widen first: sign-extended when signed, the unsigned value otherwise.
      {Format("%lld", -1), "-1"},
      {Format("%I64d", uint32_t{0xFFFFFFFF}), "4294967295"},
      {Format("%I64u", -1), "18446744073709551615"},
      {Format("%lld", INT64_MAX), "9223372036854775807"},
  });
}

TEST(Format, HexIsUpperCaseAtTheArgumentsWidth) {
  ExpectAll({
      {Format("%x", 255), "FF"},
      {Format("%X", 0xABCDEF), "ABCDEF"},
      {Format("0x%.2x", uint8_t{7}), "0x07"},
      {Format("%.4x", uint16_t{0x1A}), "001A"},
      {Format("%.8x", uint32_t{0xDEADBEEF}), "DEADBEEF"},
      {Format("%.2x", 0x1234), "1234"},  // a precision is a minimum, never a cut
      {Format("%x", -1), "FFFFFFFF"},
      {Format("%x", int64_t{-1}), "FFFFFFFFFFFFFFFF"},
      {Format("%llx", -1), "FFFFFFFFFFFFFFFF"},
      {Format("%x", uint64_t{1} << 40), "10000000000"},
      {Format("%04X", 0xB), "000B"},
  });
}

TEST(Format, WidthsPrecisionsAndFlags) {
  ExpectAll({
      {Format("%d:%02d:%02d", 26, 5, 0), "26:05:00"},
      {Format("%02d", 123), "123"},
      {Format("%4d|", 42), "  42|"},
      {Format("%-4d|", 42), "42  |"},
      {Format("%04d", -5), "-005"},
      {Format("%.4d", -5), "-0005"},
      {Format("%.3d", 7), "007"},
      {Format("%.2d", 0), "00"},
      {Format("%6.3d|", 7), "   007|"},
      {Format("%06.3d|", 7), "   007|"},  // a precision turns the zero flag off, as in C
      {Format("%-10s|", "abc"), "abc       |"},
      {Format("%5s|", "ab"), "   ab|"},
      {Format("%.2s", "abcdef"), "ab"},
      // Widths and precisions count characters, and never split one.
      {Format("%-4s|", "äö"), "äö  |"},
      {Format("%.1s|", "äb"), "ä|"},
      {Format("%.3s|", "日本語テキスト"), "日本語|"},
  });
}

TEST(Format, TextsAndLiterals) {
  const std::string s = "str";
  const std::string_view v = "view";
  const char* null = nullptr;
  ExpectAll({
      {Format(""), ""},
      {Format("no conversions: ünïcode ✓"), "no conversions: ünïcode ✓"},
      {Format("100%%"), "100%"},
      {Format("%d%%", 5), "5%"},
      {Format("%s/%s/%s", s, v, "lit"), "str/view/lit"},
      {Format("[%s]", ""), "[]"},
      {Format("[%s]", null), "[]"},
      {Format(std::string("%s=%d"), "n", 3), "n=3"},
      {Format("%s(params=%s, ret=%s, winerr=%d, errtxt=", "DeviceIoControl(UNMAP)", "path=\\\\.\\PhysicalDrive2",
              "False", uint32_t{1117}),
       "DeviceIoControl(UNMAP)(params=path=\\\\.\\PhysicalDrive2, ret=False, winerr=1117, errtxt="},
  });
}

TEST(Format, FloatsRoundHalvesAwayFromZero) {
  ScopedFormatSettings plain(PlainFormatSettings());
  ExpectAll({
      {Format("%.1f", 1.25), "1.3"},
      {Format("%.2f", 0.125), "0.13"},
      {Format("%.3f", 2.0 / 3.0), "0.667"},
      {Format("%.0f", 2.5), "3"},
      {Format("%.0f", -2.5), "-3"},
      {Format("%.0f", 0.4), "0"},
      {Format("%.2f", 1.005), "1.00"},  // 1.00499999999999989... in binary
      {Format("%.1f", 999.96), "1000.0"},
      {Format("%.2f", -0.001), "0.00"},  // no "-0.00"
      {Format("%.1f", -1.25), "-1.3"},
      {Format("%.3f", 1e20), "100000000000000000000.000"},
      {Format("%.3f", 0.0), "0.000"},
      {Format("%.3f", 1234.5678), "1234.568"},
      {Format("%f", 3.14159), "3.14"},  // no precision: two decimals
      {Format("%8.2f|", 3.14159), "    3.14|"},
      {Format("%08.2f", -3.14159), "-0003.14"},
      {Format("%-7.1f|", 2.25), "2.3    |"},
      {Format("%.1f", 1.5f), "1.5"},
      {Format("%.1f", std::nan("")), "NAN"},
      {Format("%.1f", std::numeric_limits<double>::infinity()), "INF"},
      {Format("%.1f", -std::numeric_limits<double>::infinity()), "-INF"},
  });
}

TEST(Format, FloatsUseTheUsersDecimalSeparatorAndFilesDoNot) {
  ScopedFormatSettings comma({",", ".", ":"});
  EXPECT_EQ(Format("Total: %.3f GiB", 1.5), "Total: 1,500 GiB");
  EXPECT_EQ(FormatPlain("%.1f,%.2f,%s", 12.25, 3.5, "STEP1"), "12.3,3.50,STEP1");
  // Integers are never grouped or touched by the separators.
  EXPECT_EQ(Format("%d", 1234567), "1234567");

  SetFormatSettings({"٫", " ", ":"});  // a two-byte separator still counts as one character
  EXPECT_EQ(Format("%6.1f|", 1.5), "   1٫5|");
}

TEST(Format, MismatchesAreErrors) {
  struct Bad {
    std::string fmt;
    std::string (*run)(const std::string&);
    std::string marker;  // what a release build writes instead
  };
  const std::vector<Bad> bad = {
      {"%d", [](const std::string& f) { return Format(f, "x"); }, "%!d(text)"},
      {"%s", [](const std::string& f) { return Format(f, 5); }, "%!s(int32)"},
      {"%s", [](const std::string& f) { return Format(f, uint64_t{5}); }, "%!s(uint64)"},
      {"%f", [](const std::string& f) { return Format(f, 5); }, "%!f(int32)"},
      {"%d", [](const std::string& f) { return Format(f, 1.5); }, "%!d(float)"},
      {"%x", [](const std::string& f) { return Format(f, "a"); }, "%!x(text)"},
      {"%u", [](const std::string& f) { return Format(f, 2.0); }, "%!u(float)"},
      {"%d %d", [](const std::string& f) { return Format(f, 1); }, "1 %!d(missing)"},
      {"%d", [](const std::string& f) { return Format(f); }, "%!d(missing)"},
      {"%d", [](const std::string& f) { return Format(f, 1, 2); }, "1%!(extra)"},
      {"plain", [](const std::string& f) { return Format(f, "x"); }, "plain%!(extra)"},
      {"%q", [](const std::string& f) { return Format(f, 1); }, "%!(bad)%!(extra)"},
      {"abc%", [](const std::string& f) { return Format(f); }, "abc%!(bad)"},
      {"%lf", [](const std::string& f) { return Format(f, 1.0); }, "%!(bad)%!(extra)"},
      {"%hd", [](const std::string& f) { return Format(f, 1); }, "%!(bad)%!(extra)"},
      {"%lls", [](const std::string& f) { return Format(f, "x"); }, "%!(bad)%!(extra)"},
      {"%5%", [](const std::string& f) { return Format(f); }, "%!(bad)"},
      {"%99999d", [](const std::string& f) { return Format(f, 1); }, "%!(bad)%!(extra)"},
  };
  for (const Bad& b : bad) {
    if constexpr (kFormatThrows) {
      EXPECT_THROW(b.run(b.fmt), std::logic_error) << b.fmt;
    } else {
      EXPECT_EQ(b.run(b.fmt), b.marker) << b.fmt;
    }
  }
  if constexpr (kFormatThrows) {
    try {
      Format("winerr=%d", "5");
      FAIL() << "no error";
    } catch (const std::logic_error& e) {
      EXPECT_NE(std::string(e.what()).find("%d given text"), std::string::npos) << e.what();
    }
  }
}

TEST(Format, RefusesArgumentsWithoutAConversionAtCompileTime) {
  static_assert(!std::is_constructible_v<TFormatArg, bool>);
  static_assert(!std::is_constructible_v<TFormatArg, char>);
  static_assert(!std::is_constructible_v<TFormatArg, char16_t>);
  static_assert(!std::is_constructible_v<TFormatArg, TTransportKind>);
  static_assert(!std::is_constructible_v<TFormatArg, const int*>);
  static_assert(std::is_constructible_v<TFormatArg, int8_t>);
  static_assert(std::is_constructible_v<TFormatArg, const char*>);
  SUCCEED();
}

}  // namespace
