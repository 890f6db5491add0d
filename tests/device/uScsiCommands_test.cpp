#include <gtest/gtest.h>

#include <array>

#include "device/DeviceTestUtil.h"
#include "device/uAtaPassThrough.h"
#include "base/uByteOrder.h"

using devtest::Bytes;
using devtest::Hex;
using E = TAtaPassThroughEngine;

TEST(UnmapList, OneRangeGoldenListAndBlock) {
  TByteArray List;
  E::BuildUnmapParameterList(List, {{1000, 8}}, 0, 1);
  EXPECT_EQ(List, Hex("00 16 00 10 00 00 00 00  00 00 00 00 00 00 03 E8  00 00 00 08  00 00 00 00"));
  std::array<uint8_t, 10> Cdb;
  Cdb.fill(0xAA);
  E::BuildUnmapCdb(Cdb, static_cast<uint16_t>(List.size()));
  EXPECT_EQ(Bytes(Cdb), Hex("42 00 00 00 00 00 00 00 18 00"));
}

TEST(UnmapList, DescriptorCountIsClampedAndHeaderCountsEverySlot) {
  TTrimRangeArray Many(5000, TTrimRange{64, 1});
  TByteArray List;
  E::BuildUnmapParameterList(List, Many, 0, 4096);
  ASSERT_EQ(List.size(), 65528u);
  TByteReader R(List);
  EXPECT_EQ(R.BE16(0), 65526);
  EXPECT_EQ(R.BE16(2), 65520);
  for (int32_t Count : {0, -7}) {
    E::BuildUnmapParameterList(List, Many, 0, Count);
    EXPECT_EQ(List, Hex("00 06 00 00 00 00 00 00"));
  }
  // Past the end: a zero descriptor (0 blocks, nothing released) that the header still counts.
  E::BuildUnmapParameterList(List, {{1000, 8}}, 0, 2);
  ASSERT_EQ(List.size(), 40u);
  EXPECT_EQ(TByteReader(List).BE16(2), 32);
  EXPECT_EQ(TByteArray(List.begin() + 24, List.end()), TByteArray(16, 0));
  // Only the low 32 bits of a count fit a descriptor.
  E::BuildUnmapParameterList(List, {{7, (1ull << 32) + 5}}, 0, 1);
  EXPECT_EQ(TByteReader(List).BE32(16), 5u);
}

TEST(WriteSame16, GoldenBlock) {
  std::array<uint8_t, 16> Cdb;
  Cdb.fill(0xAA);
  E::BuildWriteSame16UnmapCdb(Cdb, 2048, 65535);
  EXPECT_EQ(Bytes(Cdb), Hex("93 08 00 00 00 00 00 00 08 00 00 00 FF FF 00 00"));
  E::BuildWriteSame16UnmapCdb(Cdb, 0x0102030405060708ull, 0x0A0B0C0D);
  EXPECT_EQ(Bytes(Cdb), Hex("93 08 01 02 03 04 05 06 07 08 0A 0B 0C 0D 00 00"));
}

TEST(BlockLimitsInquiry, GoldenBlock) {
  std::array<uint8_t, 6> Cdb;
  Cdb.fill(0xAA);
  E::BuildBlockLimitsInquiryCdb(Cdb);
  EXPECT_EQ(Bytes(Cdb), Hex("12 01 B0 00 40 00"));
}

TEST(IdentifyProbe, GoldenBlock) {
  std::array<uint8_t, 16> Cdb;
  Cdb.fill(0xAA);
  E::BuildIdentifyCdb(Cdb);
  EXPECT_EQ(Bytes(Cdb), Hex("85 08 0E 00 00 00 01 00 00 00 00 00 00 00 EC 00"));
}

TEST(IdentifyText, WordsAreByteSwappedCleanedAndTrimmed) {
  std::array<uint8_t, 512> Buf{};
  auto PutText = [&](size_t Off, const std::string& S) {  // ATA order: high byte first
    for (size_t I = 0; I < S.size(); I += 2) {
      Buf[Off + I + 1] = static_cast<uint8_t>(S[I]);
      Buf[Off + I] = static_cast<uint8_t>(I + 1 < S.size() ? S[I + 1] : ' ');
    }
  };
  Buf[54] = 0x53;
  Buf[55] = 0x41;  // word 27 = 4153h: "AS"
  EXPECT_EQ(E::AtaIdentifyString(Buf, 511, 54, 2), "AS");
  PutText(54, std::string("Samsung SSD 870 EVO 1TB") + std::string(17, ' '));
  EXPECT_EQ(E::AtaIdentifyString(Buf, 511, 54, 40), "Samsung SSD 870 EVO 1TB");
  // Control bytes and bytes above 126 become spaces; at the ends they vanish.
  PutText(20,
          "\x01"
          "AB\x7F"
          "CD\xC3"
          "      ");
  EXPECT_EQ(E::AtaIdentifyString(Buf, 511, 20, 10), "AB CD");
  // Never reads past HighIndex.
  EXPECT_EQ(E::AtaIdentifyString(Buf, 511, 508, 8), "");
  EXPECT_EQ(E::AtaIdentifyString(std::span(Buf).first(30), 511, 20, 20), "AB CD");
}
