// The real test on a real simulated volume: the test files live on E:, an NTFS or FAT32 volume
// of the disk whose free space the nested runs trim, written and read unbuffered in the volume's
// sectors. The file maps carry the files' sectors, step 2 frees exactly the rows marked Y, and
// the drive's ledger shows their clusters trimmed and no live file touched.
#include <gtest/gtest.h>

#include "engine/VolumeTestUtil.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/files/SimVolumeFiles.h"
#include "realtest/RealTestUtil.h"
#include "realtest/uFileMap.h"
#include "realtest/uRealTrimTest.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr int kDiskNo = 3;
constexpr uint64_t kVolBytes = 48ull << 20;
constexpr int64_t kMiB = 1048576;
const TRealTestFileSizes kFiles{kMiB, 2 * kMiB};

struct VolumeTest : ::testing::Test, TRealTestFixture {
  TDiskInfo disk;
  std::shared_ptr<SimDisk> simDisk;

  void Volume(SimFsKind Kind, uint64_t VolBytes = kVolBytes) {
    simDisk = m->Storage().AddDisk(kDiskNo, (VolBytes >> 9) + 4096);
    ASSERT_NE(m->VolumeFiles().AddVolume('E', kDiskNo, 1 << 20, VolBytes, Kind, 4096), nullptr);
    m->VolumeFiles().SetCacheLimit('E', 0);  // nothing read back can come from a cache
    disk.DiskNumber = kDiskNo;
    disk.DevicePath = "\\\\.\\PhysicalDrive3";
    disk.SizeBytes = ((VolBytes >> 9) + 4096) * 512;
    disk.Transport = TTransportKind::tkUAS;
    disk.Volumes.push_back(VolumeInfoOf(*m, 'E'));
  }
  TRealTestOutcome Run(int Start, int End, const TRealTestFileSizes& Sizes = kFiles) {
    return RunToEnd(new TRealTrimTestThread(&window, disk, "E:\\trim_real_test", TRealTestOptions{0, Start, End},
                                            TTrimExecOptions{.TimeoutMs = 5000}, false, Sizes));
  }
  std::string File(int N) { return "E:\\trim_real_test\\file_" + std::to_string(N) + ".bin"; }
  // The file's first and last disk sector from its runs on the volume.
  std::pair<uint64_t, uint64_t> Span(const SimClusterRuns& Runs) {
    const TSectorGeometry g = SectorGeometryOf(disk.Volumes[0]);
    const auto& last = Runs.back();
    return {g.PartStart + g.HeapOffset + Runs.front().first * g.SectorsPerCluster,
            g.PartStart + g.HeapOffset + (last.first + last.second) * g.SectorsPerCluster - 1};
  }
  std::vector<std::string> CsvLines(const char* Name) {
    const std::string b = m->Files().ReadAll(std::string(kRealTestOutputDir) + Name);
    std::vector<std::string> r;
    for (size_t at = 0; at < b.size();) {
      const size_t e = b.find("\r\n", at);
      r.push_back(b.substr(at, e - at));
      at = e + 2;
    }
    return r;
  }
};

struct VolumeKindTest : VolumeTest, ::testing::WithParamInterface<SimFsKind> {};

TEST_P(VolumeKindTest, FiveStepsMapDeleteAndTrimExactlyTheMarkedFiles) {
  Volume(GetParam());
  std::vector<SimClusterRuns> runs;
  size_t trimsBeforeStep2 = 0;
  window.OnEvent = [&](const std::string& e) {
    // Just before step 2 deletes them: where the files lie, and what was trimmed so far.
    if (e == "status: STEP2") {
      for (int i = 0; m->VolumeFiles().Exists(File(i)); ++i) runs.push_back(m->VolumeFiles().Runs(File(i)));
      trimsBeforeStep2 = simDisk->drive.Ledger().size();
    }
  };
  const TRealTestOutcome r = Run(1, 5);
  EXPECT_TRUE(r.Succeeded) << r.ResultText;
  EXPECT_EQ(r.ResultText, "STEP5 complete: Verification passed");
  ASSERT_GE(runs.size(), 10u);
  const auto created = CsvLines("created_files.csv");
  ASSERT_EQ(created.size(), runs.size() + 1);
  for (size_t i = 1; i < created.size(); ++i) {
    const int index = static_cast<int>(i - 1);
    const auto [first, last] = Span(runs[index]);
    EXPECT_EQ(created[i], std::to_string(index) + "," + File(index) + "," + std::to_string(first) + "," +
                              std::to_string(last) + ((index + 1) % 10 == 0 ? ",Y" : ","));
  }
  // The rows marked Y are exactly the files step 2 deleted.
  const auto deleted = CsvLines("deleted_files.csv");
  ASSERT_EQ(deleted.size(), 2u);
  const auto [f9, l9] = Span(runs[9]);
  EXPECT_EQ(deleted[1], "9," + File(9) + "," + std::to_string(f9) + "," + std::to_string(l9));
  for (size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(m->VolumeFiles().Exists(File(int(i))), i != 9) << i;
  // Step 2's TRIM released the deleted file's sectors and never a sector of a file still there.
  const auto ledger = simDisk->drive.Ledger();
  bool freedTrimmed = false;
  for (size_t k = trimsBeforeStep2; k < ledger.size(); ++k) {
    const SimTrimRecord& t = ledger[k];
    if (t.lba <= f9 && t.lba + t.count > f9) freedTrimmed = true;
    for (size_t i = 0; i < runs.size(); ++i) {
      if (i == 9) continue;
      for (const auto& run : runs[i]) {
        const auto [f, l] = Span({run});
        EXPECT_FALSE(t.lba <= l && t.lba + t.count > f) << "a live file's sectors were trimmed: " << File(int(i));
      }
    }
  }
  EXPECT_TRUE(freedTrimmed);
}

INSTANTIATE_TEST_SUITE_P(Kinds, VolumeKindTest, ::testing::Values(SimFsKind::kNtfs, SimFsKind::kFat32),
                         [](const ::testing::TestParamInfo<SimFsKind>& i) {
                           return i.param == SimFsKind::kNtfs ? std::string("NTFS") : std::string("FAT32");
                         });

// A span is checked against the volume as the disk list holds it: clusters past its listed end
// are a failed lookup, told by ERROR_INVALID_DATA, never sectors of whatever lies beyond.
TEST_F(VolumeTest, AnExtentPastTheListedVolumeIsAFailedLookup) {
  Volume(SimFsKind::kNtfs);
  ASSERT_TRUE(m->VolumeFiles().WriteAll("E:\\f.bin", std::string(256 * 1024, 'x')));
  const SimClusterRuns runs = m->VolumeFiles().Runs("E:\\f.bin");
  ASSERT_EQ(runs.size(), 1u);
  TSectorGeometry g = SectorGeometryOf(disk.Volumes[0]);
  uint64_t first = 0, last = 0;
  ASSERT_TRUE(GetFileSectorRange("E:\\f.bin", g, first, last));
  EXPECT_EQ(std::make_pair(first, last), Span(runs));
  // The listed volume ends one cluster before the file does.
  g.PartSectors = last + 1 - g.PartStart - g.SectorsPerCluster;
  Win().SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(GetFileSectorRange("E:\\f.bin", g, first, last));
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(last, 0u);
  EXPECT_EQ(Win().GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  g.PartSectors += g.SectorsPerCluster;
  EXPECT_TRUE(GetFileSectorRange("E:\\f.bin", g, first, last));
}

TEST_F(VolumeTest, AVerificationReadsTheDriveNotWhatAnEarlierReadLeftInTheCache) {
  // The cache holds the whole volume: whatever a verification read through it would stay.
  Volume(SimFsKind::kNtfs);
  m->VolumeFiles().SetCacheLimit('E', 2 * kVolBytes);
  EXPECT_TRUE(Run(1, 4).Succeeded);
  // The drive then loses the first cluster of a live file (a bridge that trims what it should
  // not): a later verification must see it.
  const auto [first, last] = Span(m->VolumeFiles().Runs(File(0)));
  ASSERT_TRUE(simDisk->drive.Trim(first, 8, "STORAGE TRIM"));
  window.Events.clear();
  const TRealTestOutcome r =
      RunToEnd(new TRealTrimTestThread(&window, disk, "E:\\trim_real_test", TRealTestOptions{0, 1, 4},
                                       TTrimExecOptions{.TimeoutMs = 5000}, true, kFiles));
  EXPECT_FALSE(r.Succeeded);
  EXPECT_EQ(r.ResultText, "Verification complete: Failures found");
  EXPECT_TRUE(window.Logged("Verification failed: CRC mismatch - " + File(0)));
  EXPECT_EQ(m->VolumeFiles().CacheBytes('E'), 0u);
}

struct SmallVolumeTest : VolumeTest, ::testing::WithParamInterface<SimFsKind> {};

TEST_P(SmallVolumeTest, AllFiveStepsPassOnAVolumeWithNoRoomForAOneGigFile) {
  // A 2 GiB volume at a 64th of its size, test files too: step 1 writes two 500 MiB files,
  // which leaves less than 1 GiB and a bit to step 3, whose one file is cut to that bit.
  const TRealTestFileSizes sizes{524288000 / 64, 1073741824 / 64};
  Volume(GetParam(), 2048ull * kMiB / 64);
  const TRealTestOutcome r = Run(1, 5, sizes);
  EXPECT_TRUE(r.Succeeded) << r.ResultText;
  EXPECT_EQ(r.ResultText, "STEP5 complete: Verification passed");
  EXPECT_TRUE(window.Logged("STEP4 complete: Verification passed | Verified 2 files: 2 passed, 0 failed"));
  EXPECT_TRUE(window.Logged("STEP5 complete: Verification passed | Verified 1 files: 1 passed, 0 failed"));
  // The cut file holds the target, to its last whole 4096-byte block.
  int64_t target = -1;
  for (const std::string& l : window.Of("log: "))
    if (l.rfind("STEP3: Filling ~", 0) == 0) {
      std::string digits;
      for (char ch : l.substr(16, l.find(' ', 16) - 16))
        if (ch != ',') digits += ch;
      target = std::stoll(digits);
    }
  ASSERT_GT(target, 0);
  ASSERT_LT(target, sizes.GigFileBytes);
  EXPECT_EQ(static_cast<int64_t>(m->VolumeFiles().ReadAll("E:\\trim_real_test\\dumy\\gig_0.bin").size()),
            target / 4096 * 4096);
  EXPECT_FALSE(m->VolumeFiles().Exists("E:\\trim_real_test\\dumy\\gig_1.bin"));
  // A later test that starts at step 5 finds the cut file at its size and passes it.
  window.Events.clear();
  const TRealTestOutcome again = Run(5, 5, sizes);
  EXPECT_TRUE(again.Succeeded) << again.ResultText;
  EXPECT_TRUE(window.Logged("STEP5 complete: Verification passed | Verified 1 files: 1 passed, 0 failed"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, SmallVolumeTest, ::testing::Values(SimFsKind::kExFat, SimFsKind::kFat32),
                         [](const ::testing::TestParamInfo<SimFsKind>& i) {
                           return i.param == SimFsKind::kExFat ? std::string("exFAT") : std::string("FAT32");
                         });

TEST_F(VolumeTest, AFileOfMoreThan255ExtentsHasNoCreatedRowAndZerosWhenDeleted) {
  Volume(SimFsKind::kNtfs);
  m->VolumeFiles().SetAllocation('E', 1, 1);  // every cluster a run of its own: 256 per MiB
  const TRealTestOutcome r = Run(1, 2);
  EXPECT_TRUE(r.Succeeded);
  EXPECT_EQ(CsvLines("created_files.csv").size(), 1u);
  EXPECT_TRUE(window.Logged("CSV: physical address lookup failed idx=0 " + File(0) + " (err=234)"));
  const auto deleted = CsvLines("deleted_files.csv");
  ASSERT_EQ(deleted.size(), 2u);
  EXPECT_EQ(deleted[1], "9," + File(9) + ",0,0");
}

}  // namespace
