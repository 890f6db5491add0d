#include <gtest/gtest.h>

#include <array>

#include "device/DeviceTestUtil.h"
#include "device/uAtaPassThrough.h"
#include "base/uByteOrder.h"

using devtest::Bytes;
using devtest::Hex;
using E = TAtaPassThroughEngine;

namespace {

uint64_t Entry(const TByteArray& P, size_t K) { return TByteReader(P).LE64(8 * K); }
uint64_t EntryLba(const TByteArray& P, size_t K) { return Entry(P, K) & 0xFFFFFFFFFFFFull; }
uint64_t EntryCount(const TByteArray& P, size_t K) { return Entry(P, K) >> 48; }

TByteArray Pt16(uint16_t Count, uint8_t Protocol = 6, bool Extend = true, bool CkCond = true) {
  TByteArray Cdb(16);
  EXPECT_TRUE(E::BuildPt16DsmCdb(Count, Cdb, Protocol, Extend, CkCond));
  return Cdb;
}

}  // namespace

TEST(DsmPayload, LongRangeSplitsInto65535SectorEntriesAndPadsTheBlock) {
  const uint64_t L = 0x123456789ull;
  TByteArray P;
  ASSERT_TRUE(E::BuildDsmPayload(P, {{L, 65536}}, 0, 1));
  ASSERT_EQ(P.size(), 512u);
  EXPECT_EQ(EntryLba(P, 0), L);
  EXPECT_EQ(EntryCount(P, 0), 65535u);
  EXPECT_EQ(EntryLba(P, 1), L + 65535);
  EXPECT_EQ(EntryCount(P, 1), 1u);
  for (size_t I = 16; I < 512; ++I) ASSERT_EQ(P[I], 0) << I;
  // The first entry as it lies on the wire: count FFFFh in the top 16 bits, LE.
  EXPECT_EQ(Bytes(std::span(P).first(8)), Hex("89 67 45 23 01 00 FF FF"));
}

TEST(DsmPayload, SizeFollowsEntryCountInWholeBlocks) {
  TTrimRangeArray R64(64, TTrimRange{100, 8}), R65(65, TTrimRange{100, 8});
  TByteArray P;
  E::BuildDsmPayload(P, R64, 0, 64);
  EXPECT_EQ(P.size(), 512u);
  E::BuildDsmPayload(P, R65, 0, 65);
  EXPECT_EQ(P.size(), 1024u);
  // Empty ranges and indexes outside the array add nothing; no index at all gives nothing.
  const TTrimRangeArray Mixed{{10, 0}, {20, 4}};
  E::BuildDsmPayload(P, Mixed, -3, 10);
  ASSERT_EQ(P.size(), 512u);
  EXPECT_EQ(EntryLba(P, 0), 20u);
  EXPECT_EQ(EntryCount(P, 0), 4u);
  EXPECT_EQ(Entry(P, 1), 0u);
  EXPECT_TRUE(E::BuildDsmPayload(P, Mixed, 0, 0));
  EXPECT_TRUE(P.empty());
  E::BuildDsmPayload(P, Mixed, 5, 3);
  EXPECT_TRUE(P.empty());
}

TEST(DsmPayload, RefusesRangesEndingBeyondTheAddressableBlocks) {
  const uint64_t Limit = 1ull << 48;
  TByteArray P{1, 2, 3};
  // The last addressable block is fine...
  ASSERT_TRUE(E::BuildDsmPayload(P, {{Limit - 1, 1}}, 0, 1));
  EXPECT_EQ(EntryLba(P, 0), Limit - 1);
  // ...one past it, a start at the limit, or a count that wraps 64 bits is refused whole.
  for (const TTrimRange R :
       {TTrimRange{Limit - 1, 2}, TTrimRange{Limit, 1}, TTrimRange{Limit + 5, 8}, TTrimRange{8, ~0ull}}) {
    EXPECT_FALSE(E::BuildDsmPayload(P, {{0, 8}, R}, 0, 2)) << R.StartLba;
    EXPECT_TRUE(P.empty());
  }
}

TEST(DsmCdb, Pt16GoldenBlockAndCountBytes) {
  EXPECT_EQ(Pt16(4, 6, true, true), Hex("85 0D 26 00 01 00 04 00 00 00 00 00 00 00 06 00"));
  EXPECT_EQ(Pt16(4, 5, false, false), Hex("85 0A 06 00 01 00 04 00 00 00 00 00 00 00 06 00"));
  TByteArray Ext = Pt16(300, 6, true, false);
  EXPECT_EQ(Ext[5], 0x01);
  EXPECT_EQ(Ext[6], 0x2C);
  TByteArray NoExt = Pt16(255, 6, false, false);
  EXPECT_EQ(NoExt[5], 0x00);
  EXPECT_EQ(NoExt[6], 0xFF);
}

TEST(DsmCdb, Pt16RefusesWhatItCannotCarryAndLeavesTheBlockZero) {
  // Without EXTEND a count above 255 would be taken modulo 256: 300 would trim 44 blocks' worth.
  TByteArray Cdb(16, 0xAA);
  EXPECT_FALSE(E::BuildPt16DsmCdb(300, Cdb, 6, false, false));
  EXPECT_EQ(Cdb, TByteArray(16, 0));
  TByteArray Short(15, 0xAA);
  EXPECT_FALSE(E::BuildPt16DsmCdb(4, Short, 6, true, true));
  EXPECT_EQ(Short, TByteArray(15, 0));
  // A longer block is zeroed whole and filled in its first 16 bytes.
  TByteArray Long(20, 0xAA);
  EXPECT_TRUE(E::BuildPt16DsmCdb(4, Long, 6, true, true));
  EXPECT_EQ(Long[16], 0);
}

TEST(DsmCdb, Pt12GoldenBlockInsideA16ByteBlock) {
  TByteArray Cdb(16, 0xAA);
  ASSERT_TRUE(E::BuildPt12DsmCdb(2, Cdb, 5, false));
  EXPECT_EQ(Cdb, Hex("A1 0A 06 01 02 00 00 00 00 06 00 00 00 00 00 00"));
  ASSERT_TRUE(E::BuildPt12DsmCdb(1, Cdb, 6, true));
  EXPECT_EQ(Bytes(std::span(Cdb).first(5)), Hex("A1 0C 26 01 01"));
  EXPECT_FALSE(E::BuildPt12DsmCdb(0, Cdb, 6, true));
  EXPECT_EQ(Cdb, TByteArray(16, 0));
  TByteArray Short(11, 0xAA);
  EXPECT_FALSE(E::BuildPt12DsmCdb(1, Short, 6, true));
  EXPECT_EQ(Short, TByteArray(11, 0));
}

TEST(DsmCdbCheck, GoodBlockPassesAndEachRuleFailsAlone) {
  const TByteArray Good = Pt16(4);
  TAtaCdbValidationResult Res;
  ASSERT_TRUE(E::ValidatePt16DsmCdb(Good, 2048, Res));
  EXPECT_TRUE(Res.Ok);
  EXPECT_EQ(Res.Message, "ok");

  struct Case {
    const char* Message;
    void (*Break)(TByteArray&);
    uint32_t PayloadBytes;
  };
  const Case Cases[] = {
      {"CDB length is less than 16", [](TByteArray& C) { C.resize(15); }, 2048},
      {"Opcode must be 0x85", [](TByteArray& C) { C[0] = 0xA1; }, 2048},
      {"Protocol must be DMA(0x06) or PIO-Data-Out(0x05)", [](TByteArray& C) { C[1] = (4 << 1) | 1; }, 2048},
      {"T_DIR must be Data-Out(0)", [](TByteArray& C) { C[2] |= 0x08; }, 2048},
      {"T_LENGTH must be sector-count mode", [](TByteArray& C) { C[2] = (C[2] & ~3) | 1; }, 2048},
      {"Transfer length(sector count) must be > 0", [](TByteArray& C) { C[6] = 0; }, 0},
      {"ATA command must be DSM(0x06)", [](TByteArray& C) { C[14] = 0x35; }, 2048},
      {"Features(TRIM bit) must be set", [](TByteArray& C) { C[4] = 0; }, 2048},
      {"Payload bytes and sector count mismatch", [](TByteArray&) {}, 2560},
  };
  for (const Case& K : Cases) {
    TByteArray Cdb = Good;
    K.Break(Cdb);
    TAtaCdbValidationResult R{true, "stale"};
    EXPECT_FALSE(E::ValidatePt16DsmCdb(Cdb, K.PayloadBytes, R)) << K.Message;
    EXPECT_FALSE(R.Ok);
    EXPECT_EQ(R.Message, K.Message);
  }
}

TEST(DsmCdbCheck, RulesApplyInOrderAndCountIgnoresExtend) {
  TAtaCdbValidationResult Res;
  E::ValidatePt16DsmCdb(TByteArray(16, 0), 0, Res);
  EXPECT_EQ(Res.Message, "Opcode must be 0x85");
  // Count 0 and a wrong command: rule 6 comes first.
  TByteArray Cdb = Pt16(4);
  Cdb[6] = 0;
  Cdb[14] = 0x35;
  E::ValidatePt16DsmCdb(Cdb, 0, Res);
  EXPECT_EQ(Res.Message, "Transfer length(sector count) must be > 0");
  // Byte 5 counts even without EXTEND: 01 00 = 256 blocks.
  Cdb = Pt16(4, 6, false, false);
  Cdb[5] = 1;
  Cdb[6] = 0;
  EXPECT_TRUE(E::ValidatePt16DsmCdb(Cdb, 256 * 512, Res));
}

TEST(DsmBits, SetAndTest) {
  EXPECT_EQ(E::SetBitValue(0x06, 5, true), 0x26);
  EXPECT_EQ(E::SetBitValue(0x26, 5, false), 0x06);
  EXPECT_EQ(E::SetBitValue(0x0C, 0, true), 0x0D);
  EXPECT_EQ(E::SetBitValue(0xFF, 8, false), 0xFF);  // no such bit: unchanged
  EXPECT_TRUE(E::TestBitValue(0x80, 7));
  EXPECT_FALSE(E::TestBitValue(0x7F, 7));
  EXPECT_FALSE(E::TestBitValue(0xFF, 9));
}
