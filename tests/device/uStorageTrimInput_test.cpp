#include <gtest/gtest.h>

#include "device/DeviceTestUtil.h"
#include "device/uAtaPassThrough.h"

using devtest::Hex;
using E = TAtaPassThroughEngine;

TEST(DsmTrimInput, OneRangeGolden) {
  const TByteArray In = E::BuildDsmTrimInput({{0, 4096}}, false);
  EXPECT_EQ(In, Hex("1C 00 00 00  01 00 00 00  00 00 00 80  00 00 00 00"
                    "00 00 00 00  20 00 00 00  10 00 00 00  00 00 00 00"
                    "00 00 00 00 00 00 00 00  00 10 00 00 00 00 00 00"));
}

TEST(DsmTrimInput, TwoRangesAndTheCooperativeFormDiffersOnlyInFlags) {
  const std::vector<E::TDataSetRange> Two{{0x100000, 0x2000}, {0x123456789A00ll, 0x200}};
  const TByteArray In = E::BuildDsmTrimInput(Two, false);
  EXPECT_EQ(In, Hex("1C 00 00 00  01 00 00 00  00 00 00 80  00 00 00 00"
                    "00 00 00 00  20 00 00 00  20 00 00 00  00 00 00 00"
                    "00 00 10 00 00 00 00 00  00 20 00 00 00 00 00 00"
                    "00 9A 78 56 34 12 00 00  00 02 00 00 00 00 00 00"));
  TByteArray Coop = E::BuildDsmTrimInput(Two, true);
  EXPECT_EQ(Coop[11], 0x00);
  Coop[11] = 0x80;
  EXPECT_EQ(Coop, In);
}
