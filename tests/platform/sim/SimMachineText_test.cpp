#include "platform/sim/SimMachineText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/uDiskEnum.h"
#include "platform/WinStorage.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/files/SimVolumeFormat.h"

using namespace plat;
using namespace plat::sim;

namespace {

constexpr uint64_t kMiB = 1048576ull, kGiB = 1024 * kMiB;

TEST(SimMachineText, ReadsDisksAndVolumesWithTheirDefaults) {
  const std::string text =
      "# comment line\r\n"
      "\n"
      "disk 3 uas size=64G bridge=uas-4k product=\"USB 3.1 Enclosure\" serial=S123 table=mbr  # trailing\r\n"
      "volume g fs=fat32 size=8G\n"
      "volume H fs=exfat cluster=64K\n"
      "disk 1 usb-hdd size=1T model=\"WDC WD10\" rpm=7200 identify-ms=40 speed=steady write-mbps=120\n"
      "volume E fs=raw size=1G offset=2M\n";
  SimMachinePlan plan;
  std::string error;
  ASSERT_TRUE(ParseMachineText(text, &plan, &error)) << error;
  ASSERT_EQ(plan.disks.size(), 2u);

  const SimDiskPlan& uas = plan.disks[0];
  EXPECT_EQ(uas.line, 3);
  EXPECT_EQ(uas.number, 3);
  EXPECT_EQ(uas.sizeBytes, 64 * kGiB);
  EXPECT_EQ(uas.description.product, "USB 3.1 Enclosure");
  EXPECT_EQ(uas.description.enumerator, "SCSI");  // the UAS preset
  EXPECT_TRUE(uas.description.mbrPartitionTable);
  EXPECT_EQ(uas.bridge.logicalBlockSize, 4096u);
  EXPECT_EQ(uas.identity.model, "USB 3.1 Enclosure");  // the product when no model is named
  EXPECT_EQ(uas.identity.serial, "S123");
  ASSERT_EQ(uas.volumes.size(), 2u);
  EXPECT_EQ(uas.volumes[0].letter, 'G');
  EXPECT_EQ(uas.volumes[0].fileSystem, "FAT32");
  EXPECT_EQ(uas.volumes[0].offsetBytes, kMiB);
  EXPECT_EQ(uas.volumes[0].sizeBytes, 8 * kGiB);
  EXPECT_EQ(uas.volumes[0].clusterBytes, 4096u);
  // The next volume follows the first and takes the rest, the last MiB left to the GPT backup.
  EXPECT_EQ(uas.volumes[1].offsetBytes, kMiB + 8 * kGiB);
  EXPECT_EQ(uas.volumes[1].sizeBytes, 64 * kGiB - 2 * kMiB - 8 * kGiB);
  EXPECT_EQ(uas.volumes[1].clusterBytes, 65536u);
  EXPECT_EQ(uas.speed.name, SimDriveSpeed::Instant().name);

  const SimDiskPlan& hdd = plan.disks[1];
  EXPECT_TRUE(hdd.description.seekPenalty);
  EXPECT_EQ(hdd.bridge.name, SimBridgeProfile::BotAtaOnly().name);
  EXPECT_FALSE(hdd.identity.trimSupported);
  EXPECT_EQ(hdd.identity.rotationRate, 7200);
  EXPECT_EQ(hdd.identity.answerDelayMs, 40u);
  EXPECT_EQ(hdd.identity.model, "WDC WD10");
  EXPECT_EQ(hdd.speed.writeMBps, 120);
  EXPECT_EQ(hdd.speed.readMBps, SimDriveSpeed::NeverSlows().readMBps);
  ASSERT_EQ(hdd.volumes.size(), 1u);
  EXPECT_EQ(hdd.volumes[0].fileSystem, "");
  EXPECT_EQ(hdd.volumes[0].offsetBytes, 2 * kMiB);
}

TEST(SimMachineText, ABadLineIsNamedByItsNumber) {
  const std::string disk = "disk 1 bot size=64G\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"\n\ndisc 1 bot size=1G\n", "line 3: unknown keyword 'disc'"},
      {"volume E\n", "line 1: a volume line comes after the line of its disk"},
      {"disk 1 floppy size=1G\n", "line 1: unknown preset 'floppy'"},
      {"disk 32 bot size=1G\n", "line 1: disk number '32' is not 0 to 31"},
      {"disk 1\n", "line 1: a disk line is 'disk NUMBER PRESET size=SIZE ...'"},
      {"disk 1 bot product=x\n", "line 1: a disk needs size="},
      {"disk 1 bot size=12Q\n", "line 1: size '12Q' is not a size"},
      {"disk 1 bot size=1M\n", "line 1: a disk holds 16M to 256T"},
      {"disk 1 bot size=1G colour=red\n", "line 1: unknown key 'colour'"},
      {"disk 1 bot size=1G size=2G\n", "line 1: key 'size' is given twice"},
      {"disk 1 bot size=1G product=\"Open\n", "line 1: a quote is not closed"},
      {"disk 1 bot size=1G bridge=magic\n", "line 1: unknown bridge 'magic'"},
      {"disk 1 bot size=1G table=apm\n", "line 1: table 'apm' is not gpt or mbr"},
      {"disk 1 bot size=1G trim=maybe\n", "line 1: trim 'maybe' is not yes or no"},
      {"disk 1 bot size=1G speed=warp\n", "line 1: unknown speed 'warp'"},
      {"disk 1 bot size=1G speed=steady cache=1G\n", "line 1: speed steady has no cache"},
      {"disk 1 bot size=1G write-mbps=100\n", "line 1: write-mbps needs a speed other than instant"},
      {"disk 1 bot size=1G speed=steady read-mbps=0\n", "line 1: read-mbps '0' is not 1 to 100000"},
      {disk + disk, "line 2: disk 1 is given twice (first on line 1)"},
      {disk + "volume EF\n", "line 2: volume letter 'EF' is not one letter A to Z"},
      {disk + "volume E fs=hfs\n", "line 2: file system 'hfs' is not ntfs, exfat, fat32 or raw"},
      {disk + "volume E size=65G\n", "line 2: volume E (65G at 1M) does not fit on disk 1 of 64G"},
      {disk + "volume E size=1G\nvolume F offset=512M size=1G\n", "line 3: volume F overlaps volume E (line 2)"},
      {disk + "volume E\nvolume F\n", "line 3: no room is left on disk 1"},
      {disk + "volume E\ndisk 2 uas size=64G\nvolume e\n", "line 4: letter E is given twice (first on line 2)"},
      {disk + "volume E cluster=3K\n", "line 2: cluster '3K' is not a power of two"},
      {"disk 1 uas size=64G bridge=uas-4k\nvolume E size=6K\n", "line 2: size 6K is not whole blocks of 4096"},
      {disk + "volume E offset=1000\n", "line 2: offset 1000 is not on a whole block"},
      {disk + "volume E fs=ntfs extra\n", "line 2: 'extra' is not a key=value pair"},
  };
  for (const auto& c : cases) {
    SimMachinePlan plan;
    std::string error;
    EXPECT_FALSE(ParseMachineText(c.text, &plan, &error)) << c.text;
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text;
  }
}

TEST(SimMachineText, TheBuiltInMachineHasItsFiveDisksAsDiscoverySeesThem) {
  ScopedSimMachine m;
  std::string error;
  ASSERT_TRUE(BuildMachineFromText(*m, BuiltInMachineText(), &error)) << error;
  EXPECT_EQ(m->Storage().Disks().size(), 5u);

  TDiskEnumerator en(nullptr);
  TDiskInfoArray disks;
  en.Enumerate(disks);
  EXPECT_EQ(TDiskEnumerator::GetSystemDiskNumber(), 0);
  // The system disk is internal and the hard disk is left out by its seek penalty: the three
  // USB SSDs are listed.
  ASSERT_EQ(disks.size(), 3u);
  const struct {
    int number;
    TTransportKind transport;
    std::string fileSystem;
    uint32_t blockBytes;
  } expected[] = {
      {1, TTransportKind::tkBOT, "exFAT", 512},
      {2, TTransportKind::tkUAS, "NTFS", 512},
      {3, TTransportKind::tkUAS, "FAT32", 4096},
  };
  for (size_t i = 0; i < disks.size(); i++) {
    const TDiskInfo& d = disks[i];
    SCOPED_TRACE(d.DevicePath);
    EXPECT_EQ(d.DiskNumber, expected[i].number);
    EXPECT_EQ(d.Transport, expected[i].transport);
    EXPECT_EQ(d.Media, TMediaKind::mkSSD);
    EXPECT_FALSE(d.SystemCritical);
    ASSERT_EQ(d.Volumes.size(), 1u);
    EXPECT_EQ(d.Volumes[0].FileSystem, expected[i].fileSystem);
    EXPECT_EQ(d.Volumes[0].PartitionOffset, 1048576);
    HANDLE h = TDiskEnumerator::OpenDevice(d.DevicePath, 0);
    uint64_t size = 0;
    uint32_t block = 0;
    EXPECT_TRUE(TDiskEnumerator::QueryGeometry(h, size, block));
    EXPECT_EQ(block, expected[i].blockBytes);
    Win().CloseHandle(h);

    // The file system is on the disk's sectors: it mounts again from them, with room on it.
    const char letter = d.Volumes[0].DriveLetter[0];
    std::string why;
    EXPECT_TRUE(MountVolume(m->Storage(), letter, &why)) << why;
    auto fs = FsState(m->Storage(), letter);
    ASSERT_TRUE(fs);
    EXPECT_GT(fs->FreeClusters(), fs->clusters / 2);
  }
  // The drives keep the time their speed profiles say.
  EXPECT_EQ(m->Storage().Disk(2)->drive.Speed().cacheBytes, 12 * kGiB);
  EXPECT_EQ(m->Storage().Disk(1)->drive.Speed().name, SimDriveSpeed::BotEnclosure().name);
  HANDLE hdd = TDiskEnumerator::OpenDevice("\\\\.\\PhysicalDrive4", 0);
  TMediaKind media = TMediaKind::mkUnknown;
  std::string reason;
  en.DetectMediaKind(hdd, "\\\\.\\PhysicalDrive4", media, reason);
  EXPECT_EQ(media, TMediaKind::mkHDD) << reason;
  Win().CloseHandle(hdd);
}

TEST(SimMachineText, ABuildThatCannotBeMadeNamesTheLine) {
  ScopedSimMachine m;
  std::string error;
  // An exFAT volume needs room for its tables and a few clusters.
  EXPECT_FALSE(
      BuildMachineFromText(*m, "disk 1 bot size=16M\n\nvolume E fs=exfat size=256K cluster=64K\n", &error));
  EXPECT_EQ(error.substr(0, 40), "line 3: exFAT cannot be made on volume E");
  EXPECT_FALSE(BuildMachineFromText(*m, "disk 1 uas size=1G\n", &error));
  EXPECT_EQ(error, "line 1: the machine has a disk 1 already");
}

TEST(SimMachineText, AVolumeItsDisksPartitionTableCannotHoldIsRefused) {
  const struct {
    const char* Text;
    int Line;
  } Cases[] = {
      {"disk 1 uas size=2G table=mbr\nvolume E size=64M\nvolume F size=64M\nvolume G size=64M\n"
       "volume H size=64M\nvolume I size=64M\n",
       6},                                                                   // MBR: four slots
      {"disk 1 uas size=2G\nvolume E offset=512 size=64M\n", 2},             // over the GPT header
      {"disk 1 uas size=3T table=mbr\nvolume E offset=2200G size=1G\n", 2},  // past MBR's 2 TiB
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    ScopedSimMachine m;
    std::string error;
    EXPECT_FALSE(BuildMachineFromText(*m, C.Text, &error));
    EXPECT_EQ(error.rfind("line " + std::to_string(C.Line) + ": the partition table of disk 1 cannot hold", 0), 0u)
        << error;
  }
}

}  // namespace
