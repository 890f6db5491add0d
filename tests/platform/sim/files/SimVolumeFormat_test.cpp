// The file-system layouts the simulated machine writes and mounts.
#include "platform/sim/files/SimVolumeFormat.h"

#include <gtest/gtest.h>

#include "HostTools.h"
#include "platform/sim/SimMachine.h"

using namespace plat;
using namespace plat::sim;

namespace {

// Windows mounts a file system only in the sectors the disk presents: a boot sector that names
// another sector size leaves the volume RAW.
TEST(SimVolumeFormat, AVolumeLaidOutInAnotherSectorSizeThanTheDisksIsRaw) {
  for (const auto& [made, presented] : {std::pair{4096u, 512u}, std::pair{512u, 4096u}}) {
    for (SimFsKind kind : {SimFsKind::kFat32, SimFsKind::kExFat, SimFsKind::kNtfs}) {
      SCOPED_TRACE(testing::Message() << int(kind) << " made " << made << " presented " << presented);
      ScopedSimMachine m;
      m->Storage().AddDisk(1, 1 << 18);
      m->Storage().AddVolume('E', {{1, 1 << 20, 64 << 20}});
      m->Bridge().SetLogicalBlockSize(1, presented);
      EXPECT_FALSE(FormatVolume(m->Storage(), 'E', kind, made, 4096));  // Windows formats in the disk's sectors
      m->Bridge().SetLogicalBlockSize(1, made);
      ASSERT_TRUE(FormatVolume(m->Storage(), 'E', kind, made, 4096));
      std::string why;
      ASSERT_TRUE(MountVolume(m->Storage(), 'E', &why)) << why;

      m->Bridge().SetLogicalBlockSize(1, presented);
      EXPECT_FALSE(MountVolume(m->Storage(), 'E', &why));
      EXPECT_EQ(FsState(m->Storage(), 'E'), nullptr);
      std::string fs;
      EXPECT_FALSE(Win().GetVolumeInformationW("E:\\", nullptr, 0, nullptr, nullptr, nullptr, &fs, 16));
      EXPECT_EQ(Win().GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
    }
  }
}

// What the formatter writes is what the file-system checkers of the host accept, at every
// sector size, and what the mount reads back: the same allocation, from the on-disk structures.
TEST(SimVolumeFormat, FreshVolumesPassTheCheckersAndMountAgain) {
  struct Case {
    SimFsKind kind;
    const char* tool;
    uint32_t bps, cluster;
  };
  const Case cases[] = {
      {SimFsKind::kFat32, "fsck.fat", 512, 4096},   {SimFsKind::kFat32, "fsck.fat", 4096, 4096},
      {SimFsKind::kExFat, "fsck.exfat", 512, 4096}, {SimFsKind::kExFat, "fsck.exfat", 4096, 32768},
      {SimFsKind::kNtfs, nullptr, 512, 4096},       {SimFsKind::kNtfs, nullptr, 4096, 8192}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.kind) << " " << c.bps << " " << c.cluster);
    ScopedSimMachine m;
    m->Storage().AddDisk(1, 1 << 18);
    m->Storage().AddVolume('E', {{1, 1 << 20, 96 << 20}});
    m->Bridge().SetLogicalBlockSize(1, c.bps);
    ASSERT_TRUE(FormatVolume(m->Storage(), 'E', c.kind, c.bps, c.cluster));
    ASSERT_TRUE(AllocateRuns(m->Storage(), 'E', {{100, 7}}));
    const std::vector<uint8_t> bitmap = FsState(m->Storage(), 'E')->bitmap;
    std::string why;
    ASSERT_TRUE(MountVolume(m->Storage(), 'E', &why)) << why;
    EXPECT_EQ(FsState(m->Storage(), 'E')->bitmap, bitmap);
    ASSERT_TRUE(ReleaseRuns(m->Storage(), 'E', {{100, 7}}));
    if (!c.tool || !hosttools::OnPath(c.tool)) continue;
    hosttools::TempFile image;
    ASSERT_TRUE(SaveImageFile(m->Storage(), 'E', image.path));
    std::string out;
    EXPECT_EQ(hosttools::Run(std::string(c.tool) + " -n " + image.path, &out), 0) << out;
  }
}

}  // namespace
