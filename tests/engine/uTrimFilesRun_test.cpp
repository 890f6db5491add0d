// The free-space run over a volume that holds real files, written and some deleted through the
// file calls: the planner reads the volume bitmap the files keep, the run releases exactly the
// free clusters and no sector of a file, and every file still reads back as written. On each
// file system, behind bridges of 512- and 4096-byte logical blocks.
#include <gtest/gtest.h>

#include "VolumeTestUtil.h"
#include "engine/TrimRunTestUtil.h"
#include "engine/uTrimPlanner.h"
#include "platform/sim/files/SimVolumeFiles.h"
#include "platform/sim/files/VolumeFilesTestUtil.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr int kDiskNo = 2;
constexpr uint64_t kVolStart = 2048;          // sectors
constexpr uint64_t kVolBytes = 160ull << 20;  // the volume
constexpr uint64_t kDiskSectors = (200ull << 20) / 512;

struct Case {
  const char* name;
  SimFsKind kind;
  SimBridgeProfile bridge;
  const char* command;  // what the drive's ledger shows released them
};

std::ostream& operator<<(std::ostream& o, const Case& c) { return o << c.name; }

struct FilesRunTest : ::testing::TestWithParam<Case>, TRunFixture {};

TEST_P(FilesRunTest, ReleasesExactlyTheFreeClustersAndEveryFileStaysWhole) {
  const Case& c = GetParam();
  auto simDisk = m->Storage().AddDisk(kDiskNo, kDiskSectors);
  m->Bridge().SetProfile(kDiskNo, c.bridge);
  ASSERT_NE(m->VolumeFiles().AddVolume('E', kDiskNo, kVolStart * 512, kVolBytes, c.kind), nullptr);
  m->VolumeFiles().SetAllocation('E', 300, 7);  // fragmented files, free space between their runs
  ASSERT_TRUE(Win().CreateDirectoryW("E:\\trim_real_test"));
  ASSERT_TRUE(Win().CreateDirectoryW("E:\\trim_real_test\\batch_1"));
  struct File {
    std::string path;
    uint32_t seed;
    uint64_t size;
  };
  std::vector<File> kept;
  for (uint32_t i = 0; i < 24; ++i) {
    const std::string folder = i < 20 ? "E:\\trim_real_test\\" : "E:\\trim_real_test\\batch_1\\";
    const File f{folder + "file_" + std::to_string(i) + ".bin", 1000 + i, (3ull << 20) + i * 4096};
    ASSERT_EQ(volfiles::WriteStreamFile(f.path, f.seed, f.size), 0u) << f.path;
    kept.push_back(f);
  }
  for (size_t i = kept.size(); i-- > 0;)
    if (i % 3 == 1) {
      ASSERT_TRUE(Win().DeleteFileW(kept[i].path));
      kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(i));
    }

  TDiskInfo disk = RunTestDisk(kDiskNo);
  disk.SizeBytes = kDiskSectors * 512;
  disk.Volumes.push_back(VolumeInfoOf(*m, 'E'));
  TTrimRangeArray plan;
  std::string msg;
  ASSERT_TRUE(TTrimPlanner(&log).GeneratePlan(disk, TTrimMode::tmFreeSpace, plan, msg)) << msg;
  const std::vector<std::pair<uint64_t, uint64_t>> free = FreeDiskRanges(m->Storage(), 'E');
  ASSERT_GT(free.size(), 20u);

  TRunStats stats;
  int done = 0;
  auto* run = new TTrimExecutionThread(disk, plan, TTrimMode::tmFreeSpace, TTrimExecOptions{.TimeoutMs = 5000},
                                       TRunMode::rmExecute, &log, nullptr, [&](const TRunStats& s) {
                                         stats = s;
                                         ++done;
                                       });
  TThreadLink link = run->Link();
  run->Start();
  ASSERT_TRUE(link.WaitFor());
  ASSERT_EQ(done, 1);
  EXPECT_EQ(stats.FailedBatches, 0);
  EXPECT_GT(stats.SucceededBatches, 0);

  EXPECT_EQ(simDisk->drive.TrimmedRanges(), free);
  for (const SimTrimRecord& r : simDisk->drive.Ledger()) EXPECT_EQ(r.command, c.command);
  ExpectNothingReleasedOver(simDisk->drive, InUseBetween(free, kVolStart, kVolStart + kVolBytes / 512));
  for (const File& f : kept)
    EXPECT_EQ(volfiles::FileHash(f.path), volfiles::ExpectedHash(f.seed, f.size)) << f.path;
}

SimBridgeProfile FullSat4Kn() {
  SimBridgeProfile p = SimBridgeProfile::FullSat();
  p.logicalBlockSize = 4096;
  return p;
}

SimBridgeProfile UasUnmapOnly(uint32_t blockSize) {
  SimBridgeProfile p = blockSize == 4096 ? SimBridgeProfile::Uas4Kn() : SimBridgeProfile::UasUnmap(0, 0);
  p.storageTrimError = ERROR_INVALID_FUNCTION;  // so that the raw UNMAP carries it
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, FilesRunTest,
    ::testing::Values(Case{"Fat32", SimFsKind::kFat32, SimBridgeProfile::FullSat(), "STORAGE TRIM"},
                      Case{"ExFat", SimFsKind::kExFat, SimBridgeProfile::FullSat(), "STORAGE TRIM"},
                      Case{"Ntfs", SimFsKind::kNtfs, SimBridgeProfile::FullSat(), "STORAGE TRIM"},
                      Case{"Fat32On4Kn", SimFsKind::kFat32, FullSat4Kn(), "STORAGE TRIM"},
                      // The run sends no raw UNMAP through a bridge of 4096-byte blocks.
                      Case{"ExFatOn4KnUasGoesToAta", SimFsKind::kExFat, UasUnmapOnly(4096), "ATA DSM"},
                      Case{"ExFatBehindBotAta", SimFsKind::kExFat, SimBridgeProfile::BotAtaOnly(), "ATA DSM"},
                      Case{"ExFatByUnmap", SimFsKind::kExFat, UasUnmapOnly(512), "UNMAP"}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
