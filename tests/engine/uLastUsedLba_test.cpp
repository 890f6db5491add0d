#include <gtest/gtest.h>

#include "EngineTestUtil.h"
#include "VolumeTestUtil.h"
#include "base/uByteOrder.h"
#include "engine/uLastUsedLba.h"
#include "platform/WinFsControl.h"

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
    Format(SimFsKind::kNtfs, 512, 4096);
    M->Storage().AddVolumeFault('E', fsc::FSCTL_GET_VOLUME_BITMAP, SimOutcome::Error(ERROR_IO_DEVICE));
    EXPECT_EQ(Last(), -1) << "bitmap request fails";
  }
  {
    Format(SimFsKind::kNtfs, 512, 4096);
    M->Storage().AddVolumeFault('E', fsc::FSCTL_GET_NTFS_VOLUME_DATA, SimOutcome::Error(ERROR_INVALID_FUNCTION));
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

// The last used block never lies past the volume: a file system that counts more clusters than
// its partition holds (or a partition of unknown length) gives -1, on every file system.
TEST_F(LastUsedLbaTest, NeverPastThePartition) {
  for (SimFsKind Kind : {SimFsKind::kFat32, SimFsKind::kExFat, SimFsKind::kNtfs}) {
    SCOPED_TRACE(int(Kind));
    auto S = Format(Kind, 512, 4096);
    ASSERT_TRUE(AllocateRuns(M->Storage(), 'E', {{10, 1}}));
    TVolumeInfo V = VolumeInfoOf(*M, 'E');
    EXPECT_GT(FindLastUsedLbaForVolume(V, nullptr), 2048);
    V.PartitionLength -= 32 << 20;  // the data that is used still lies inside it
    EXPECT_EQ(FindLastUsedLbaForVolume(V, nullptr), -1);
    V.PartitionLength = 0;
    EXPECT_EQ(FindLastUsedLbaForVolume(V, nullptr), -1);
  }
}

// A 16-sector NTFS volume whose driver reports 2^20 clusters of 512 bytes, none in use: counted
// as the whole volume, that was block 39064 + 1048576 - 1, far past the volume's end.
TEST_F(LastUsedLbaTest, AnNtfsDriverThatCountsPastItsVolume) {
  constexpr uint64_t kStart = 39064;
  M->Discovery().AddDisk(1, 4ull << 30, presets::BotEnclosure());
  M->Discovery().AddVolume('E', 1, kStart * 512, 16 * 512, "NTFS", 512);
  uint64_t Clusters = 0;
  M->Storage().RegisterIoctl(fsc::FSCTL_GET_NTFS_VOLUME_DATA, [&](SimDeviceCall& C) {
    TByteWriter W({static_cast<uint8_t*>(C.out), fsc::kNtfsVolumeDataSize});
    W.Zero();
    W.LE64(fsc::kNtfsTotalClustersAt, Clusters);
    W.LE32(fsc::kNtfsBytesPerClusterAt, 512);
    C.SetReturned(fsc::kNtfsVolumeDataSize);
    return TRUE_;
  });
  M->Storage().RegisterIoctl(fsc::FSCTL_GET_VOLUME_BITMAP, [&](SimDeviceCall& C) {
    const uint64_t Bytes = (Clusters + 7) / 8;
    if (C.outSize < 16 + Bytes) return FALSE_;
    TByteWriter W({static_cast<uint8_t*>(C.out), 16 + Bytes});
    W.Zero();
    W.LE64(8, Clusters);
    C.SetReturned(static_cast<DWORD>(16 + Bytes));
    return TRUE_;
  });
  const TVolumeInfo V = VolumeInfoOf(*M, 'E');
  Clusters = 1 << 20;
  EXPECT_EQ(FindLastUsedLbaForVolume(V, Rec.Log()), -1);
  EXPECT_FALSE(Rec.Has({"LastUsedLba="}));
  Clusters = 16;
  EXPECT_EQ(FindLastUsedLbaForVolume(V, Rec.Log()), static_cast<int64_t>(kStart + 16 - 1));
}

}  // namespace
