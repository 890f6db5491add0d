#include <gtest/gtest.h>

#include "EngineTestUtil.h"
#include "VolumeTestUtil.h"
#include "engine/uLastUsedLba.h"

using namespace plat;
using namespace plat::sim;

namespace {

class LastUsedLbaTest : public ::testing::Test {
 protected:
  ScopedSimMachine M;
  TRecordedLog Rec;

  // Volume E: at 1 MiB, 64 MiB long, formatted; returns its model.
  std::shared_ptr<SimFsState> Format(SimFsKind K, uint32_t Bps, uint32_t Cluster) {
    M->Storage().RemoveVolume('E');
    AddVolumeOnDisk(*M, 1, 300000, 'E', 1 << 20, 64ull << 20);
    M->Bridge().SetLogicalBlockSize(1, Bps);
    EXPECT_TRUE(FormatVolume(M->Storage(), 'E', K, Bps, Cluster));
    return FsState(M->Storage(), 'E');
  }
  int64_t Last() { return FindLastUsedLbaForVolume(VolumeInfoOf(*M, 'E'), Rec.Log()); }
};

// The block that ends the highest cluster in use, on each file system and sector size.
TEST_F(LastUsedLbaTest, EndsAtTheHighestUsedClusterOnEveryLayout) {
  struct Case {
    SimFsKind Kind;
    uint32_t Bps, Cluster;
  };
  const Case Cases[] = {{SimFsKind::kFat32, 512, 4096},  {SimFsKind::kFat32, 4096, 4096},
                        {SimFsKind::kExFat, 512, 32768}, {SimFsKind::kExFat, 4096, 4096},
                        {SimFsKind::kNtfs, 512, 4096},   {SimFsKind::kNtfs, 4096, 65536}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(testing::Message() << int(C.Kind) << " " << C.Bps << " " << C.Cluster);
    auto S = Format(C.Kind, C.Bps, C.Cluster);
    if (C.Kind == SimFsKind::kNtfs) ReleaseRuns(M->Storage(), 'E', {{S->clusters - 1, 1}});  // no backup marker
    const uint64_t High = S->clusters * 3 / 4;
    ASSERT_TRUE(AllocateRuns(M->Storage(), 'E', {{High, 2}}));
    const int64_t Want =
        2048 + static_cast<int64_t>((S->heapOffset * C.Bps + (High + 2) * S->ClusterBytes()) / 512) - 1;
    EXPECT_EQ(Last(), Want);
    EXPECT_TRUE(Rec.Has(
        {"[INFO] " + VolumeInfoOf(*M, 'E').FileSystem + " E: VolUsed=", "LastUsedLba=" + std::to_string(Want)}));
  }
}

// Only clusters 2 and 3 in use: the search reads the table from the last chunk down to the first.
TEST_F(LastUsedLbaTest, Fat32WithItsDataInTheFirstChunk) {
  auto S = Format(SimFsKind::kFat32, 512, 512);
  ASSERT_GT(S->clusters, 3u * 16384);
  ASSERT_TRUE(AllocateRuns(M->Storage(), 'E', {{1, 1}}));  // cluster 3; cluster 2 is the root
  EXPECT_EQ(Last(), 2048 + static_cast<int64_t>(S->heapOffset + 2) - 1);
}

TEST_F(LastUsedLbaTest, NtfsWithNothingInUseCountsTheWholeVolume) {
  auto S = Format(SimFsKind::kNtfs, 512, 4096);
  ASSERT_TRUE(ReleaseRuns(M->Storage(), 'E', {{0, S->clusters}}));
  EXPECT_EQ(Last(), 2048 + static_cast<int64_t>(S->clusters * 8) - 1);
}

TEST_F(LastUsedLbaTest, NotAvailableTable) {
  {
    auto S = Format(SimFsKind::kNtfs, 512, 4096);
    S->faults.bitmapError = ERROR_IO_DEVICE;
    S->faults.bitmapFailFrom = 1;
    EXPECT_EQ(Last(), -1) << "bitmap request fails";
  }
  {
    auto S = Format(SimFsKind::kNtfs, 512, 4096);
    S->faults.ntfsDataError = ERROR_INVALID_FUNCTION;
    EXPECT_EQ(Last(), -1) << "NTFS volume data fails";
  }
  {
    Format(SimFsKind::kExFat, 512, 4096);
    std::vector<uint8_t> Boot(512);
    auto& Drive = M->Storage().Disk(1)->drive;
    ASSERT_TRUE(Drive.Read(2048, 1, Boot.data()));
    Boot[108] = 13;
    ASSERT_TRUE(Drive.Write(2048, 1, Boot.data()));
    EXPECT_EQ(Last(), -1) << "bytes-per-sector shift 13";
    Boot[108] = 9;
    Boot[109] = 30;
    ASSERT_TRUE(Drive.Write(2048, 1, Boot.data()));
    EXPECT_EQ(Last(), -1) << "sectors-per-cluster shift 30";
  }
  {
    Format(SimFsKind::kFat32, 512, 4096);
    auto S = FsState(M->Storage(), 'E');
    ASSERT_TRUE(ReleaseRuns(M->Storage(), 'E', {{0, 1}}));
    // Only the reserved high bits set: free.
    std::vector<uint8_t> Fat(512);
    auto& Drive = M->Storage().Disk(1)->drive;
    ASSERT_TRUE(Drive.Read(2048 + S->fatOffset, 1, Fat.data()));
    Fat[4 * 5 + 3] = 0xF0;
    ASSERT_TRUE(Drive.Write(2048 + S->fatOffset, 1, Fat.data()));
    EXPECT_EQ(Last(), -1) << "FAT32 with no cluster in use";
  }
  {
    M->Storage().RemoveVolume('E');
    AddVolumeOnDisk(*M, 1, 300000, 'E', 1 << 20, 64ull << 20);  // raw
    EXPECT_EQ(Last(), -1) << "raw volume";
  }
  const size_t Handles = M->Kernel().OpenHandleCount();
  TVolumeInfo NoLetter;
  EXPECT_EQ(FindLastUsedLbaForVolume(NoLetter, Rec.Log()), -1);
  EXPECT_TRUE(Rec.Has({"[WARN] FindLastUsedLbaForVolume: empty drive letter; skipping"}));
  EXPECT_EQ(FindLastUsedLbaForVolume(NoLetter, nullptr), -1);
  EXPECT_EQ(M->Kernel().OpenHandleCount(), Handles);
}

}  // namespace
