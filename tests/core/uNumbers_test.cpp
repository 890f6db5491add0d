#include "core/uNumbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/sim/SimMachine.h"
#include "ScopedFormatSettings.h"

namespace {

TEST(FormatFloatGrouped, GroupsByThreeWithTheUsersSeparator) {
  struct Row {
    std::string sep;
    uint64_t value;
    std::string want;
  };
  const Row rows[] = {
      {",", 0, "0"},
      {",", 999, "999"},
      {",", 1000, "1,000"},
      {",", 4096, "4,096"},
      {",", 1234567, "1,234,567"},
      {",", UINT64_MAX, "18,446,744,073,709,551,615"},
      // Past 2^53 a double would round; every digit stays.
      {",", (uint64_t{1} << 53) + 1, "9,007,199,254,740,993"},
      {".", 1234567, "1.234.567"},
      {" ", 1234567, "1 234 567"},
      {"'", 1234567, "1'234'567"},
      {"\u00A0", 1234567, "1\u00A0234\u00A0567"},  // no-break space: two bytes in UTF-8
      {"\u202F", 98765, "98\u202F765"},
  };
  for (const Row& r : rows) {
    ScopedFormatSettings s({".", r.sep, ":"});
    EXPECT_EQ(FormatFloatGrouped(r.value), r.want) << r.sep << " " << r.value;
  }
}

TEST(FormatFloatGrouped, SignedAndFloatValues) {
  ScopedFormatSettings s(PlainFormatSettings());
  EXPECT_EQ(FormatFloatGrouped(-1234), "-1,234");
  EXPECT_EQ(FormatFloatGrouped(INT64_MIN), "-9,223,372,036,854,775,808");
  EXPECT_EQ(FormatFloatGrouped(int64_t{-999}), "-999");
  EXPECT_EQ(FormatFloatGrouped(1234.5), "1,235");
  EXPECT_EQ(FormatFloatGrouped(999.5), "1,000");
  EXPECT_EQ(FormatFloatGrouped(-0.4), "0");
  EXPECT_EQ(FormatFloatGrouped(-1234567.5), "-1,234,568");
  EXPECT_EQ(FormatFloatGrouped(std::nan("")), "NAN");
}

TEST(FormatFixed, UsesTheDecimalSeparatorGiven) {
  ScopedFormatSettings s({",", ".", ":"});
  EXPECT_EQ(FormatFixed(1.25, 1), "1,3");
  EXPECT_EQ(FormatFixed(1234.5, 2), "1234,50");  // no grouping in "%.Nf"
  EXPECT_EQ(FormatFixed(1.25, 1, PlainFormatSettings()), "1.3");
  EXPECT_EQ(FormatFixed(7.0, 0), "7");
  EXPECT_EQ(FormatFixed(0.5, -3), "1");  // decimals clamp to 0
}

TEST(SplitFixed, CarriesRoundingIntoNewDigits) {
  TFixedParts p = SplitFixed(9.996, 2);
  EXPECT_EQ(p.IntDigits, "10");
  EXPECT_EQ(p.FracDigits, "00");
  p = SplitFixed(0.005, 2);
  EXPECT_EQ(p.IntDigits, "0");
  EXPECT_EQ(p.FracDigits, "01");
  p = SplitFixed(-0.0, 1);
  EXPECT_FALSE(p.Negative);
  EXPECT_EQ(p.IntDigits + "." + p.FracDigits, "0.0");
}

TEST(InitFormatSettings, ReadsTheUsersLocaleOnce) {
  ScopedFormatSettings restore;
  plat::sim::ScopedSimMachine m;
  m->Desktop().SetSeparators(",", "\u00A0");
  m->Desktop().SetTimeSeparator(".");
  InitFormatSettings();
  EXPECT_EQ(GetFormatSettings().DecimalSeparator, ",");
  EXPECT_EQ(GetFormatSettings().ThousandSeparator, "\u00A0");
  EXPECT_EQ(GetFormatSettings().TimeSeparator, ".");
  EXPECT_EQ(FormatFloatGrouped(4096), "4\u00A0096");
  // Changing the locale later changes nothing until the next start.
  m->Desktop().SetSeparators(".", ",");
  EXPECT_EQ(FormatFixed(1.5, 1), "1,5");

  // A value Windows gives as empty keeps the default.
  m->Desktop().SetSeparators("", "");
  m->Desktop().SetTimeSeparator("");
  InitFormatSettings();
  EXPECT_EQ(GetFormatSettings().DecimalSeparator, ".");
  EXPECT_EQ(GetFormatSettings().ThousandSeparator, ",");
  EXPECT_EQ(GetFormatSettings().TimeSeparator, ":");
}

}  // namespace
