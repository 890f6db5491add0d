#include <gtest/gtest.h>

#include <random>

#include "engine/uRanges.h"
#include "engine/uTrimPlanner.h"

namespace {

TTrimRangeArray R(std::initializer_list<std::pair<uint64_t, uint64_t>> L) {
  TTrimRangeArray A;
  for (auto [s, c] : L) A.push_back({s, c});
  return A;
}

std::vector<std::pair<uint64_t, uint64_t>> Pairs(const TTrimRangeArray& A) {
  std::vector<std::pair<uint64_t, uint64_t>> P;
  for (const TTrimRange& X : A) P.push_back({X.StartLba, X.SectorCount});
  return P;
}

constexpr uint64_t kTop = uint64_t(1) << 63;

// One row of a table of range transformations.
struct TRangeCase {
  const char* Name;
  TTrimRangeArray In;
  TTrimRangeArray Want;
};

TEST(NormalizeRanges, Table) {
  const TRangeCase Cases[] = {
      {"empty", {}, {}},
      {"touching merge", R({{10, 5}, {15, 3}}), R({{10, 8}})},
      {"gap of one stays apart", R({{10, 5}, {16, 3}}), R({{10, 5}, {16, 3}})},
      {"contained", R({{10, 5}, {12, 1}}), R({{10, 5}})},
      {"zero count dropped", R({{7, 0}}), {}},
      {"unsorted and overlapping", R({{100, 10}, {0, 5}, {105, 20}, {3, 4}}), R({{0, 7}, {100, 25}})},
      {"zero between two touching", R({{0, 4}, {4, 0}, {4, 4}}), R({{0, 8}})},
      {"start at 2^63", R({{kTop + 5, 5}, {kTop, 5}, {1, 1}}), R({{1, 1}, {kTop, 10}})},
      {"end past 2^64 is cut, not wrapped", R({{UINT64_MAX - 3, 10}, {0, 1}}), R({{0, 1}, {UINT64_MAX - 3, 3}})},
  };
  for (const TRangeCase& C : Cases) {
    const TTrimRangeArray In = C.In;
    EXPECT_EQ(Pairs(NormalizeRanges(C.In)), Pairs(C.Want)) << C.Name;
    EXPECT_EQ(Pairs(C.In), Pairs(In)) << C.Name << ": input changed";
  }
}

TEST(NormalizeRanges, SortsLargeAdversarialInputWithoutDeepRecursion) {
  TTrimRangeArray A;
  for (uint64_t i = 0; i < 200000; ++i) A.push_back({(200000 - i) * 2, 1});  // descending, gaps of one
  const TTrimRangeArray N = NormalizeRanges(A);
  ASSERT_EQ(N.size(), 200000u);
  for (size_t i = 1; i < N.size(); ++i) EXPECT_LT(N[i - 1].StartLba + N[i - 1].SectorCount, N[i].StartLba);
}

TEST(BitmapBitIsSet, LeastSignificantBitFirst) {
  const uint8_t B[] = {0x01, 0x80};
  EXPECT_TRUE(BitmapBitIsSet(B, 0));
  EXPECT_FALSE(BitmapBitIsSet(B, 1));
  EXPECT_FALSE(BitmapBitIsSet(B, 8));
  EXPECT_TRUE(BitmapBitIsSet(B, 15));
}

TEST(SplitRanges, Table) {
  const TRangeCase Cases[] = {
      {"empty", {}, {}},
      {"zero count adds nothing", R({{5, 0}}), {}},
      {"65535 stays one", R({{0, 65535}}), R({{0, 65535}})},
      {"65536 is 65535 + 1", R({{0, 65536}}), R({{0, 65535}, {65535, 1}})},
      {"131071 is 65535 + 65535 + 1", R({{10, 131071}}), R({{10, 65535}, {65545, 65535}, {131080, 1}})},
      {"keeps input order", R({{500000, 2}, {0, 1}}), R({{500000, 2}, {0, 1}})},
      {"start at 2^63", R({{kTop, 65536}}), R({{kTop, 65535}, {kTop + 65535, 1}})},
  };
  for (const TRangeCase& C : Cases) EXPECT_EQ(Pairs(SplitRanges(C.In)), Pairs(C.Want)) << C.Name;
}

TEST(NormalizeAndSplit, ClipsToTheDisk) {
  TTrimRangeArray Out;
  std::string Msg;
  // 1000 blocks: a range at block 1000 is past the end, one reaching past it is cut.
  ASSERT_TRUE(TTrimPlanner::NormalizeAndSplit(R({{1000, 5}, {990, 50}, {kTop, 1}}), 1000 * 512 + 511, Out, Msg));
  EXPECT_EQ(Msg, "ok");
  EXPECT_EQ(Pairs(Out), Pairs(R({{990, 10}})));
  EXPECT_FALSE(TTrimPlanner::NormalizeAndSplit(R({{1000, 5}}), 1000 * 512, Out, Msg));
  EXPECT_EQ(Msg, "No valid TRIM ranges after normalization");
  EXPECT_TRUE(Out.empty());
}

// For random free maps over random partition layouts, the plan is exactly the free blocks on the
// disk, in sorted, disjoint pieces of at most 65535 blocks.
TEST(NormalizeAndSplit, PropertyPlanIsTheFreeBlocksOnTheDisk) {
  std::mt19937_64 Rng(12345);
  for (int Round = 0; Round < 100; ++Round) {
    const uint64_t DiskBlocks = 1000 + Rng() % 60000;
    std::vector<bool> Free(DiskBlocks + 20000, false);  // room for ranges past the disk end
    TTrimRangeArray Raw;
    const int Parts = 1 + static_cast<int>(Rng() % 4);
    for (int p = 0; p < Parts; ++p) {
      const uint64_t Start = Rng() % DiskBlocks;
      const uint64_t Len = 1 + Rng() % (DiskBlocks + 10000 - Start);
      const uint64_t Spc = uint64_t(1) << (Rng() % 8);
      for (uint64_t c = 0; c * Spc < Len; ++c) {
        if (Rng() % 3 == 0) continue;
        const uint64_t S = Start + c * Spc;
        const uint64_t N = std::min(Spc, Start + Len - S);
        Raw.push_back({S, N});
        for (uint64_t b = S; b < S + N && b < Free.size(); ++b) Free[b] = true;
      }
    }
    std::shuffle(Raw.begin(), Raw.end(), Rng);
    TTrimRangeArray Plan;
    std::string Msg;
    TTrimPlanner::NormalizeAndSplit(Raw, DiskBlocks * 512, Plan, Msg);
    std::vector<bool> Got(DiskBlocks, false);
    uint64_t PrevEnd = 0;
    for (size_t i = 0; i < Plan.size(); ++i) {
      const TTrimRange& X = Plan[i];
      ASSERT_GT(X.SectorCount, 0u);
      ASSERT_LE(X.SectorCount, 65535u);
      if (i > 0) {
        ASSERT_GE(X.StartLba, PrevEnd);
      }
      ASSERT_LE(X.StartLba + X.SectorCount, DiskBlocks);
      for (uint64_t b = X.StartLba; b < X.StartLba + X.SectorCount; ++b) Got[b] = true;
      PrevEnd = X.StartLba + X.SectorCount;
    }
    for (uint64_t b = 0; b < DiskBlocks; ++b) ASSERT_EQ(Got[b], Free[b]) << "round " << Round << " block " << b;
  }
}

}  // namespace
