#include <gtest/gtest.h>

#include <cstring>

#include "EngineTestUtil.h"
#include "VolumeTestUtil.h"
#include "engine/uVolumeBitmap.h"
#include "engine/uVolumeBitmapQuery.h"
#include "platform/WinFsControl.h"

using namespace plat;
using namespace plat::sim;

namespace {

std::vector<std::pair<uint64_t, uint64_t>> Pairs(const TTrimRangeArray& A) {
  std::vector<std::pair<uint64_t, uint64_t>> P;
  for (const TTrimRange& X : A) P.push_back({X.StartLba, X.SectorCount});
  return P;
}

class VolumeBitmapTest : public ::testing::Test {
 protected:
  ScopedSimMachine M;
  TRecordedLog Rec;
  TVolumeBitmapReader Reader{Rec.Log()};

  bool Read(char Letter, TTrimRangeArray& R, std::string& Msg) {
    return Reader.ReadFreeRanges(VolumeInfoOf(*M, Letter), R, Msg);
  }
};

// Every file system, sector size and cluster size: the free ranges are exactly the model's free
// clusters placed after the boot region and tables, and the volume's handles are all closed.
TEST_F(VolumeBitmapTest, FreeRangesMatchTheAllocationOnEveryLayout) {
  const SimFsKind Kinds[] = {SimFsKind::kFat32, SimFsKind::kExFat, SimFsKind::kNtfs};
  const uint32_t Sectors[] = {512, 4096};
  const uint32_t Clusters[] = {512, 4096, 65536};
  for (SimFsKind K : Kinds)
    for (uint32_t Bps : Sectors)
      for (uint32_t Cb : Clusters) {
        if (Cb < Bps) continue;
        SCOPED_TRACE(testing::Message() << "kind " << int(K) << " bps " << Bps << " cluster " << Cb);
        M->Storage().RemoveVolume('E');
        M->Storage().AddDisk(1, 300000);
        AddVolumeOnDisk(*M, 1, 300000, 'E', 1 << 20, 64ull << 20);
        M->Bridge().SetLogicalBlockSize(1, Bps);
        ASSERT_TRUE(FormatVolume(M->Storage(), 'E', K, Bps, Cb));
        const auto A = AllocateFile(M->Storage(), 'E', 5);
        const auto B = AllocateFile(M->Storage(), 'E', 7);
        AllocateFile(M->Storage(), 'E', 3);
        ASSERT_TRUE(ReleaseRuns(M->Storage(), 'E', B));
        ASSERT_TRUE(AllocateRuns(M->Storage(), 'E', {{20, 1}}));
        ASSERT_FALSE(A.empty());
        const size_t Handles = M->Kernel().OpenHandleCount();
        TTrimRangeArray R;
        std::string Msg;
        ASSERT_TRUE(Read('E', R, Msg)) << Msg;
        EXPECT_EQ(Msg, "ok");
        EXPECT_EQ(Pairs(R), Pairs(ExpectedFreeRanges(*M, 'E')));
        auto S = FsState(M->Storage(), 'E');
        const uint64_t HeapLba = 2048 + S->heapOffset * Bps / 512;
        ASSERT_FALSE(R.empty());
        EXPECT_GE(R.front().StartLba, HeapLba);
        EXPECT_LE(R.back().StartLba + R.back().SectorCount, 2048u + (64u << 11));
        EXPECT_EQ(M->Kernel().OpenHandleCount(), Handles);
      }
}

TEST_F(VolumeBitmapTest, LogsTheHeapOffsetOnlyForFatVolumes) {
  // A disk of 4096-byte sectors for E:, one of 512-byte sectors for F:.
  AddVolumeOnDisk(*M, 1, 300000, 'E', 1 << 20, 32ull << 20);
  AddVolumeOnDisk(*M, 2, 300000, 'F', 40ull << 20, 32ull << 20);
  M->Bridge().SetLogicalBlockSize(1, 4096);
  ASSERT_TRUE(FormatVolume(M->Storage(), 'E', SimFsKind::kFat32, 4096, 4096));
  ASSERT_TRUE(FormatVolume(M->Storage(), 'F', SimFsKind::kNtfs, 512, 4096));
  TTrimRangeArray R;
  std::string Msg;
  ASSERT_TRUE(Read('E', R, Msg));
  ASSERT_TRUE(Read('F', R, Msg));
  auto S = FsState(M->Storage(), 'E');
  // The heap counts 4096-byte sectors; the log and the placement count 512-byte blocks.
  const uint64_t Heap = S->heapOffset * 8;
  EXPECT_TRUE(Rec.Has({"[INFO] ClusterHeapOffset: " + std::to_string(Heap) + " sectors (E:)"}));
  EXPECT_FALSE(Rec.Has({"ClusterHeapOffset", "(F:)"}));
  EXPECT_TRUE(Rec.Has({"[INFO] Partition LBA boundary: start=81920 end=147456 (F:)"}));
}

// More clusters than one 1 MiB answer holds: the walk goes on with "more data", a free run across
// the answers' boundary stays one range, and the spare bits after the last cluster never count.
TEST_F(VolumeBitmapTest, WalksSeveralAnswersAndIgnoresTheSpareBits) {
  const uint64_t Per = (1048576 - 16) * 8;   // clusters in one answer
  const uint64_t Clusters = Per + 1000 + 5;  // not a multiple of 8
  AddVolumeOnDisk(*M, 1, Clusters + 100, 'E', 0, (Clusters + 1) * 512);
  ASSERT_TRUE(FormatVolume(M->Storage(), 'E', SimFsKind::kNtfs, 512, 512));
  auto S = FsState(M->Storage(), 'E');
  ASSERT_EQ(S->clusters, Clusters);
  ASSERT_TRUE(AllocateRuns(M->Storage(), 'E', {{0, S->clusters}}));
  ASSERT_TRUE(ReleaseRuns(M->Storage(), 'E', {{Per - 10, 30}, {Clusters - 3, 2}}));
  S->spareBits = 0x00;  // undefined: here they read as free
  TTrimRangeArray R;
  std::string Msg;
  ASSERT_TRUE(Read('E', R, Msg)) << Msg;
  EXPECT_EQ(Pairs(R), (std::vector<std::pair<uint64_t, uint64_t>>{{Per - 10, 30}, {Clusters - 3, 2}}));
  EXPECT_EQ(S->bitmapRequests, 2);

  // Free up to the last cluster: the run stops at the volume's end, not at the byte's.
  ASSERT_TRUE(ReleaseRuns(M->Storage(), 'E', {{Clusters - 1, 1}}));
  ASSERT_TRUE(Read('E', R, Msg)) << Msg;
  EXPECT_EQ(R.back().StartLba + R.back().SectorCount, Clusters);
}

TEST_F(VolumeBitmapTest, FailuresTable) {
  struct Case {
    const char* Name;
    SimFsKind Kind;
    DWORD Error;
    int From;
    std::string Msg;
  };
  const Case Cases[] = {
      {"NTFS refused", SimFsKind::kNtfs, ERROR_ACCESS_DENIED, 1,
       "FSCTL_GET_VOLUME_BITMAP failed: " + WinErrorText(ERROR_ACCESS_DENIED)},
      {"exFAT refused", SimFsKind::kExFat, ERROR_INVALID_FUNCTION, 1,
       "exFAT bitmap extraction failed: free-space mode unavailable"},
      {"FAT32 refused", SimFsKind::kFat32, ERROR_NOT_SUPPORTED, 1,
       "FAT32 bitmap extraction failed on current storage stack"},
      {"second answer fails", SimFsKind::kNtfs, ERROR_IO_DEVICE, 2,
       "FSCTL_GET_VOLUME_BITMAP failed: " + WinErrorText(ERROR_IO_DEVICE)},
  };
  for (const Case& C : Cases) {
    M->Storage().AddDisk(1, 9000000);
    AddVolumeOnDisk(*M, 1, 9000000, 'E', 1 << 20, 8900000ull * 512);
    ASSERT_TRUE(FormatVolume(M->Storage(), 'E', C.Kind, 512, 512));
    M->Storage().AddVolumeFault('E', fsc::FSCTL_GET_VOLUME_BITMAP, SimOutcome::Error(C.Error),
                                {.nth = C.From, .times = -1});
    TTrimRangeArray R;
    std::string Msg;
    EXPECT_FALSE(Read('E', R, Msg)) << C.Name;
    EXPECT_EQ(Msg, C.Msg) << C.Name;
  }
}

TEST_F(VolumeBitmapTest, RefusesWhatItCannotPlace) {
  AddVolumeOnDisk(*M, 1, 300000, 'E', 1 << 20, 32ull << 20);
  ASSERT_TRUE(FormatVolume(M->Storage(), 'E', SimFsKind::kExFat, 512, 4096));
  TTrimRangeArray R;
  std::string Msg;

  TVolumeInfo Spanned = VolumeInfoOf(*M, 'E');
  Spanned.ExtentCount = 2;
  EXPECT_FALSE(Reader.ReadFreeRanges(Spanned, R, Msg));
  EXPECT_NE(Msg.find("extents"), std::string::npos) << Msg;

  TVolumeInfo Fat16 = VolumeInfoOf(*M, 'E');
  Fat16.FileSystem = "FAT16";
  EXPECT_FALSE(Reader.ReadFreeRanges(Fat16, R, Msg));
  EXPECT_EQ(Msg, "Only NTFS/exFAT/FAT32 support FSCTL_GET_VOLUME_BITMAP path");

  TVolumeInfo Lower = VolumeInfoOf(*M, 'E');
  Lower.FileSystem = "exfat";
  EXPECT_TRUE(Reader.ReadFreeRanges(Lower, R, Msg)) << Msg;

  TVolumeInfo Missing = VolumeInfoOf(*M, 'E');
  Missing.DriveLetter = "Q:";
  EXPECT_FALSE(Reader.ReadFreeRanges(Missing, R, Msg));
  EXPECT_EQ(Msg, "Open volume failed: " + WinErrorText(ERROR_FILE_NOT_FOUND));

  TVolumeInfo Zero = VolumeInfoOf(*M, 'E');
  Zero.ClusterBytes = 0;
  EXPECT_FALSE(Reader.ReadFreeRanges(Zero, R, Msg));
  EXPECT_EQ(Msg, "Cluster size is zero");

  // A boot sector that no longer reads as exFAT: no heap offset, so nothing is placed at all
  // (placing from the volume start would hand the boot region and the FAT to TRIM).
  std::vector<uint8_t> Zeros(512, 0);
  M->Storage().Disk(1)->drive.Write(2048, 1, Zeros.data());
  EXPECT_EQ(GetClusterHeapOffset("E:", "exFAT"), 0);
  EXPECT_FALSE(Reader.ReadFreeRanges(VolumeInfoOf(*M, 'E'), R, Msg));
  EXPECT_NE(Msg.find("Cluster heap offset could not be read (E:)"), std::string::npos) << Msg;
}

TEST_F(VolumeBitmapTest, HeapOffsetIsScaledToBlocks) {
  AddVolumeOnDisk(*M, 1, 300000, 'E', 1 << 20, 64ull << 20);
  AddVolumeOnDisk(*M, 1, 300000, 'F', 70ull << 20, 64ull << 20);
  AddVolumeOnDisk(*M, 2, 300000, 'G', 140ull << 20, 4ull << 20);
  M->Bridge().SetLogicalBlockSize(1, 4096);
  ASSERT_TRUE(FormatVolume(M->Storage(), 'E', SimFsKind::kExFat, 4096, 32768));
  ASSERT_TRUE(FormatVolume(M->Storage(), 'F', SimFsKind::kFat32, 4096, 4096));
  ASSERT_TRUE(FormatVolume(M->Storage(), 'G', SimFsKind::kNtfs, 512, 4096));
  EXPECT_EQ(GetClusterHeapOffset("E:", "EXFAT"), static_cast<int64_t>(FsState(M->Storage(), 'E')->heapOffset * 8));
  EXPECT_EQ(GetClusterHeapOffset("F:", "FAT32"), static_cast<int64_t>(FsState(M->Storage(), 'F')->heapOffset * 8));
  EXPECT_EQ(GetClusterHeapOffset("G:", "NTFS"), 0);
}

// Answers that break Windows' rules end the walk instead of being guessed at.
TEST_F(VolumeBitmapTest, InconsistentAnswersEndTheWalk) {
  AddVolumeOnDisk(*M, 1, 300000, 'E', 1 << 20, 32ull << 20);
  ASSERT_TRUE(FormatVolume(M->Storage(), 'E', SimFsKind::kNtfs, 512, 4096));
  struct Case {
    const char* Name;
    uint64_t Start, Size;
    DWORD Bytes;
    bool More;
    TBitmapQueryFault Want;
  };
  const Case Cases[] = {
      {"start moved up", 8, 100, 16 + 13, false, TBitmapQueryFault::bqBadAnswer},
      {"cut without more data", 0, 100, 16 + 4, false, TBitmapQueryFault::bqBadAnswer},
      {"header only", 0, 100, 16, true, TBitmapQueryFault::bqShortAnswer},
      {"longer than the buffer", 0, 100, 2000000, false, TBitmapQueryFault::bqBadAnswer},
  };
  for (const Case& C : Cases) {
    M->Storage().RegisterIoctl(fsc::FSCTL_GET_VOLUME_BITMAP, [&C](SimDeviceCall& Call) {
      auto* Out = static_cast<uint8_t*>(Call.out);
      std::memset(Out, 0, 16);
      for (int i = 0; i < 8; ++i) Out[i] = static_cast<uint8_t>(C.Start >> (8 * i));
      for (int i = 0; i < 8; ++i) Out[8 + i] = static_cast<uint8_t>(C.Size >> (8 * i));
      Call.SetReturned(C.Bytes);
      if (C.More) {
        SimSetLastError(ERROR_MORE_DATA);
        return FALSE_;
      }
      return TRUE_;
    });
    HANDLE H = Win().CreateFileW("\\\\.\\E:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    TVolumeBitmapQuery Q(H);
    TBitmapChunk Chunk;
    EXPECT_FALSE(Q.Next(Chunk)) << C.Name;
    EXPECT_EQ(Q.Fault(), C.Want) << C.Name;
    Win().CloseHandle(H);
  }
}

}  // namespace
